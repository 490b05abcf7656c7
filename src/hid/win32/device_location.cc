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
  if (cm == nullptr) return std::string();
  DEVINST node = NodeOfInterface(interfacePath);
  if (node == 0) return std::string();
  const DEVINST first = node;
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
  // Wine's HID bus offers neither a location nor a parent, only the HID node's own ID.
  char id[MAX_DEVICE_ID_LEN + 1] = "";
  if (cm->GetDeviceId(first, id, sizeof(id), 0) != CR_SUCCESS) return std::string();
  return PortFromWineHidId(id);
}

std::string PortFromWineHidId(const std::string& deviceId) {
  // HID\VID_3B7D&PID_7310&MI_00\256&kt7310-board-812&0&0: version, serial number, unique ID, index.
  if (deviceId.rfind("HID\\", 0) != 0) return std::string();
  const std::size_t last = deviceId.rfind('\\');
  if (last == std::string::npos || last <= 4) return std::string();
  const std::string instance = deviceId.substr(last + 1);
  std::size_t fields = 0;
  for (char c : instance) fields += c == '&' ? 1 : 0;
  const std::size_t first = instance.find('&');
  if (fields != 3 || first == std::string::npos) return std::string();
  const std::string serial = instance.substr(first + 1, instance.find('&', first + 1) - first - 1);
  // Without a serial number ("0000") boards differ only by the index, which follows the product ID.
  if (serial.empty() || serial == "0000") return std::string();
  return "HID\\" + instance;
}

}  // namespace kt::win32
