#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "hid/linux/unique_fd.h"
#include "hid/sim/linux/board_transport.h"

namespace kt {

// The board over /dev/uhid: a HID device with no USB underneath. Every plug is a UHID_CREATE2 and every
// unplug a UHID_DESTROY, so the kernel and udev announce both as for a real device; the host's opening
// and closing of the node arrive as UHID_OPEN and UHID_CLOSE.
class UhidTransport final : public BoardTransport {
 public:
  // `uniq` tells this board's node from other boards' (several boards may run side by side).
  UhidTransport(std::vector<std::uint8_t> reportDescriptor, std::string uniq,
                std::string devicePath = "/dev/uhid");
  ~UhidTransport() override;

  std::string Name() const override { return "uhid"; }
  bool Plug(std::uint16_t productId, std::string& error) override;
  void Unplug() override;
  int EventFd() const override { return fd_.Get(); }
  HostEvent Receive() override;
  bool Send(std::span<const std::uint8_t> report, std::uint32_t timeoutMs, std::string& error) override;
  bool SeesHostHandles() const override { return true; }

 private:
  bool WriteEvent(const void* event, std::size_t length, std::string& error);

  std::vector<std::uint8_t> reportDescriptor_;
  std::string uniq_;
  std::string devicePath_;
  UniqueFd fd_;
  std::mutex writeMutex_;  // answers come from the answer thread, create and destroy from the main one
  bool created_ = false;
};

}  // namespace kt
