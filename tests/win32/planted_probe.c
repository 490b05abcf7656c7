/* Loads each DLL named on its command line by its bare name, as a careless program would, so that the
   planted-DLL check can show its plant is taken where nothing guards against it. */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  int i;
  for (i = 1; i < argc; ++i) LoadLibraryW(argv[i]);
  return 0;
}
