#include "base/system_dll_win32.h"

#include "base/utf8_path_win32.h"

namespace kt::win32 {

SystemDll::SystemDll(const wchar_t* name)
    : module_(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)), name_(Utf8FromWide(name)) {
  if (module_ == nullptr) {
    code_ = GetLastError();
    operation_ = "LoadLibraryExW " + name_ + " from System32";
  }
}

SystemDll::~SystemDll() {
  if (module_ != nullptr) FreeLibrary(module_);
}

FARPROC SystemDll::Find(const char* name) {
  if (module_ == nullptr) return nullptr;
  const FARPROC found = GetProcAddress(module_, name);
  if (found == nullptr && ok()) {
    code_ = GetLastError();
    if (code_ == ERROR_SUCCESS) code_ = ERROR_PROC_NOT_FOUND;
    operation_ = "GetProcAddress " + name_ + " " + name;
  }
  return found;
}

}  // namespace kt::win32
