#include <windows.h>

#include <mutex>

#include "base/durable_append.h"

namespace kt {
namespace {

class Win32AppendFile final : public DurableAppendFile {
 public:
  explicit Win32AppendFile(HANDLE file) : file_(file) {}
  ~Win32AppendFile() override { CloseHandle(file_); }

  bool AppendLine(const std::string& line) override {
    const std::string text = line + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    DWORD wrote = 0;
    if (!WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) ||
        wrote != text.size()) {
      return false;
    }
    return FlushFileBuffers(file_) != 0;
  }

 private:
  HANDLE file_;
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<DurableAppendFile> DurableAppendFile::Open(const std::string& path, std::string& error) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end, whoever else appends.
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = path + ": cannot be opened for appending (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  return std::make_unique<Win32AppendFile>(file);
}

}  // namespace kt
