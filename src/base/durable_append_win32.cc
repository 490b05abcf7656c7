#include <windows.h>

#include <mutex>

#include "base/durable_append.h"
#include "base/file_handle_win32.h"
#include "base/system_error_win32.h"
#include "base/utf8_path_win32.h"

namespace kt {
namespace {

// Writes all of `length` bytes at the file's end, whatever its file pointer: the offset 0xFFFFFFFF'FFFFFFFF
// asks for the end, as FILE_APPEND_DATA alone would (which could not cut a failed line off again).
bool AppendAll(HANDLE file, const char* data, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD wrote = 0;
    const DWORD piece = length - done > 0x10000000u ? 0x10000000u : static_cast<DWORD>(length - done);
    if (!WriteFile(file, data + done, piece, &wrote, &atEnd)) return false;
    if (wrote == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += wrote;
  }
  return true;
}

bool CutTo(HANDLE file, const LARGE_INTEGER& length) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile = length;
  return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof(end)) && FlushFileBuffers(file);
}

class Win32AppendFile final : public DurableAppendFile {
 public:
  Win32AppendFile(win32::FileHandle file, std::string path)
      : file_(std::move(file)), path_(std::move(path)) {}

  bool AppendLine(const std::string& line, std::string& error) override {
    const std::string text = line + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    LARGE_INTEGER before{};
    if (!GetFileSizeEx(file_.get(), &before)) {
      error = path_ + ": " + win32::LastErrorText("GetFileSizeEx");
      return false;
    }
    const char* operation = nullptr;
    if (!AppendAll(file_.get(), text.data(), text.size())) {
      operation = "WriteFile";
    } else if (!FlushFileBuffers(file_.get())) {
      operation = "FlushFileBuffers";
    } else {
      return true;
    }
    error = path_ + ": " + win32::LastErrorText(operation);
    // A line is in the file whole or not at all: what arrived of it goes again.
    if (!CutTo(file_.get(), before)) {
      error += "; the part written could not be cut off (" +
               win32::LastErrorText("SetFileInformationByHandle") + ")";
    }
    return false;
  }

 private:
  win32::FileHandle file_;
  const std::string path_;
  std::mutex mutex_;
};

// Why `path`, which could not be opened, cannot be: a folder is named as one rather than with the
// system's "Access is denied".
std::string OpenFailure(const std::string& path, DWORD code) {
  const DWORD attributes = GetFileAttributesW(win32::WidePath(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return path + ": not a regular file (a folder)";
  }
  return path + ": cannot be opened for appending (" + win32::ErrorText("CreateFileW", code) + ")";
}

// A file whose last line was torn (the process killed inside a write) is given its line break, so that
// the next line starts on a line of its own.
bool EndLastLine(HANDLE file, std::string& error) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) {
    error = win32::LastErrorText("GetFileSizeEx");
    return false;
  }
  if (size.QuadPart == 0) return true;
  OVERLAPPED last{};
  last.Offset = static_cast<DWORD>(size.QuadPart - 1);
  last.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
  char byte = 0;
  DWORD got = 0;
  if (!ReadFile(file, &byte, 1, &got, &last)) {
    error = win32::LastErrorText("ReadFile");
    return false;
  }
  if (got == 1 && byte == '\n') return true;
  if (!AppendAll(file, "\n", 1) || !FlushFileBuffers(file)) {
    error = win32::LastErrorText("WriteFile");
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<DurableAppendFile> DurableAppendFile::Open(const std::string& path, std::string& error) {
  if (win32::IsDevicePath(path)) {
    error = path + ": not a regular file (a device)";
    return nullptr;
  }
  // Read access for the last byte, write access (not only FILE_APPEND_DATA) to cut a failed line off;
  // every line still goes to the end (AppendAll), one at a time (the object's mutex).
  win32::FileHandle file(CreateFileW(win32::WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = OpenFailure(path, GetLastError());
    return nullptr;
  }
  const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
  if (const std::string reason = win32::NotRegularReason(file.get()); !reason.empty()) {
    error = path + ": " + reason;
    return nullptr;
  }
  if (!EndLastLine(file.get(), error)) {
    error = path + ": " + error;
    return nullptr;
  }
  // Windows offers no flush of a folder: flushing the new file, its metadata with it, is as close as it
  // comes.
  if (created && !FlushFileBuffers(file.get())) {
    error = path + ": " + win32::LastErrorText("FlushFileBuffers");
    return nullptr;
  }
  return std::make_unique<Win32AppendFile>(std::move(file), path);
}

}  // namespace kt
