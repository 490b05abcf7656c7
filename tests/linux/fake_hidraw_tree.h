#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kt {

// A sysfs tree and a /dev folder in a temporary directory, shaped as the kernel lays them out:
//   sys/devices/usbN/<hid device>/{uevent,report_descriptor}
//   sys/class/hidraw/hidrawN/device -> the hid device
//   dev/hidrawN: a FIFO, so that the test can play the device on the other end.
class FakeHidrawTree {
 public:
  FakeHidrawTree() {
    std::string pattern = (std::filesystem::path(::testing::TempDir()) / "kt-hidraw-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    std::filesystem::create_directories(root_ / "sys" / "class" / "hidraw");
    std::filesystem::create_directories(root_ / "dev");
  }
  ~FakeHidrawTree() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  FakeHidrawTree(const FakeHidrawTree&) = delete;
  FakeHidrawTree& operator=(const FakeHidrawTree&) = delete;

  std::string SysRoot() const { return (root_ / "sys").string(); }
  std::string DevRoot() const { return (root_ / "dev").string(); }
  std::string Node(unsigned minor) const { return (root_ / "dev" / Name(minor)).string(); }

  // Adds hidraw<minor> for a HID device with these IDs. With `hidIdInUevent` false the IDs are only in
  // the USB device above it (idVendor/idProduct), as for a HID device whose uevent lacks HID_ID.
  void AddDevice(unsigned minor, std::uint16_t vendor, std::uint16_t product,
                 const std::vector<std::uint8_t>& descriptor, bool hidIdInUevent = true) {
    namespace fs = std::filesystem;
    const fs::path usb = root_ / "sys" / "devices" / ("usb" + std::to_string(minor));
    const fs::path hid = usb / ("0003:" + Hex(vendor) + ":" + Hex(product) + "." + std::to_string(minor));
    fs::create_directories(hid);
    Write(usb / "idVendor", Lower(Hex(vendor)) + "\n");
    Write(usb / "idProduct", Lower(Hex(product)) + "\n");
    std::string uevent = "DRIVER=hid-generic\n";
    if (hidIdInUevent) uevent += "HID_ID=0003:0000" + Hex(vendor) + ":0000" + Hex(product) + "\n";
    Write(hid / "uevent", uevent + "HID_NAME=Test board\n");
    Write(hid / "report_descriptor", std::string(descriptor.begin(), descriptor.end()));
    const fs::path cls = root_ / "sys" / "class" / "hidraw" / Name(minor);
    fs::create_directories(cls);
    fs::create_directory_symlink(hid, cls / "device");
    EXPECT_EQ(::mkfifo(Node(minor).c_str(), 0600), 0);
  }

 private:
  static std::string Name(unsigned minor) { return "hidraw" + std::to_string(minor); }
  static std::string Hex(std::uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", v);
    return text;
  }
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  static void Write(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  std::filesystem::path root_;
};

// The board's descriptor in short: Consumer page, no report IDs, 32 input bytes, 16 output bytes.
inline std::vector<std::uint8_t> BoardDescriptor() {
  return {0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95,
          0x1F, 0x09, 0x00, 0x81, 0x02, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x09, 0x00, 0x81,
          0x02, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x10, 0x09, 0x00, 0x91, 0x02, 0xC0};
}

// A device with numbered reports: input ID 5 of 7 bytes, output ID 6 of 7 bytes on the Consumer page.
inline std::vector<std::uint8_t> NumberedDescriptor() {
  return {0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x07, 0x85, 0x05,
          0x09, 0x00, 0x81, 0x02, 0x85, 0x06, 0x09, 0x00, 0x91, 0x02, 0xC0};
}

}  // namespace kt
