#include "app/win32/app_name.h"

#include <vector>

#include "app/win32/windows_api.h"

namespace kt {

std::string ApplicationNameFromPath(const std::string& modulePath) {
  const std::size_t slash = modulePath.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? modulePath : modulePath.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot != 0) name.resize(dot);
  return name;
}

std::string ApplicationName() {
  // Paths may exceed MAX_PATH; grow until the whole name fits.
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::string();
    if (length < path.size()) return ApplicationNameFromPath(std::string(path.data(), length));
    path.resize(path.size() * 2);
  }
}

}  // namespace kt
