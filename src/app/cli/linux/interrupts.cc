#include "app/cli/interrupts.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

namespace kt {
namespace {

// The handler only writes the signal's number to a pipe; the watch's thread does the rest.
std::atomic<int> gSignalPipe{-1};

void OnSignal(int signal) {
  const int saved = errno;
  const int fd = gSignalPipe.load();
  const char byte = static_cast<char>(signal);
  if (fd >= 0) (void)!write(fd, &byte, 1);
  errno = saved;
}

constexpr char kStopByte = 0;

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

class SignalPipeInterrupts final : public InterruptWatch::Impl {
 public:
  explicit SignalPipeInterrupts(std::function<void()> onInterrupt) : onInterrupt_(std::move(onInterrupt)) {
    if (pipe2(fds_, O_CLOEXEC) != 0) return;
    // Only the watch's thread takes the signals. A thread parked elsewhere (a worker waiting for work)
    // could otherwise be the one the kernel picks, and some runtimes (the thread sanitizer's) hold a
    // signal for a thread until that thread next leaves a call they count as blocking: the Ctrl-C would
    // then wait for work that never comes. The thread that makes the watch, and the threads it starts
    // while the watch lives, block them.
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, &callerMask_);
    gSignalPipe.store(fds_[1]);
    struct sigaction action = {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // SIGHUP: a terminal or SSH session that went away stops the job as SIGTERM does, instead of
    // killing it in the middle of the body.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    thread_ = std::thread([this] { Run(); });
    active_ = true;
  }

  ~SignalPipeInterrupts() override {
    if (!active_) {
      CloseFds();
      return;
    }
    // The handler stays: with the pipe gone it does nothing, so a second Ctrl-C while the run ends (its
    // summary, its status) cannot kill it and change the status it ends with.
    gSignalPipe.store(-1);
    const char stop = kStopByte;
    (void)!write(fds_[1], &stop, 1);
    thread_.join();
    CloseFds();
    // A signal that came after the thread had gone is taken now by the handler, which does nothing.
    pthread_sigmask(SIG_SETMASK, &callerMask_, nullptr);
  }

  bool active() const override { return active_; }

 private:
  void Run() {
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    for (;;) {
      // The thread waits in poll, not in read: a runtime that holds a signal until its thread leaves a
      // call it does not count as blocking (the thread sanitizer counts poll, not read) must still run
      // the handler while this thread waits for it.
      pollfd ready = {fds_[0], POLLIN, 0};
      if (poll(&ready, 1, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      char byte = 0;
      const ssize_t got = read(fds_[0], &byte, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0 || byte == kStopByte) return;
      onInterrupt_();
    }
  }

  void CloseFds() {
    for (int& fd : fds_) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
  }

  std::function<void()> onInterrupt_;
  int fds_[2] = {-1, -1};
  std::thread thread_;
  sigset_t callerMask_ = {};
  bool active_ = false;
};

std::unique_ptr<InterruptWatch::Impl> StartPlatformInterrupts(std::function<void()> onInterrupt) {
  return std::make_unique<SignalPipeInterrupts>(std::move(onInterrupt));
}

}  // namespace kt
