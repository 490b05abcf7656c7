#include "app/cli/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace kt {

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}
bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

void PrepareStandardStreams() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Read-only on purpose: a write to the stand-in fails (EBADF) and the run reports it.
    const int standIn = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (standIn >= 0 && standIn != fd) {
      dup2(standIn, fd);
      close(standIn);
    }
  }
}

void SetStdoutBinary() {}

namespace {

class PollPrompt final : public EnterPrompt {
 public:
  PollPrompt() {
    if (pipe2(cancel_, O_CLOEXEC | O_NONBLOCK) != 0) cancel_[0] = cancel_[1] = -1;
  }
  ~PollPrompt() override {
    for (const int fd : cancel_) {
      if (fd >= 0) close(fd);
    }
  }

  bool WaitForEnter() override {
    for (;;) {
      if (cancelled_.load()) return false;
      pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {cancel_[0], POLLIN, 0}};
      const int ready = poll(fds, cancel_[0] >= 0 ? 2 : 1, -1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0 || (fds[1].revents & POLLIN) != 0) return false;
      if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char chunk[256];
      const ssize_t got = read(STDIN_FILENO, chunk, sizeof(chunk));
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) return false;
      for (ssize_t k = 0; k < got; ++k) {
        if (chunk[k] == '\n' || chunk[k] == '\r') return true;
      }
    }
  }

  void Cancel() override {
    cancelled_.store(true);
    const char byte = 1;
    if (cancel_[1] >= 0) (void)!write(cancel_[1], &byte, 1);
  }

 private:
  int cancel_[2] = {-1, -1};
  std::atomic<bool> cancelled_{false};
};

}  // namespace

std::unique_ptr<EnterPrompt> OpenStdinPrompt() {
  return std::make_unique<PollPrompt>();
}

}  // namespace kt
