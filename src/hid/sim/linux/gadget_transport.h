#pragma once

#include <string>
#include <vector>

#include "hid/linux/unique_fd.h"
#include "hid/sim/linux/board_transport.h"

namespace kt {

// The board as a USB device: a configfs HID gadget bound to a USB device controller (dummy_hcd gives a
// virtual one per bus), so the host meets it through its real USB and usbhid stacks, with a USB port
// path and the vendor and product IDs a udev rule matches on. Plugging in binds the gadget to its
// controller, unplugging unbinds it; the product ID is set in between.
class GadgetTransport final : public BoardTransport {
 public:
  // `udc` empty: the first controller that takes the gadget. `name` names the gadget in configfs.
  GadgetTransport(std::vector<std::uint8_t> reportDescriptor, std::string name, std::string udc,
                  std::string configfsRoot = "/sys/kernel/config/usb_gadget", std::string sysRoot = "/sys",
                  std::string devRoot = "/dev");
  ~GadgetTransport() override;

  std::string Name() const override { return "USB gadget on " + (udc_.empty() ? std::string("?") : udc_); }
  bool Plug(std::uint16_t productId, std::string& error) override;
  void Unplug() override;
  int EventFd() const override { return hidg_.Get(); }
  HostEvent Receive() override;
  bool Send(std::span<const std::uint8_t> report, std::uint32_t timeoutMs, std::string& error) override;
  bool SeesHostHandles() const override { return false; }

 private:
  bool Build(std::string& error);
  void TearDown();
  bool Bind(std::string& error);
  bool OpenFunctionNode(std::string& error);

  std::vector<std::uint8_t> reportDescriptor_;
  std::string name_;
  std::string udc_;  // empty until the first plug-in when none was named
  std::string configfsRoot_;
  std::string sysRoot_;
  std::string devRoot_;
  std::string gadgetDir_;
  bool built_ = false;
  bool bound_ = false;
  UniqueFd hidg_;
};

}  // namespace kt
