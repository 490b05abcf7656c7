#include "app/win32/windows_api.h"
#include "app/win32/write_eeprom_app.h"
#include "base/program_start.h"

// The one application object, built before the program starts, as the framework's always was.
kt::CKT701xWriteEepromMPApp theApp;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  theApp.SetArguments(kt::StartProgram(__argc, __argv));
  theApp.InitInstance();
  return theApp.ExitStatus();
}
