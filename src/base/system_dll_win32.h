#pragma once

#include <windows.h>

#include <string>

namespace kt::win32 {

// A DLL of Windows' own that is not a KnownDLL (hid, bcrypt, cfgmgr32, winmm): the loader would look for
// such a DLL beside the program before System32, so a copy planted there (a Downloads folder) would run
// inside the program. It is therefore never imported statically, only loaded from System32 by this.
class SystemDll {
 public:
  explicit SystemDll(const wchar_t* name);
  ~SystemDll();
  SystemDll(const SystemDll&) = delete;
  SystemDll& operator=(const SystemDll&) = delete;

  // Sets `function` to the export `name`, or to null; false when the DLL or the export is missing, and
  // the first such failure is kept for failure().
  template <typename Function>
  bool Bind(Function& function, const char* name) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(Find(name)));
    return function != nullptr;
  }

  // True while the DLL is loaded and every Bind found its export.
  bool ok() const { return code_ == ERROR_SUCCESS; }
  // The first failure: the call that failed, naming the DLL and the export ("GetProcAddress hid.dll
  // HidP_GetCaps"), and the system's code for it.
  const std::string& failedOperation() const { return operation_; }
  DWORD failureCode() const { return code_; }

 private:
  FARPROC Find(const char* name);

  HMODULE module_;
  std::string name_;
  std::string operation_;
  DWORD code_ = ERROR_SUCCESS;
};

// The functions a table `Functions` takes from one system DLL: the table names its DLL (a static `kDll`)
// and binds its members (`bool Bind(SystemDll&)`). Loaded on first use and kept for the life of the
// process, as a static import would be: a worker still inside one of its functions when the program ends
// must not find the code unmapped under it. Null when the DLL or one of the functions is missing; `dll`,
// if given, is then set to the DLL that says which.
template <typename Functions>
const Functions* LoadSystemFunctions(const SystemDll** dll = nullptr) {
  struct Loaded {
    SystemDll dll{Functions::kDll};
    Functions functions;
  };
  static const Loaded* const loaded = [] {
    auto* fresh = new Loaded;  // never deleted, see above
    fresh->functions.Bind(fresh->dll);
    return fresh;
  }();
  if (dll != nullptr) *dll = &loaded->dll;
  return loaded->dll.ok() ? &loaded->functions : nullptr;
}

}  // namespace kt::win32
