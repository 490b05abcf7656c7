#include <cstdlib>
#include <string>
#include <vector>

#include "app/win32/windows_api.h"
#include "app/win32/write_eeprom_app.h"

// The one application object, built before the program starts, as the framework's always was.
kt::CKT701xWriteEepromMPApp theApp;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::vector<std::string> args;
  for (int i = 1; i < __argc; ++i) args.emplace_back(__argv[i]);
  theApp.SetArguments(std::move(args));
  theApp.InitInstance();
  return 0;
}
