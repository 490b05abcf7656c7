#include "hid/hid_link.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/scripted_backend.h"

namespace kt {
namespace {

using test::ScriptedBackend;
using test::ScriptedInterface;

constexpr std::uint16_t kVendor = 0x3B7D;
constexpr std::uint16_t kProduct = 0x7310;

class HidLinkTest : public ::testing::Test {
 protected:
  HidLinkTest() { CreateHidLink(link, backend, clock); }
  ~HidLinkTest() override { DestroyHidLink(link); }

  // As every caller does: the result goes into deviceOpen at once.
  bool Open(std::uint16_t vendorId = kVendor, std::uint16_t productId = kProduct) {
    link.deviceOpen = OpenHidLink(link, vendorId, productId);
    return link.deviceOpen;
  }

  void Add(ScriptedInterface interface) { backend.AddInterface(std::move(interface)); }
  static ScriptedInterface Match(std::string path) {
    return ScriptedBackend::Device(std::move(path), kVendor, kProduct);
  }

  // The device paths the write and the read handle are on, learnt by using each once.
  std::pair<std::string, std::string> HandlePaths() {
    const std::uint8_t report[1] = {0};
    std::size_t written = 0;
    link.writeHandle->WriteReport(report, sizeof(report), written);
    std::uint8_t buffer[64];
    link.readHandle->ReadReport(buffer, sizeof(buffer), 0);
    return {backend.Writes().back().path, backend.ReadCalls().back().path};
  }

  void ExpectClosedAndClean() {
    EXPECT_EQ(link.writeHandle, nullptr);
    EXPECT_EQ(link.readHandle, nullptr);
    EXPECT_EQ(link.inputReportLength, 0);
    EXPECT_EQ(link.outputReportLength, 0);
    EXPECT_EQ(backend.OpenHandles(), 0);
    EXPECT_EQ(backend.counters().listsTaken, backend.counters().listsReleased);
  }

  VirtualClock clock;
  ScriptedBackend backend{&clock};
  HidLink link;
};

TEST_F(HidLinkTest, FirstMatchingInterfaceInEnumerationOrderIsOpened) {
  Add(ScriptedBackend::Device("other-product", kVendor, 0x7300));
  Add(ScriptedBackend::Device("other-vendor", 0x1234, kProduct));
  Add(Match("first"));
  Add(Match("second"));

  ASSERT_TRUE(Open());
  EXPECT_EQ(HandlePaths(), std::make_pair(std::string("first"), std::string("first")));
  EXPECT_EQ(link.inputReportLength, 64);
  EXPECT_EQ(link.outputReportLength, 64);
  // Candidates that did not match were closed as the search moved on; the list is released.
  EXPECT_EQ(backend.OpenHandles(), 2);
  EXPECT_EQ(backend.counters().listsReleased, 1);
  EXPECT_EQ(backend.EnumeratedIndices(), (std::vector<std::uint32_t>{0, 1, 2}));
}

TEST_F(HidLinkTest, UnusableInterfacesArePassedOver) {
  auto with = [](std::string path, auto edit) {
    ScriptedInterface interface = Match(std::move(path));
    edit(interface);
    return interface;
  };
  Add(with("no-plain-open", [](ScriptedInterface& i) { i.plainOpenFails = true; }));
  Add(with("no-attributes", [](ScriptedInterface& i) { i.attributesFail = true; }));
  Add(with("no-caps", [](ScriptedInterface& i) { i.capsFail = true; }));
  Add(with("zero-output", [](ScriptedInterface& i) { i.caps.outputReportByteLength = 0; }));
  Add(with("zero-input", [](ScriptedInterface& i) { i.caps.inputReportByteLength = 0; }));
  Add(with("long-output", [](ScriptedInterface& i) { i.caps.outputReportByteLength = 65; }));
  Add(with("long-input", [](ScriptedInterface& i) { i.caps.inputReportByteLength = 65; }));
  Add(with("no-read-open", [](ScriptedInterface& i) { i.overlappedOpenFails = true; }));
  Add(with("usable", [](ScriptedInterface& i) { i.caps.inputReportByteLength = 33; }));

  ASSERT_TRUE(Open());
  EXPECT_EQ(HandlePaths().first, "usable");
  EXPECT_EQ(link.inputReportLength, 33);
  EXPECT_EQ(link.outputReportLength, 64);
  EXPECT_EQ(backend.OpenHandles(), 2);
}

TEST_F(HidLinkTest, ReportIdIsThatOfTheLastConsumerPageOutputValue) {
  ScriptedInterface consumer = Match("consumer");
  consumer.caps.outputValueCaps = {{0x0C, 5}, {0x01, 9}, {0x0C, 7}, {0xFF00, 3}};
  Add(consumer);
  ASSERT_TRUE(Open());
  EXPECT_EQ(link.reportId, 7);
  CloseHidLink(link);

  // Without Consumer-page output values the ID is 0, not what the previous open left.
  backend.EditInterface(0, [](ScriptedInterface& i) { i.caps.outputValueCaps = {{0x01, 4}}; });
  ASSERT_TRUE(Open());
  EXPECT_EQ(link.reportId, 0);
}

TEST_F(HidLinkTest, FailedOpenLeavesBothHandlesClosedAndLengthsZero) {
  ScriptedInterface noRead = Match("no-read-open");
  noRead.overlappedOpenFails = true;
  Add(noRead);
  Add(ScriptedBackend::Device("other", kVendor, 0x7300));

  EXPECT_FALSE(Open());
  ExpectClosedAndClean();
  EXPECT_EQ(backend.EnumeratedIndices(), (std::vector<std::uint32_t>{0, 1, 2}));
}

TEST_F(HidLinkTest, OnlyTheFirst256InterfacesAreTried) {
  for (int i = 0; i < 256; ++i) Add(ScriptedBackend::Device("other" + std::to_string(i), kVendor, 0x7300));
  Add(Match("index256"));

  EXPECT_FALSE(Open());
  ExpectClosedAndClean();
  const std::vector<std::uint32_t> indices = backend.EnumeratedIndices();
  ASSERT_EQ(indices.size(), 256u);
  EXPECT_EQ(indices.back(), 255u);

  backend.EditInterface(255, [](ScriptedInterface& i) { i.attributes.productId = kProduct; });
  EXPECT_TRUE(Open());
}

TEST_F(HidLinkTest, SkippedIndexGoesOnAndEndStopsTheSearch) {
  Add(Match("skipped"));
  Add(Match("after-skip"));
  backend.OverrideStep(0, HidEnumStep::kSkip);
  ASSERT_TRUE(Open());
  EXPECT_EQ(HandlePaths().first, "after-skip");
  CloseHidLink(link);

  backend.OverrideStep(1, HidEnumStep::kEnd);
  Add(Match("beyond-end"));
  EXPECT_FALSE(Open());
  ExpectClosedAndClean();
}

TEST_F(HidLinkTest, UnavailableListChangesNothing) {
  Add(Match("device"));
  // A half-open link as some earlier failure might leave it: nothing of it may be touched.
  link.writeHandle = backend.Open("device", HidOpenMode::kPlain);
  link.inputReportLength = 33;
  backend.SetListUnavailable(true);

  EXPECT_FALSE(Open());
  EXPECT_NE(link.writeHandle, nullptr);
  EXPECT_EQ(link.inputReportLength, 33);
  EXPECT_EQ(backend.counters().plainCloses, 0);
}

TEST_F(HidLinkTest, OpenOnAnOpenLinkReturnsTrueWithoutLookingAgain) {
  Add(Match("device"));
  ASSERT_TRUE(Open());
  const HidDeviceHandle* writeHandle = link.writeHandle.get();
  const HidDeviceHandle* readHandle = link.readHandle.get();

  EXPECT_TRUE(Open(0x1111, 0x2222));
  EXPECT_EQ(link.writeHandle.get(), writeHandle);
  EXPECT_EQ(link.readHandle.get(), readHandle);
  EXPECT_EQ(backend.counters().listsTaken, 1);
}

TEST_F(HidLinkTest, CloseActsOnlyOnAnOpenLinkAndDestroyClosesWhatIsLeft) {
  Add(Match("device"));
  EXPECT_TRUE(link.readEventOpen);
  ASSERT_TRUE(OpenHidLink(link, kVendor, kProduct));
  CloseHidLink(link);  // the result was never stored in deviceOpen: nothing to close
  EXPECT_EQ(backend.OpenHandles(), 2);

  link.deviceOpen = true;
  CloseHidLink(link);
  CloseHidLink(link);
  EXPECT_FALSE(link.deviceOpen);
  EXPECT_EQ(backend.counters().plainCloses, 1);
  EXPECT_EQ(backend.counters().overlappedCloses, 1);
  // The lengths stay until the next open: callers may still look at them.
  EXPECT_EQ(link.inputReportLength, 64);

  DestroyHidLink(link);
  EXPECT_FALSE(link.readEventOpen);
  EXPECT_EQ(backend.counters().plainCloses, 1);
  EXPECT_EQ(backend.counters().overlappedCloses, 1);
}

TEST_F(HidLinkTest, DestroyClosesAnOpenLinkWhateverDeviceOpenSays) {
  Add(Match("device"));
  ASSERT_TRUE(OpenHidLink(link, kVendor, kProduct));
  DestroyHidLink(link);
  EXPECT_EQ(backend.OpenHandles(), 0);
  EXPECT_FALSE(link.readEventOpen);
}

}  // namespace
}  // namespace kt
