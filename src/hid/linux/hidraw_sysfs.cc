#include "hid/linux/hidraw_sysfs.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

#include "hid/linux/system_error.h"
#include "hid/report_descriptor.h"

namespace kt {
namespace {

namespace fs = std::filesystem;

bool ReadWholeFile(const fs::path& path, std::string& text, std::size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (text.size() > limit) text.resize(limit + 1);  // keep "too long" visible to the caller
  return !in.bad();
}

bool ParseHex16(const std::string& text, std::uint16_t& value) {
  std::uint32_t v = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  while (last > first && (last[-1] == '\n' || last[-1] == ' ')) --last;
  const auto [ptr, ec] = std::from_chars(first, last, v, 16);
  if (ec != std::errc() || ptr != last || first == last || v > 0xFFFF) return false;
  value = static_cast<std::uint16_t>(v);
  return true;
}

// The usb_device above the HID device: the first directory upwards that carries idVendor.
fs::path UsbParentOf(const fs::path& hidDevice) {
  std::error_code ec;
  fs::path dir = fs::canonical(hidDevice, ec);
  if (ec) return {};
  for (; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
    if (fs::exists(dir / "idVendor", ec)) return dir;
  }
  return {};
}

// The usb_device above the HID device carries idVendor and idProduct; walk up until one is found.
bool ReadUsbParentIds(const fs::path& hidDevice, std::uint16_t& vendorId, std::uint16_t& productId) {
  std::error_code ec;
  fs::path dir = fs::canonical(hidDevice, ec);
  if (ec) return false;
  for (; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
    std::string vendor, product;
    if (ReadWholeFile(dir / "idVendor", vendor, 16) && ReadWholeFile(dir / "idProduct", product, 16)) {
      return ParseHex16(vendor, vendorId) && ParseHex16(product, productId);
    }
  }
  return false;
}

}  // namespace

std::string UsbPortOfHidrawNode(const std::string& sysfsRoot, const std::string& nodeName) {
  const fs::path usb = UsbParentOf(fs::path(sysfsRoot) / "class" / "hidraw" / nodeName / "device");
  return usb.empty() ? std::string() : usb.filename().string();
}

std::string UsbPortInDevicePath(const std::string& devicePath) {
  // A USB device's name is BUS-PORT[.PORT...]: digits, one '-', digits and dots; its interfaces add
  // ":CONFIG.INTERFACE", root hubs are "usbN".
  const auto isUsbDevice = [](std::string_view name) {
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == name.size()) return false;
    bool digitBefore = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      const char c = name[i];
      if (c >= '0' && c <= '9') {
        digitBefore = true;
      } else if ((c == '.' && i > dash) || i == dash) {
        if (!digitBefore) return false;
        digitBefore = false;
      } else {
        return false;
      }
    }
    return digitBefore;
  };
  std::string port;
  std::size_t start = 0;
  while (start <= devicePath.size()) {
    std::size_t end = devicePath.find('/', start);
    if (end == std::string::npos) end = devicePath.size();
    const std::string_view name(devicePath.data() + start, end - start);
    if (isUsbDevice(name)) port = name;
    start = end + 1;
  }
  return port;
}

bool ParseHidIdProperty(const std::string& uevent, std::uint16_t& vendorId, std::uint16_t& productId) {
  std::istringstream lines(uevent);
  std::string line;
  static const std::string kKey = "HID_ID=";
  while (std::getline(lines, line)) {
    if (line.compare(0, kKey.size(), kKey) != 0) continue;
    // bus:vendor:product, each hexadecimal; the kernel prints 4, 8 and 8 digits.
    const std::string value = line.substr(kKey.size());
    const std::size_t a = value.find(':');
    const std::size_t b = a == std::string::npos ? a : value.find(':', a + 1);
    if (b == std::string::npos) return false;
    std::uint32_t v = 0, p = 0;
    const auto r1 = std::from_chars(value.data() + a + 1, value.data() + b, v, 16);
    const auto r2 = std::from_chars(value.data() + b + 1, value.data() + value.size(), p, 16);
    if (r1.ec != std::errc() || r1.ptr != value.data() + b || r2.ec != std::errc() ||
        r2.ptr != value.data() + value.size() || v > 0xFFFF || p > 0xFFFF) {
      return false;
    }
    vendorId = static_cast<std::uint16_t>(v);
    productId = static_cast<std::uint16_t>(p);
    return true;
  }
  return false;
}

std::optional<unsigned> HidrawMinorFromName(const std::string& nodeName) {
  static const std::string kPrefix = "hidraw";
  if (nodeName.size() <= kPrefix.size() || nodeName.compare(0, kPrefix.size(), kPrefix) != 0) return {};
  unsigned minor = 0;
  const char* first = nodeName.data() + kPrefix.size();
  const char* last = nodeName.data() + nodeName.size();
  const auto [ptr, ec] = std::from_chars(first, last, minor);
  if (ec != std::errc() || ptr != last) return {};
  return minor;
}

bool ReadHidrawNodeInfo(const std::string& sysfsRoot, const std::string& nodeName, HidrawNodeInfo& info,
                        std::string& error) {
  info = HidrawNodeInfo{};
  const fs::path hidDevice = fs::path(sysfsRoot) / "class" / "hidraw" / nodeName / "device";
  std::error_code ec;
  if (!fs::exists(hidDevice, ec)) {
    error = SystemErrorMessage("find in sysfs", hidDevice.string(), ec ? ec.value() : ENOENT);
    return false;
  }
  std::string uevent;
  if (ReadWholeFile(hidDevice / "uevent", uevent, 4096)) {
    info.hasIds = ParseHidIdProperty(uevent, info.vendorId, info.productId);
  }
  if (!info.hasIds) info.hasIds = ReadUsbParentIds(hidDevice, info.vendorId, info.productId);

  std::string descriptor;
  if (ReadWholeFile(hidDevice / "report_descriptor", descriptor, kMaxReportDescriptorBytes)) {
    info.hasDescriptor = true;
    info.descriptor.assign(descriptor.begin(), descriptor.end());
  }
  return true;
}

}  // namespace kt
