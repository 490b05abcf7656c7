#include "hid/win32/win32_hid_backend.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "hid/hid_link.h"

namespace kt::win32 {
namespace {

struct SeenInterface {
  std::string path;
  HidAttributes attributes;
  HidCaps caps;
};

// Every present HID interface the system lists whose attributes and capabilities can be read.
std::vector<SeenInterface> PresentInterfaces(Win32HidBackend& backend) {
  std::vector<SeenInterface> seen;
  auto list = backend.ListInterfaces();
  if (!list) return seen;
  for (std::uint32_t index = 0; index < kMaxHidInterfaces; ++index) {
    SeenInterface entry;
    const HidEnumStep step = list->Next(index, entry.path);
    if (step == HidEnumStep::kEnd) break;
    if (step == HidEnumStep::kSkip) continue;
    auto handle = backend.Open(entry.path, HidOpenMode::kPlain);
    if (handle && handle->GetAttributes(entry.attributes) && handle->GetCaps(entry.caps)) {
      seen.push_back(std::move(entry));
    }
  }
  return seen;
}

TEST(Win32HidBackendTest, ListsThePresentHidInterfaces) {
  Win32HidBackend backend;
  auto list = backend.ListInterfaces();
  ASSERT_NE(list, nullptr) << backend.lastError()->what();
  // The list ends within the indexes the tool looks at, with or without devices.
  std::string path;
  std::uint32_t index = 0;
  while (index < kMaxHidInterfaces && list->Next(index, path) != HidEnumStep::kEnd) ++index;
  EXPECT_LT(index, kMaxHidInterfaces);
}

// Every present interface has a place, the same each time it is asked; a path the system does not know
// is its own place.
TEST(Win32HidBackendTest, EachInterfaceHasAStablePlace) {
  Win32HidBackend backend;
  EXPECT_EQ(backend.PortOf("\\\\?\\hid#no_such_device#0"), "\\\\?\\hid#no_such_device#0");
  auto list = backend.ListInterfaces();
  ASSERT_NE(list, nullptr);
  std::string path;
  for (std::uint32_t index = 0; list->Next(index, path) == HidEnumStep::kInterface; ++index) {
    const std::string port = backend.PortOf(path);
    EXPECT_FALSE(port.empty()) << path;
    EXPECT_EQ(backend.PortOf(path), port) << path;
  }
}

TEST(Win32HidBackendTest, ADeviceWithoutOutputReportsIsNeverOpenedAsTheTarget) {
  Win32HidBackend backend;
  // IDs whose every interface lacks an output report: the tool cannot send requests to such a device.
  std::map<std::pair<std::uint16_t, std::uint16_t>, bool> writable;
  for (const SeenInterface& entry : PresentInterfaces(backend)) {
    auto ids = std::make_pair(entry.attributes.vendorId, entry.attributes.productId);
    writable[ids] = writable[ids] || entry.caps.outputReportByteLength != 0;
  }
  std::vector<std::pair<std::uint16_t, std::uint16_t>> readOnly;
  for (const auto& [ids, canWrite] : writable) {
    if (!canWrite) readOnly.push_back(ids);
  }
  if (readOnly.empty()) GTEST_SKIP() << "no HID device without output reports is present";

  VirtualClock clock;
  for (const auto& [vendorId, productId] : readOnly) {
    HidLink link;
    CreateHidLink(link, backend, clock);
    EXPECT_FALSE(OpenHidLink(link, vendorId, productId)) << std::hex << vendorId << ":" << productId;
    EXPECT_EQ(link.writeHandle, nullptr);
    EXPECT_EQ(link.readHandle, nullptr);
    EXPECT_EQ(link.inputReportLength, 0);
    EXPECT_EQ(link.outputReportLength, 0);
    DestroyHidLink(link);
  }
}

}  // namespace
}  // namespace kt::win32
