#include "hid/null_backend.h"

namespace kt {
namespace {

class EmptyList final : public HidInterfaceList {
 public:
  HidEnumStep Next(std::uint32_t, std::string&) override { return HidEnumStep::kEnd; }
};

}  // namespace

std::unique_ptr<HidInterfaceList> NullHidBackend::ListInterfaces() { return std::make_unique<EmptyList>(); }

std::unique_ptr<HidDeviceHandle> NullHidBackend::Open(const std::string&, HidOpenMode) { return nullptr; }

}  // namespace kt
