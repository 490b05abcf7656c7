#include "hid/linux/hidraw_enumeration.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <utility>

#include "hid/linux/hidraw_sysfs.h"
#include "hid/linux/system_error.h"
#include "hid/linux/udev_ptr.h"

namespace kt {
namespace {

using Node = std::pair<unsigned, std::string>;  // minor number, device node

void SortByMinor(std::vector<Node>& found, std::vector<std::string>& nodes) {
  std::sort(found.begin(), found.end());
  nodes.clear();
  for (Node& n : found) nodes.push_back(std::move(n.second));
}

}  // namespace

bool ListHidrawNodesWithUdev(std::vector<std::string>& nodes, std::string& error) {
  UdevPtr udev(udev_new());
  if (!udev) {
    error = SystemErrorMessage("udev_new", "", errno);
    return false;
  }
  UdevEnumeratePtr enumerate(udev_enumerate_new(udev.get()));
  if (!enumerate) {
    error = SystemErrorMessage("udev_enumerate_new", "", errno);
    return false;
  }
  // libudev returns negative errno values.
  if (int rc = udev_enumerate_add_match_subsystem(enumerate.get(), "hidraw"); rc < 0) {
    error = SystemErrorMessage("udev_enumerate_add_match_subsystem", "hidraw", -rc);
    return false;
  }
  if (int rc = udev_enumerate_scan_devices(enumerate.get()); rc < 0) {
    error = SystemErrorMessage("udev_enumerate_scan_devices", "hidraw", -rc);
    return false;
  }
  std::vector<Node> found;
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
    UdevDevicePtr device(udev_device_new_from_syspath(udev.get(), udev_list_entry_get_name(entry)));
    if (!device) continue;  // gone between the scan and now
    const char* node = udev_device_get_devnode(device.get());
    if (node == nullptr) continue;
    found.emplace_back(minor(udev_device_get_devnum(device.get())), node);
  }
  SortByMinor(found, nodes);
  return true;
}

bool ListHidrawNodesInTree(const std::string& sysfsRoot, const std::string& devRoot,
                           std::vector<std::string>& nodes, std::string& error) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(sysfsRoot) / "class" / "hidraw";
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) {
    error = SystemErrorMessage("list", dir.string(), ec.value());
    return false;
  }
  std::vector<Node> found;
  for (const fs::directory_entry& e : it) {
    const std::string name = e.path().filename().string();
    if (const std::optional<unsigned> minor = HidrawMinorFromName(name)) {
      found.emplace_back(*minor, (fs::path(devRoot) / name).string());
    }
  }
  SortByMinor(found, nodes);
  return true;
}

}  // namespace kt
