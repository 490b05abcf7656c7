#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "base/durable_append.h"

namespace kt {
namespace {

class PosixAppendFile final : public DurableAppendFile {
 public:
  explicit PosixAppendFile(int fd) : fd_(fd) {}
  ~PosixAppendFile() override { close(fd_); }

  bool AppendLine(const std::string& line) override {
    const std::string text = line + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t wrote = write(fd_, text.data() + done, text.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) return false;
      done += static_cast<std::size_t>(wrote);
    }
    return fdatasync(fd_) == 0;
  }

 private:
  int fd_;
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<DurableAppendFile> DurableAppendFile::Open(const std::string& path, std::string& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<PosixAppendFile>(fd);
}

}  // namespace kt
