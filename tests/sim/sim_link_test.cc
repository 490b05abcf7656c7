// The simulated board driven through the device link and the report protocol, as the tool drives it.
#include <gtest/gtest.h>

#include <numeric>

#include "hid/chip_registers.h"
#include "hid/hid_link.h"
#include "hid/report_protocol.h"
#include "hid/sim/sim_board.h"
#include "image/default_image.h"

namespace kt {
namespace {

class SimLinkTest : public ::testing::Test {
 protected:
  void Start(const std::string& text) {
    std::string error;
    ASSERT_TRUE(ParseSimOptions(text, options_, error)) << error;
    backend_ = std::make_unique<SimBackend>(options_, clock_);
    CreateHidLink(link_, *backend_, clock_);
    link_.deviceOpen = OpenHidLink(link_, kKtVendorId, backend_->board().productId());
    ASSERT_TRUE(link_.deviceOpen);
  }
  void TearDown() override { DestroyHidLink(link_); }

  bool ReleaseWriteProtect() {
    std::uint8_t value = 0;
    return TransferRegister(link_, &value, TransferDirection::kWrite, kWriteProtectRegister, NextTag());
  }
  std::uint8_t NextTag() { return tag_ = AdvanceBlockTag(tag_); }

  SimOptions options_;
  VirtualClock clock_;
  std::unique_ptr<SimBackend> backend_;
  HidLink link_;
  std::uint8_t tag_ = 240;
};

TEST_F(SimLinkTest, AThousandBlockWritesAndReadsRoundTripInVirtualTime) {
  Start("blank,latency=1");
  ASSERT_TRUE(ReleaseWriteProtect());
  constexpr int kBlocks = 1000;
  for (int block = 0; block < kBlocks; ++block) {
    std::uint8_t data[8];
    std::iota(std::begin(data), std::end(data), static_cast<std::uint8_t>(block * 8));
    ASSERT_TRUE(TransferEepromBlock(link_, static_cast<std::uint16_t>(block * 8), TransferDirection::kWrite,
                                    8, data, NextTag()))
        << block;
  }
  for (int block = 0; block < kBlocks; ++block) {
    std::uint8_t data[8] = {};
    ASSERT_TRUE(TransferEepromBlock(link_, static_cast<std::uint16_t>(block * 8), TransferDirection::kRead, 8,
                                    data, NextTag()))
        << block;
    for (int i = 0; i < 8; ++i) ASSERT_EQ(data[i], static_cast<std::uint8_t>(block * 8 + i)) << block;
  }
  // Writes go out in the order they were asked for.
  const auto requests = backend_->board().requests();
  ASSERT_EQ(requests.size(), 1u + 2 * kBlocks);
  EXPECT_EQ(requests[2][2], 0x11);
  EXPECT_EQ((requests[2][5] << 8) | requests[2][6], 8);
}

TEST_F(SimLinkTest, TheProtocolSkipsStrayShortAndBadLengthAnswersAndFailsOnSilence) {
  Start("stray@1:5,short@2,badlen@3,silent@4");
  std::uint8_t data[16] = {};
  // stray: five reports with another tag, then the answer.
  EXPECT_TRUE(TransferEepromBlock(link_, 0, TransferDirection::kRead, 16, data, NextTag()));
  EXPECT_TRUE(std::equal(data, data + 16, defaultImage.begin()));
  // short and badlen: the only answer is skipped, the next read times out.
  EXPECT_FALSE(TransferEepromBlock(link_, 0, TransferDirection::kRead, 16, data, NextTag()));
  EXPECT_FALSE(TransferEepromBlock(link_, 0, TransferDirection::kRead, 16, data, NextTag()));
  const std::uint64_t before = clock_.NowMicros();
  std::uint8_t value = 0xEE;
  EXPECT_FALSE(TransferRegister(link_, &value, TransferDirection::kRead, 0x10, NextTag()));
  EXPECT_EQ(value, 0);
  EXPECT_EQ(clock_.NowMicros() - before, kInputReportTimeoutMs * 1000ull);
}

TEST_F(SimLinkTest, EraseThroughTheLinkReplugsTheBoardBlankOnceTheLinkCloses) {
  Start("");
  std::vector<bool> changes;
  backend_->SetDeviceChangeListener([&](const DeviceChange& change) { changes.push_back(change.arrived); });
  ASSERT_EQ(SendEraseCommand(link_), kSOk);
  ASSERT_EQ(SendEraseCommand(link_), kSOk);
  CloseHidLink(link_);
  EXPECT_EQ(changes, (std::vector<bool>{false, true}));
  link_.deviceOpen = OpenHidLink(link_, kKtVendorId, kBlankProductId);
  EXPECT_TRUE(link_.deviceOpen);
}

}  // namespace
}  // namespace kt
