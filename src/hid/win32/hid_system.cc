#include "hid/win32/hid_system.h"

namespace kt::win32 {

bool HidFunctions::Bind(SystemDll& dll) {
  return dll.Bind(GetHidGuid, "HidD_GetHidGuid") && dll.Bind(GetAttributes, "HidD_GetAttributes") &&
         dll.Bind(GetPreparsedData, "HidD_GetPreparsedData") &&
         dll.Bind(FreePreparsedData, "HidD_FreePreparsedData") && dll.Bind(GetCaps, "HidP_GetCaps") &&
         dll.Bind(GetValueCaps, "HidP_GetValueCaps");
}

const HidFunctions* Hid(std::optional<Win32Error>& error) {
  const SystemDll* dll = nullptr;
  const HidFunctions* hid = LoadSystemFunctions<HidFunctions>(&dll);
  if (hid == nullptr) error.emplace(dll->failedOperation(), dll->failureCode());
  return hid;
}

}  // namespace kt::win32
