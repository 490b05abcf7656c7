#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/regular_file.h"

namespace kt {

bool ReadRegularFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes,
                     std::string& error) {
  bytes.clear();
  // O_NONBLOCK: opening a FIFO with no writer would wait for one; the type is looked at before any read.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    error = path + ": cannot be read (" + std::strerror(errno) + ")";
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = path + (S_ISDIR(info.st_mode) ? ": is a folder, not a file" : ": is not a regular file");
    close(fd);
    return false;
  }
  bytes.resize(limit + 1);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = path + ": cannot be read (" + std::strerror(errno) + ")";
      close(fd);
      return false;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  close(fd);
  bytes.resize(done);
  return true;
}

}  // namespace kt
