#include "hid/sim/linux/gadget_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "hid/chip_registers.h"
#include "hid/linux/system_error.h"

namespace kt {
namespace {

namespace fs = std::filesystem;

// The board's interrupt reports without the report-ID byte (the board has no report IDs).
constexpr std::size_t kGadgetReportLength = 32;
constexpr char kFunction[] = "functions/hid.usb0";
constexpr char kConfig[] = "configs/c.1";

bool WriteAttribute(const std::string& path, const std::string& value, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    error = SystemErrorMessage("open", path, errno);
    return false;
  }
  const ssize_t written = ::write(fd, value.data(), value.size());
  const int err = errno;
  ::close(fd);
  if (written == static_cast<ssize_t>(value.size())) return true;
  error = SystemErrorMessage("write", path, written < 0 ? err : EIO);
  return false;
}

std::string ReadAttribute(const std::string& path) {
  std::ifstream in(path);
  std::string value;
  std::getline(in, value);
  return value;
}

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", value);
  return text;
}

}  // namespace

GadgetTransport::GadgetTransport(std::vector<std::uint8_t> reportDescriptor, std::string name,
                                 std::string udc, std::string configfsRoot, std::string sysRoot,
                                 std::string devRoot)
    : reportDescriptor_(std::move(reportDescriptor)),
      name_(std::move(name)),
      udc_(std::move(udc)),
      configfsRoot_(std::move(configfsRoot)),
      sysRoot_(std::move(sysRoot)),
      devRoot_(std::move(devRoot)),
      gadgetDir_(configfsRoot_ + "/" + name_) {}

GadgetTransport::~GadgetTransport() {
  Unplug();
  TearDown();
}

bool GadgetTransport::Build(std::string& error) {
  if (built_) return true;
  std::error_code ec;
  const std::string function = gadgetDir_ + "/" + kFunction;
  const std::string config = gadgetDir_ + "/" + kConfig;
  for (const std::string& dir :
       {gadgetDir_, gadgetDir_ + "/strings/0x409", function, config, config + "/strings/0x409"}) {
    if (!fs::create_directory(dir, ec) && ec) {
      error = "mkdir " + dir + ": " + ec.message() +
              (dir == gadgetDir_ ? " (is configfs mounted and libcomposite loaded?)" : "");
      TearDown();
      return false;
    }
  }
  built_ = true;
  const std::string descriptor(reportDescriptor_.begin(), reportDescriptor_.end());
  const std::pair<std::string, std::string> attributes[] = {
      {gadgetDir_ + "/idVendor", Hex4(kKtVendorId)},
      {gadgetDir_ + "/bcdDevice", "0x0100"},
      {gadgetDir_ + "/bcdUSB", "0x0200"},
      {gadgetDir_ + "/strings/0x409/manufacturer", "kt7310-board"},
      {gadgetDir_ + "/strings/0x409/product", "KT7310 simulated board"},
      {gadgetDir_ + "/strings/0x409/serialnumber", name_},
      {function + "/protocol", "0"},
      {function + "/subclass", "0"},
      {function + "/report_length", std::to_string(kGadgetReportLength)},
      {function + "/report_desc", descriptor},
      {config + "/strings/0x409/configuration", "KT7310"},
      {config + "/MaxPower", "100"},
  };
  for (const auto& [path, value] : attributes) {
    if (!WriteAttribute(path, value, error)) return false;
  }
  fs::create_directory_symlink(function, config + "/hid.usb0", ec);
  if (ec) {
    error = "link the HID function into " + config + ": " + ec.message();
    return false;
  }
  return true;
}

void GadgetTransport::TearDown() {
  // configfs wants its tree taken down leaf first; what was never made is simply not there.
  std::error_code ec;
  const std::string config = gadgetDir_ + "/" + kConfig;
  fs::remove(config + "/hid.usb0", ec);
  for (const std::string& dir : {config + "/strings/0x409", config, gadgetDir_ + "/" + kFunction,
                                 gadgetDir_ + "/strings/0x409", gadgetDir_}) {
    ::rmdir(dir.c_str());
  }
  built_ = false;
}

bool GadgetTransport::Bind(std::string& error) {
  const std::string udcFile = gadgetDir_ + "/UDC";
  // A controller named on the command line, or the one taken at the first plug-in: the same bus again.
  if (!udc_.empty()) return WriteAttribute(udcFile, udc_, error);
  // Each board takes the first controller that no other gadget holds; a taken one refuses the bind.
  std::vector<std::string> controllers;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysRoot_ + "/class/udc", ec)) {
    controllers.push_back(entry.path().filename().string());
  }
  std::sort(controllers.begin(), controllers.end());
  if (controllers.empty()) {
    error = "no USB device controller under " + sysRoot_ + "/class/udc (is dummy_hcd loaded?)";
    return false;
  }
  for (const std::string& controller : controllers) {
    std::string ignored;
    if (WriteAttribute(udcFile, controller, ignored)) {
      udc_ = controller;
      return true;
    }
  }
  error = "every USB device controller is taken (" + std::to_string(controllers.size()) + " found)";
  return false;
}

bool GadgetTransport::OpenFunctionNode(std::string& error) {
  // The function's character device: find the node whose numbers the function's "dev" attribute gives.
  const std::string numbers = ReadAttribute(gadgetDir_ + "/" + kFunction + "/dev");
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysRoot_ + "/class/hidg", ec)) {
    if (ReadAttribute(entry.path().string() + "/dev") != numbers) continue;
    const std::string node = devRoot_ + "/" + entry.path().filename().string();
    hidg_.Reset(::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (hidg_.Valid()) return true;
    error = SystemErrorMessage("open", node, errno);
    return false;
  }
  error = "no hidg node with device numbers \"" + numbers + "\"";
  return false;
}

bool GadgetTransport::Plug(std::uint16_t productId, std::string& error) {
  if (bound_) return true;
  if (!Build(error)) return false;
  if (!WriteAttribute(gadgetDir_ + "/idProduct", Hex4(productId), error)) return false;
  if (!Bind(error)) return false;
  bound_ = true;
  if (!OpenFunctionNode(error)) {
    Unplug();
    return false;
  }
  return true;
}

void GadgetTransport::Unplug() {
  hidg_.Reset();
  if (!bound_) return;
  std::string ignored;
  // An empty UDC detaches the gadget from the bus: the host sees the device go.
  WriteAttribute(gadgetDir_ + "/UDC", "\n", ignored);
  bound_ = false;
}

HostEvent GadgetTransport::Receive() {
  HostEvent result;
  std::uint8_t buffer[64];
  const ssize_t got = ::read(hidg_.Get(), buffer, sizeof buffer);
  if (got < 0) {
    if (errno == EAGAIN || errno == EINTR) return result;
    result.kind = HostEvent::Kind::kFailed;
    result.error = SystemErrorMessage("read", "the hidg node", errno);
    return result;
  }
  // The host's USB HID driver has already dropped report ID 0; put it back, as the board's USB side
  // takes every report with its ID byte in front.
  result.kind = HostEvent::Kind::kOutput;
  result.report.reserve(static_cast<std::size_t>(got) + 1);
  result.report.push_back(0);
  result.report.insert(result.report.end(), buffer, buffer + got);
  return result;
}

bool GadgetTransport::Send(std::span<const std::uint8_t> report, std::uint32_t timeoutMs,
                           std::string& error) {
  if (report.empty()) return true;
  const int fd = hidg_.Get();
  if (fd < 0) {
    error = "the board is unplugged";
    return false;
  }
  // The interrupt endpoint holds one report until the host polls for it: wait for room, bounded, since a
  // host that has closed the device polls no more.
  pollfd room{fd, POLLOUT, 0};
  const int ready = ::poll(&room, 1, static_cast<int>(timeoutMs));
  if (ready <= 0 || (room.revents & POLLOUT) == 0) {
    error = ready == 0 ? "the host took no input report for " + std::to_string(timeoutMs) + " ms"
                       : SystemErrorMessage("poll", "the hidg node", ready < 0 ? errno : EIO);
    return false;
  }
  const ssize_t written = ::write(fd, report.data() + 1, report.size() - 1);
  if (written == static_cast<ssize_t>(report.size() - 1)) return true;
  error = SystemErrorMessage("write", "the hidg node", written < 0 ? errno : EIO);
  return false;
}

}  // namespace kt
