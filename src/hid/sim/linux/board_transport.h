#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kt {

// What the host did to the board, as the kernel tells the device side.
struct HostEvent {
  enum class Kind {
    kNone,    // nothing the board has to act on (a start or stop notice, a request answered here)
    kOpened,  // the host opened the device (first handle)
    kClosed,  // the host closed its last handle
    kOutput,  // an output report, in `report`
    kFailed,  // the kernel side is gone or answered with an error; `error` says why
  };
  Kind kind = Kind::kNone;
  // The output report as the board's USB side takes it: report-ID byte 0 first, then the 16 data bytes.
  std::vector<std::uint8_t> report;
  std::string error;
};

// The kernel's device side of one board: a uhid device, or a USB gadget on a (dummy) device controller.
// The board program drives it from one thread; only Send may be called from another one.
class BoardTransport {
 public:
  virtual ~BoardTransport() = default;

  virtual std::string Name() const = 0;
  // Presents the board to the host under this product ID (vendor 0x3B7D), with `reportDescriptor`.
  virtual bool Plug(std::uint16_t productId, std::string& error) = 0;
  // Takes the board off the bus; a no-op while unplugged.
  virtual void Unplug() = 0;
  // Readable when Receive has something; -1 while there is nothing to wait on.
  virtual int EventFd() const = 0;
  virtual HostEvent Receive() = 0;
  // One input report; `report` starts with the report-ID byte, which the transport leaves out for a
  // board without report IDs. Waits at most `timeoutMs` for the host to take it; false when it did not.
  virtual bool Send(std::span<const std::uint8_t> report, std::uint32_t timeoutMs, std::string& error) = 0;
  // True when the host's opening and closing of the device reach the board (uhid). A USB gadget never
  // learns that the host has let go of it.
  virtual bool SeesHostHandles() const = 0;
};

}  // namespace kt
