#include "hid/sim/linux/kernel_board.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/clock.h"
#include "hid/chip_registers.h"

namespace kt {
namespace {

constexpr char kDescriptorTag[] = "KTHIDTag";
constexpr std::uint8_t kEndCollection = 0xC0;
constexpr std::uint8_t kCollection = 0xA0;
constexpr std::uint32_t kAnswerWaitMs = 1000;

std::string Ids(std::uint16_t productId) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X:%04X", kKtVendorId, productId);
  return text;
}

}  // namespace

std::vector<std::uint8_t> ImageReportDescriptor(std::span<const std::uint8_t> image) {
  const std::string_view tag(kDescriptorTag);
  const auto found = std::search(image.begin(), image.end(), tag.begin(), tag.end());
  if (found == image.end()) return {};
  const std::size_t start = static_cast<std::size_t>(found - image.begin()) + tag.size();
  // Short items only: a prefix byte whose low two bits give 0, 1, 2 or 4 data bytes.
  int depth = 0;
  for (std::size_t at = start; at < image.size();) {
    const std::uint8_t prefix = image[at];
    const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
    const std::uint8_t item = prefix & 0xFC;
    at += 1 + size;
    if (at > image.size()) break;  // an item whose data runs past the image's end
    if (item == kCollection) ++depth;
    if (item == kEndCollection && --depth == 0) {
      return {image.begin() + static_cast<std::ptrdiff_t>(start),
              image.begin() + static_cast<std::ptrdiff_t>(at)};
    }
    if (depth < 0) break;
  }
  return {};
}

KernelBoard::KernelBoard(SimBoard& board, BoardTransport& transport, ReportTrace* log, std::ostream& status,
                         std::uint32_t letGoMs)
    : board_(board), transport_(transport), log_(log), status_(status), letGoMs_(letGoMs) {
  // The board calls this from inside Receive, CloseHandle, Unplug and Plug, all on the main loop's
  // thread; the loop acts on it once the call has returned.
  board_.SetDeviceChangeListener(
      [this](const DeviceChange& change) { (change.arrived ? pluggedIn_ : unplugged_) = true; });
}

KernelBoard::~KernelBoard() {
  StopAnswers();
  board_.SetDeviceChangeListener(nullptr);
}

void KernelBoard::Status(const std::string& text) {
  status_ << "kt7310-board: " << text << "\n" << std::flush;
  if (log_ != nullptr) log_->Event("board: " + text);
}

void KernelBoard::OpenBoardHandle() {
  if (handle_ != 0) return;
  handle_ = board_.OpenHandle(true);
  if (handle_ == 0) return;
  lastRequestMicros_ = SystemClock().NowMicros();
  stopAnswers_ = false;
  answers_ = std::thread([this, handle = handle_] { ServeAnswers(handle); });
}

void KernelBoard::CloseBoardHandle() {
  if (handle_ == 0) return;
  StopAnswers();
  // After an erase this may re-plug the board: the listener records it for the loop.
  board_.CloseHandle(std::exchange(handle_, 0));
}

void KernelBoard::StopAnswers() {
  if (!answers_.joinable()) return;
  stopAnswers_ = true;
  board_.CancelRead(handle_);
  answers_.join();
}

void KernelBoard::ServeAnswers(std::uint64_t handle) {
  std::uint8_t answer[64];
  while (!stopAnswers_) {
    const HidReadResult got = board_.Deliver(handle, answer, sizeof answer, kAnswerWaitMs);
    if (got.status == HidReadResult::Status::kFailed) return;  // the handle is closed
    if (got.status != HidReadResult::Status::kCompleted || stopAnswers_) continue;
    if (log_ != nullptr) log_->Report(TraceDirection::kIn, answer, got.byteCount);
    std::string error;
    if (!transport_.Send({answer, got.byteCount}, kSendTimeoutMs, error)) Status("answer dropped: " + error);
  }
}

bool KernelBoard::ApplyPlugChanges() {
  if (unplugged_.exchange(false)) {
    // The board's own handles died with the plug session; the host's go with the device.
    StopAnswers();
    if (handle_ != 0) board_.CloseHandle(std::exchange(handle_, 0));
    transport_.Unplug();
    Status("unplugged");
  }
  if (pluggedIn_.exchange(false) && board_.plugged()) {
    std::string error;
    if (!transport_.Plug(board_.productId(), error)) {
      Status("cannot plug in: " + error);
      return false;
    }
    Status("plugged in as " + Ids(board_.productId()) + " on " + transport_.Name());
    // Without news of the host's handles, the board serves the host for the whole plug session.
    if (!transport_.SeesHostHandles()) OpenBoardHandle();
  }
  return true;
}

int KernelBoard::Run(int signalFd) {
  if (board_.plugged()) pluggedIn_ = true;
  if (!ApplyPlugChanges()) return 1;
  for (;;) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {transport_.EventFd(), POLLIN, 0}};
    const nfds_t count = fds[1].fd >= 0 ? 2 : 1;
    int timeoutMs = -1;
    const bool waitingToLetGo = !transport_.SeesHostHandles() && handle_ != 0 && board_.erasedThisSession();
    if (waitingToLetGo) {
      const std::uint64_t idleMs = (SystemClock().NowMicros() - lastRequestMicros_) / 1000;
      timeoutMs = static_cast<int>(idleMs >= letGoMs_ ? 0 : letGoMs_ - idleMs);
    }
    const int ready = ::poll(fds, count, timeoutMs);
    if (ready < 0 && errno != EINTR) {
      Status(std::string("poll: ") + std::strerror(errno));
      return 1;
    }
    if (ready == 0 && waitingToLetGo) {
      Status("no request since the erase: taking the host as having let go");
      CloseBoardHandle();
    }
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      signalfd_siginfo signal{};
      if (::read(signalFd, &signal, sizeof signal) == static_cast<ssize_t>(sizeof signal)) {
        if (signal.ssi_signo == SIGUSR1) {
          Status("re-plug asked for");
          board_.Unplug();
          board_.Plug();
        } else {
          Status("stopping");
          StopAnswers();
          transport_.Unplug();
          return 0;
        }
      }
    }
    if (ready > 0 && count > 1 && (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
      HostEvent event = transport_.Receive();
      switch (event.kind) {
        case HostEvent::Kind::kOpened:
          OpenBoardHandle();
          break;
        case HostEvent::Kind::kClosed:
          CloseBoardHandle();
          break;
        case HostEvent::Kind::kOutput:
          lastRequestMicros_ = SystemClock().NowMicros();
          if (log_ != nullptr) log_->Report(TraceDirection::kOut, event.report.data(), event.report.size());
          if (handle_ == 0 || !board_.Receive(handle_, event.report.data(), event.report.size())) {
            if (board_.plugged())
              Status("output report of " + std::to_string(event.report.size()) + " bytes refused");
          }
          break;
        case HostEvent::Kind::kFailed:
          Status(event.error);
          return 1;
        case HostEvent::Kind::kNone:
          break;
      }
    }
    if (!ApplyPlugChanges()) return 1;
  }
}

}  // namespace kt
