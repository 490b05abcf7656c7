#include "hid/single_device_backend.h"

namespace kt {
namespace {

class OnePathList final : public HidInterfaceList {
 public:
  explicit OnePathList(std::string path) : path_(std::move(path)) {}
  HidEnumStep Next(std::uint32_t index, std::string& path) override {
    if (index != 0) return HidEnumStep::kEnd;
    path = path_;
    return HidEnumStep::kInterface;
  }

 private:
  std::string path_;
};

}  // namespace

std::unique_ptr<HidInterfaceList> SingleDeviceBackend::ListInterfaces() {
  return std::make_unique<OnePathList>(path_);
}

}  // namespace kt
