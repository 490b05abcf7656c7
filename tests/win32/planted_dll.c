/* A DLL planted beside a program under the name of a system DLL (KT_PLANTED_NAME): whatever loads it
   appends that name to the file the environment's KT_PLANTED_MARKER names. It exports nothing, so a
   program that imports the real DLL's functions from it cannot even start. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  wchar_t marker[1024];
  DWORD length;
  HANDLE file;
  DWORD written;
  (void)instance;
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  length = GetEnvironmentVariableW(L"KT_PLANTED_MARKER", marker, 1024);
  if (length == 0 || length >= 1024) return TRUE;
  file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    WriteFile(file, KT_PLANTED_NAME "\n", sizeof(KT_PLANTED_NAME "\n") - 1, &written, NULL);
    CloseHandle(file);
  }
  return TRUE;
}
