#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/atomic_file.h"
#include "base/folder_linux.h"

namespace kt {
namespace {

std::string SystemText(int error) {
  return std::strerror(error);
}

// The mode a new file gets here: what the umask leaves of 0666. The umask can only be read by setting it;
// it is put back at once.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool CheckReplaceableFile(const std::string& path, std::string& error) {
  const std::string folder = FolderOf(path);
  struct stat info {};
  if (path.empty() || path.back() == '/') {
    error = path + ": names a folder, not a file";
    return false;
  }
  if (stat(folder.c_str(), &info) != 0) {
    error = path + ": its folder " + folder + " cannot be used (" + SystemText(errno) + ")";
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    error = path + ": " + folder + " is not a folder";
    return false;
  }
  if (access(folder.c_str(), W_OK | X_OK) != 0) {
    error = path + ": no file can be created in " + folder + " (" + SystemText(errno) + ")";
    return false;
  }
  if (lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return true;
    error = path + ": " + SystemText(errno);
    return false;
  }
  // A link would be replaced by a file of its own, not written through: say so rather than do either.
  if (S_ISLNK(info.st_mode)) {
    error = path + ": is a symbolic link; name the file itself";
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = path + (S_ISDIR(info.st_mode) ? ": is a folder" : ": exists and is not a regular file");
    return false;
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t length,
                         std::string& error) {
  if (!CheckReplaceableFile(path, error)) return false;
  struct stat old {};
  const mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : NewFileMode();
  // A name nobody can guess, created exclusively: a link or file planted beside the target is never
  // written through.
  std::string temporary = path + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    error = path + ": no file can be created beside it (" + SystemText(errno) + ")";
    return false;
  }
  std::size_t done = 0;
  bool ok = fchmod(fd, mode) == 0;
  while (ok && done < length) {
    const ssize_t wrote = write(fd, data + done, length - done);
    if (wrote < 0 && errno == EINTR) continue;
    ok = wrote > 0;
    if (ok) done += static_cast<std::size_t>(wrote);
  }
  ok = ok && fsync(fd) == 0;
  int savedErrno = errno;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temporary.c_str(), path.c_str()) == 0) {
    if (SyncFolderOf(path)) return true;
    savedErrno = errno;
    error = path + ": written, but its folder could not be synced (" + SystemText(savedErrno) + ")";
    return false;
  }
  if (ok) savedErrno = errno;
  error = path + ": " + SystemText(savedErrno == 0 ? EIO : savedErrno);
  unlink(temporary.c_str());
  return false;
}

}  // namespace kt
