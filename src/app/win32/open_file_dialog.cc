#include "app/win32/open_file_dialog.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "app/write_eeprom_dialog.h"

namespace kt {

std::string ToOpenFileNameFilter(const std::string& barFilter) {
  std::string filter = barFilter;
  std::replace(filter.begin(), filter.end(), '|', '\0');
  // A filter without the closing double bar must still end the list.
  while (filter.size() < 2 || filter[filter.size() - 1] != '\0' || filter[filter.size() - 2] != '\0') {
    filter.push_back('\0');
  }
  return filter;
}

std::optional<std::string> ShowOpenFileDialog(HWND owner, const std::string& barFilter) {
  const std::string filter = ToOpenFileNameFilter(barFilter);
  std::vector<char> path(kBrowsePathLimit, '\0');
  OPENFILENAMEA request{};
  request.lStructSize = sizeof(request);
  request.hwndOwner = owner;
  request.lpstrFilter = filter.c_str();
  request.lpstrFile = path.data();
  request.nMaxFile = static_cast<DWORD>(path.size());
  request.Flags = OFN_EXPLORER | OFN_NONETWORKBUTTON;
  if (!GetOpenFileNameA(&request)) return std::nullopt;
  return std::string(path.data());
}

}  // namespace kt
