#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/atomic_file.h"

namespace kt {

bool WriteFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t length,
                         std::string& error) {
  const std::string temporary = path + ".tmp-" + std::to_string(getpid());
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = temporary + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < length) {
    const ssize_t wrote = write(fd, data + done, length - done);
    if (wrote < 0 && errno == EINTR) continue;
    ok = wrote > 0;
    if (ok) done += static_cast<std::size_t>(wrote);
  }
  ok = ok && fsync(fd) == 0;
  const int savedErrno = errno;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temporary.c_str(), path.c_str()) == 0) return true;
  error = path + ": " + std::strerror(ok ? errno : savedErrno);
  unlink(temporary.c_str());
  return false;
}

}  // namespace kt
