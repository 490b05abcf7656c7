#include <windows.h>

#include <random>

#include "base/atomic_file.h"
#include "base/file_handle_win32.h"
#include "base/system_error_win32.h"
#include "base/utf8_path_win32.h"

namespace kt {
namespace {

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

// The folder `path` lies in, in a form GetFileAttributesW takes: with its separator, so that a root
// ("C:\") stays one; "C:" for "C:name", which is relative to the drive's current folder.
std::string FolderOf(const std::string& path) {
  const std::size_t last = path.find_last_of("\\/");
  if (last != std::string::npos) return path.substr(0, last + 1);
  return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
}

// A name nobody can have guessed in advance, so that nothing planted there can be opened for us: the file
// is created new (CREATE_NEW) and a name that exists already is never written through.
std::wstring TemporaryName(const std::wstring& target) {
  static thread_local std::random_device random;
  std::wstring name = target + L".tmp-";
  for (int word = 0; word < 2; ++word) {
    const std::uint32_t value = random();
    for (int shift = 28; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(value >> shift) & 0xF];
  }
  return name;
}

// A name that names no file yet: its folder must exist and be a folder to take it.
bool CheckFolderOf(const std::string& path, std::string& error) {
  const std::string folder = FolderOf(path);
  const DWORD attributes = GetFileAttributesW(win32::WidePath(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = path + ": its folder " + folder + " cannot be used (" +
            win32::LastErrorText("GetFileAttributesW") + ")";
    return false;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = path + ": " + folder + " is not a folder";
    return false;
  }
  return true;
}

// The target as a full path: the temporary file then lies in the target's folder whatever the current
// folder does meanwhile, and ReplaceFileW gets what every implementation takes (Wine's refuses a bare file
// name with "The directory name is invalid").
std::wstring FullPath(const std::wstring& path) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return path;
  full.resize(length);
  return full;
}

bool WriteAll(HANDLE file, const std::uint8_t* data, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    DWORD wrote = 0;
    const DWORD piece = length - done > 0x10000000u ? 0x10000000u : static_cast<DWORD>(length - done);
    if (!WriteFile(file, data + done, piece, &wrote, nullptr)) return false;
    if (wrote == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += wrote;
  }
  return true;
}

}  // namespace

bool CheckReplaceableFile(const std::string& path, std::string& error) {
  if (path.empty() || EndsWithSeparator(path)) {
    error = path + ": not a file name";
    return false;
  }
  if (win32::IsDevicePath(path)) {
    error = path + ": not a regular file (a device)";
    return false;
  }
  // No access asked: the handle only lets the file be looked at. Backup semantics opens a folder too, so
  // that it is refused as a folder.
  win32::FileHandle file(CreateFileW(win32::WidePath(path).c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file) {
    error = win32::NotRegularReason(file.get());
    if (error.empty()) return true;
    error = path + ": " + error;
    return false;
  }
  const DWORD code = GetLastError();
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return CheckFolderOf(path, error);
  error = path + ": " + win32::ErrorText("CreateFileW", code);
  return false;
}

bool WriteFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t length,
                         std::string& error) {
  if (!CheckReplaceableFile(path, error)) return false;
  const std::wstring target = FullPath(win32::WidePath(path));
  std::wstring temporary;
  win32::FileHandle file;
  DWORD code = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 8 && !file; ++attempt) {
    temporary = TemporaryName(target);
    file = win32::FileHandle(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) break;
  }
  if (!file) {
    error = path + ": " + win32::ErrorText("CreateFileW " + win32::Utf8FromWide(temporary), code);
    return false;
  }
  const char* operation = nullptr;
  if (!WriteAll(file.get(), data, length)) {
    operation = "WriteFile";
  } else if (!FlushFileBuffers(file.get())) {
    operation = "FlushFileBuffers";
  } else if (!file.Close()) {
    operation = "CloseHandle";
  } else if (ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                          nullptr, nullptr)) {
    // The replaced file's attributes and security stay with the name.
    return true;
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
    operation = "ReplaceFileW";
  } else if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
    // Nothing to replace: a new file, its name on disk before the call returns.
    return true;
  } else {
    operation = "MoveFileExW";
  }
  code = GetLastError();
  file.Close();
  DeleteFileW(temporary.c_str());
  error = path + ": " + win32::ErrorText(operation, code);
  return false;
}

}  // namespace kt
