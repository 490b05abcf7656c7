#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace kt {

// The folder a path names a file in ("." for a bare name).
inline std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A new or renamed name is on disk only once its folder is.
inline bool SyncFolderOf(const std::string& path) {
  const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = folder >= 0 && fsync(folder) == 0;
  if (folder >= 0) close(folder);
  return synced;
}

}  // namespace kt
