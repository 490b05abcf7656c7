#include "hid/win32/interface_walk.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

namespace kt::win32 {
namespace {

// No device path comes near this (the longest a path can be is 32,767 characters); a larger size from the
// size query is taken as a buffer that cannot be had rather than allocated.
constexpr DWORD kMaxDetailSize = 64 * 1024;

class SetupDiSource final : public DeviceInterfaceSource {
 public:
  SetupDiSource(ScopedDeviceInfoList list, const GUID& guid) : list_(std::move(list)), guid_(guid) {}

  BOOL Enumerate(DWORD index, SP_DEVICE_INTERFACE_DATA& data) override {
    return SetupDiEnumDeviceInterfaces(list_.get(), nullptr, &guid_, index, &data);
  }
  BOOL GetDetail(SP_DEVICE_INTERFACE_DATA& data, SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                 DWORD* required, SP_DEVINFO_DATA* info) override {
    return SetupDiGetDeviceInterfaceDetailA(list_.get(), &data, detail, size, required, info);
  }

 private:
  ScopedDeviceInfoList list_;
  GUID guid_;
};

}  // namespace

InterfaceWalk::InterfaceWalk(std::unique_ptr<DeviceInterfaceSource> source) : source_(std::move(source)) {}

HidEnumStep InterfaceWalk::Next(std::uint32_t index, std::string& path) {
  lastError_.reset();

  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof(data);
  // A stale ERROR_NO_MORE_ITEMS from an earlier call must not end the list early.
  SetLastError(ERROR_SUCCESS);
  const BOOL enumerated = source_->Enumerate(index, data);
  const DWORD enumError = GetLastError();
  if (enumError == ERROR_NO_MORE_ITEMS) return HidEnumStep::kEnd;
  if (!enumerated) {
    lastError_.emplace("SetupDiEnumDeviceInterfaces", enumError);
    return HidEnumStep::kSkip;
  }

  DWORD required = 0;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof(info);
  source_->GetDetail(data, nullptr, 0, &required, &info);
  const DWORD sizeError = GetLastError();
  if (sizeError != ERROR_INSUFFICIENT_BUFFER) {
    lastError_.emplace("SetupDiGetDeviceInterfaceDetailA", sizeError);
    return HidEnumStep::kEnd;
  }

  // The system fills at most `required` bytes; one zero byte more keeps the path terminated whatever it
  // wrote, and the header is never shorter than the structure the call expects.
  const std::size_t headerSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  const std::size_t bufferSize = (required > headerSize ? required : headerSize) + 1;
  std::unique_ptr<std::byte[]> buffer(required <= kMaxDetailSize ? new (std::nothrow) std::byte[bufferSize]
                                                                 : nullptr);
  if (!buffer) {
    lastError_.emplace("detail buffer", ERROR_NOT_ENOUGH_MEMORY);
    return HidEnumStep::kEnd;
  }
  std::memset(buffer.get(), 0, bufferSize);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.get());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!source_->GetDetail(data, detail, static_cast<DWORD>(bufferSize - 1), nullptr, nullptr)) {
    lastError_ = LastWin32Error("SetupDiGetDeviceInterfaceDetailA");
    return HidEnumStep::kSkip;
  }

  const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  const char* text = reinterpret_cast<const char*>(buffer.get() + pathOffset);
  path.assign(text, strnlen(text, bufferSize - pathOffset));
  return HidEnumStep::kInterface;
}

std::unique_ptr<DeviceInterfaceSource> OpenHidInterfaceSource(std::optional<Win32Error>& error) {
  const HidFunctions* hid = Hid(error);
  if (hid == nullptr) return nullptr;
  GUID hidGuid;
  hid->GetHidGuid(&hidGuid);
  ScopedDeviceInfoList list(
      SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!list) {
    error = LastWin32Error("SetupDiGetClassDevsA");
    return nullptr;
  }
  return std::make_unique<SetupDiSource>(std::move(list), hidGuid);
}

}  // namespace kt::win32
