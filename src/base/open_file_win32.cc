#include "base/open_file.h"
#include "base/utf8_path_win32.h"

namespace kt {

std::FILE* OpenFile(const std::string& path, const char* mode) {
  // _wfopen opens through CreateFileW; the mode is ASCII.
  return _wfopen(win32::WidePath(path).c_str(), win32::WidePath(mode).c_str());
}

}  // namespace kt
