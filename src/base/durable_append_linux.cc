#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "base/durable_append.h"
#include "base/folder_linux.h"

namespace kt {
namespace {

// Writes all of `text` at the file's end in one call, or leaves the file as it was. Another process
// appending to the same file waits on the lock, so the cut never takes its line.
bool AppendWhole(int fd, const std::string& text, std::string& error) {
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  ssize_t wrote = -1;
  do {
    wrote = write(fd, text.data(), text.size());
  } while (wrote < 0 && errno == EINTR);
  int failure = wrote < 0 ? errno : (static_cast<std::size_t>(wrote) < text.size() ? ENOSPC : 0);
  if (failure == 0 && fdatasync(fd) != 0) failure = errno;
  if (failure != 0 && wrote > 0) {
    // O_APPEND left the offset at the end of what this write put there: the line began `wrote` before it.
    const off_t end = lseek(fd, 0, SEEK_CUR);
    if (end < wrote || ftruncate(fd, end - wrote) != 0 || fdatasync(fd) != 0) {
      error = std::string(std::strerror(failure)) + ", and the part written could not be taken back";
      flock(fd, LOCK_UN);
      return false;
    }
  }
  flock(fd, LOCK_UN);
  if (failure != 0) error = std::strerror(failure);
  return failure == 0;
}

class PosixAppendFile final : public DurableAppendFile {
 public:
  explicit PosixAppendFile(int fd) : fd_(fd) {}
  ~PosixAppendFile() override { close(fd_); }

  bool AppendLine(const std::string& line, std::string& error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return AppendWhole(fd_, line + "\n", error);
  }

 private:
  int fd_;
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<DurableAppendFile> DurableAppendFile::Open(const std::string& path, std::string& error) {
  // O_NONBLOCK: a FIFO must not hold the open waiting for a reader; the type is checked right after.
  constexpr int kFlags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  bool created = false;
  int fd = open(path.c_str(), kFlags);
  if (fd < 0 && errno == ENOENT) {
    fd = open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), kFlags);
  }
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = path + (S_ISDIR(info.st_mode) ? ": is a folder" : ": is not a regular file");
    close(fd);
    return nullptr;
  }
  // The new name is on disk only once its folder is.
  if (created && !SyncFolderOf(path)) {
    error = path + ": created, but its folder could not be synced (" + std::strerror(errno) + ")";
    close(fd);
    return nullptr;
  }
  // A last line cut off (a crash, a full disk before this version) is ended, so the next record starts
  // a line of its own.
  char last = '\n';
  if (info.st_size > 0 && pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n') {
    std::string why;
    if (!AppendWhole(fd, "\n", why)) {
      error = path + ": its torn last line cannot be ended (" + why + ")";
      close(fd);
      return nullptr;
    }
  }
  return std::make_unique<PosixAppendFile>(fd);
}

}  // namespace kt
