#pragma once

#include <string>
#include <vector>

namespace kt {

// The application object of the Windows program, in place of the framework's CWinApp: one global
// object whose InitInstance is the whole program.
class CKT701xWriteEepromMPApp {
 public:
  CKT701xWriteEepromMPApp() = default;
  virtual ~CKT701xWriteEepromMPApp() = default;

  // The command line without the program's name. Only `--simulate[=OPTIONS]` is looked at.
  void SetArguments(std::vector<std::string> args) { args_ = std::move(args); }

  // Common controls, the single-instance rule, the modal run of the main dialog (or the station window
  // with --station), teardown. Returns false in every case: the program ends when it returns, with no
  // message loop of its own.
  virtual bool InitInstance();
  // What the program ends with: the station's exit status after a station window, else 0.
  int ExitStatus() const { return exitStatus_; }

 private:
  std::vector<std::string> args_;
  int exitStatus_ = 0;
};

}  // namespace kt
