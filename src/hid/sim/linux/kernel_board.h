#pragma once

#include <atomic>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "hid/report_trace.h"
#include "hid/sim/linux/board_transport.h"
#include "hid/sim/sim_board.h"

namespace kt {

// The HID report descriptor the image carries after "KTHIDTag", up to the End Collection that closes its
// first top-level collection; empty when the image has none.
std::vector<std::uint8_t> ImageReportDescriptor(std::span<const std::uint8_t> image);

// A simulated board behind the kernel: output reports the host sends arrive through the transport and go
// to the board's USB side; the board's answers go back up through the transport, from a thread of their
// own that waits on the board. The board's plug state drives the transport: an unplug (unplug@N, or the
// re-plug after an erase) takes the device off the bus, a plug-in presents it again under the product
// ID the board's EEPROM now gives.
//
// The board re-plugs itself after an erase once the host has let go of it. uhid tells when the host
// closes its last handle. A USB gadget never learns that, so there the board takes `letGoMs` without a
// request after an erase as the host having let go.
class KernelBoard {
 public:
  static constexpr std::uint32_t kDefaultLetGoMs = 1500;
  // How long an answer waits for the host to poll for it before it is dropped (a host that has closed
  // the device never polls).
  static constexpr std::uint32_t kSendTimeoutMs = 1000;

  KernelBoard(SimBoard& board, BoardTransport& transport, ReportTrace* log, std::ostream& status,
              std::uint32_t letGoMs = kDefaultLetGoMs);
  ~KernelBoard();
  KernelBoard(const KernelBoard&) = delete;
  KernelBoard& operator=(const KernelBoard&) = delete;

  // Serves the host until SIGTERM or SIGINT arrives on `signalFd` (a signalfd); SIGUSR1 unplugs the
  // board and plugs it in again. Returns 0, or 1 when the kernel side failed.
  int Run(int signalFd);

 private:
  void OpenBoardHandle();
  void CloseBoardHandle();
  void StopAnswers();
  void ServeAnswers(std::uint64_t handle);
  bool ApplyPlugChanges();
  void Status(const std::string& text);

  SimBoard& board_;
  BoardTransport& transport_;
  ReportTrace* log_;
  std::ostream& status_;
  const std::uint32_t letGoMs_;

  std::uint64_t handle_ = 0;  // the board's USB-side handle for the host, 0 while the host has none
  std::thread answers_;
  std::atomic<bool> stopAnswers_{false};
  std::atomic<bool> unplugged_{false};  // set by the board's listener, acted on by the main loop
  std::atomic<bool> pluggedIn_{false};
  std::uint64_t lastRequestMicros_ = 0;
};

}  // namespace kt
