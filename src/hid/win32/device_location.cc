#include "hid/win32/device_location.h"

#include "hid/win32/hid_system.h"
// clang-format off
#include <cfgmgr32.h>
// clang-format on

namespace kt::win32 {
namespace {

// The configuration manager's calls, taken from System32's cfgmgr32.dll (never imported: see SystemDll).
struct ConfigManagerFunctions {
  static constexpr const wchar_t* kDll = L"cfgmgr32.dll";
  decltype(&CM_Get_DevNode_Registry_PropertyA) GetRegistryProperty = nullptr;
  decltype(&CM_Get_Device_IDA) GetDeviceId = nullptr;
  decltype(&CM_Get_Parent) GetParent = nullptr;
  bool Bind(SystemDll& dll) {
    return dll.Bind(GetRegistryProperty, "CM_Get_DevNode_Registry_PropertyA") &&
           dll.Bind(GetDeviceId, "CM_Get_Device_IDA") && dll.Bind(GetParent, "CM_Get_Parent");
  }
};

// The node of the interface's device, or 0.
DEVINST NodeOfInterface(const std::string& interfacePath) {
  HDEVINFO list = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (list == INVALID_HANDLE_VALUE) return 0;
  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof(interfaceData);
  SP_DEVINFO_DATA deviceData{};
  deviceData.cbSize = sizeof(deviceData);
  DEVINST node = 0;
  if (SetupDiOpenDeviceInterfaceA(list, interfacePath.c_str(), 0, &interfaceData)) {
    // Without a detail buffer the call fails for its size, but it fills in the device's data all the same.
    SetupDiGetDeviceInterfaceDetailA(list, &interfaceData, nullptr, 0, nullptr, &deviceData);
    node = deviceData.DevInst;
  }
  SetupDiDestroyDeviceInfoList(list);
  return node;
}

std::string LocationPathOf(const ConfigManagerFunctions& cm, DEVINST node) {
  char buffer[1024] = "";
  ULONG size = sizeof(buffer) - 2;
  ULONG type = 0;
  if (cm.GetRegistryProperty(node, CM_DRP_LOCATION_PATHS, &type, buffer, &size, 0) != CR_SUCCESS) {
    return std::string();
  }
  return std::string(buffer);  // the first string of the list
}

}  // namespace

std::string DeviceLocationOf(const std::string& interfacePath) {
  // Without the DLL the port is not known, which callers already handle: the path stands for it.
  const ConfigManagerFunctions* cm = LoadSystemFunctions<ConfigManagerFunctions>();
  if (cm == nullptr) return PortFromWineHidId(interfacePath);
  DEVINST node = NodeOfInterface(interfacePath);
  if (node == 0) return PortFromWineHidId(interfacePath);
  // The HID node, the USB interface node of a composite device, the USB device: at most a few steps up.
  for (int step = 0; step < 4; ++step) {
    if (std::string location = LocationPathOf(*cm, node); !location.empty()) return location;
    char id[MAX_DEVICE_ID_LEN + 1] = "";
    if (cm->GetDeviceId(node, id, sizeof(id), 0) == CR_SUCCESS) {
      const std::string instance(id);
      // USB\VID_3B7D&PID_7310\5&2A1B3C&0&3: the part after the second backslash.
      if (instance.rfind("USB\\", 0) == 0 && instance.find("&MI_") == std::string::npos) {
        const std::size_t last = instance.rfind('\\');
        if (last != std::string::npos && last > 4) return "USB\\" + instance.substr(last + 1);
      }
    }
    DEVINST parent = 0;
    if (cm->GetParent(&parent, node, 0) != CR_SUCCESS) break;
    node = parent;
  }
  // Wine's HID bus offers neither a location nor a parent: the instance in the interface path it is.
  return PortFromWineHidId(interfacePath);
}

std::string PortFromWineHidId(const std::string& idOrPath) {
  // HID\VID_3B7D&PID_7310&MI_00\256&kt7310-board-812&0&0 as an ID, or as an interface path
  // \\?\hid#vid_3b7d&pid_7310&mi_00#256&kt7310-board-812&0&0#{4d1e55b2-...}: the instance is the version,
  // the serial number, a unique ID and an index.
  std::string instance;
  if (idOrPath.rfind("HID\\", 0) == 0) {
    const std::size_t device = idOrPath.find('\\', 4);
    if (device == std::string::npos || idOrPath.find('\\', device + 1) != std::string::npos) return {};
    instance = idOrPath.substr(device + 1);
  } else if (idOrPath.rfind("\\\\?\\hid#", 0) == 0) {
    const std::size_t device = idOrPath.find('#', 8);
    const std::size_t end = device == std::string::npos ? device : idOrPath.find('#', device + 1);
    if (end == std::string::npos) return {};
    instance = idOrPath.substr(device + 1, end - device - 1);
  } else {
    return {};
  }
  std::size_t fields = 0;
  for (char c : instance) fields += c == '&' ? 1 : 0;
  if (fields != 3) return {};
  const std::size_t first = instance.find('&');
  const std::size_t second = instance.find('&', first + 1);
  const std::string serial = instance.substr(first + 1, second - first - 1);
  // Without a serial number ("0000") boards differ only by the index, which follows the product ID.
  if (serial.empty() || serial == "0000") return {};
  // The index counts the boards present under the same IDs, so it can change across a re-plug: it is left out.
  return "HID\\" + instance.substr(0, second);
}

}  // namespace kt::win32
