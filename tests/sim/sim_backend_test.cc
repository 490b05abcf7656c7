#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "hid/chip_registers.h"
#include "hid/sim/sim_board.h"
#include "sim/sim_port.h"

namespace kt {
namespace {

TEST(SimBackendTest, PresentsOneInterfaceWithTheChipsIdsAndReportLayout) {
  VirtualClock clock;
  SimOptions options;
  options.start = SimOptions::StartState::kBlank;
  SimBackend backend(options, clock);
  auto list = backend.ListInterfaces();
  std::string path;
  ASSERT_EQ(list->Next(0, path), HidEnumStep::kInterface);
  EXPECT_EQ(list->Next(1, path), HidEnumStep::kEnd);
  EXPECT_EQ(backend.Open("some/other/path", HidOpenMode::kPlain), nullptr);

  auto handle = backend.Open(path, HidOpenMode::kPlain);
  ASSERT_NE(handle, nullptr);
  HidAttributes attributes;
  ASSERT_TRUE(handle->GetAttributes(attributes));
  EXPECT_EQ(attributes.vendorId, kKtVendorId);
  EXPECT_EQ(attributes.productId, kBlankProductId);
  HidCaps caps;
  ASSERT_TRUE(handle->GetCaps(caps));
  EXPECT_EQ(caps.inputReportByteLength, 33);
  EXPECT_EQ(caps.outputReportByteLength, 17);
  ASSERT_EQ(caps.outputValueCaps.size(), 1u);
  EXPECT_EQ(caps.outputValueCaps[0].usagePage, 0x0C);
  EXPECT_EQ(caps.outputValueCaps[0].reportId, 0);

  backend.board().Unplug();
  EXPECT_FALSE(handle->GetAttributes(attributes));
  EXPECT_FALSE(handle->GetCaps(caps));
}

class SimBackendFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "sim_backend_test_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
    std::remove(path_.c_str());
  }
  void TearDown() override { std::remove(path_.c_str()); }

  std::vector<std::uint8_t> FileBytes() const {
    std::ifstream in(path_, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  SimOptions Options(const std::string& extra = "") const {
    SimOptions options;
    std::string error;
    EXPECT_TRUE(ParseSimOptions("eeprom=" + path_ + (extra.empty() ? "" : "," + extra), options, error))
        << error;
    return options;
  }

  VirtualClock clock_;
  std::string path_;
};

TEST_F(SimBackendFileTest, BoardPersistsBetweenRunsAndBootsFromTheSavedEeprom) {
  {
    SimBackend backend(Options("blank"), clock_);
    EXPECT_EQ(backend.loadError(), "");
    test::SimPort port(backend);
    port.Exchange(test::RegisterRequest(1, kWriteProtectRegister, true, 0));
    port.Exchange(test::BlockWriteRequest(2, 0x3000, {0xC0, 0xFF, 0xEE}));
  }
  ASSERT_EQ(FileBytes().size(), SimBoard::kEepromSize);
  {
    SimBackend backend(Options("programmed"), clock_);  // the file wins over the starting state
    EXPECT_EQ(backend.loadError(), "");
    EXPECT_EQ(backend.board().Eeprom()[0x3001], 0xFF);
    EXPECT_EQ(backend.board().Eeprom()[0x3002], 0xEE);
    EXPECT_EQ(backend.board().productId(), kBlankProductId);
  }
}

TEST_F(SimBackendFileTest, AFileOfTheWrongSizeIsReportedAndNeverOverwritten) {
  {
    std::ofstream out(path_, std::ios::binary);
    out << "not an eeprom";
  }
  {
    SimBackend backend(Options(), clock_);
    EXPECT_NE(backend.loadError().find(path_), std::string::npos) << backend.loadError();
  }
  EXPECT_EQ(FileBytes().size(), std::string("not an eeprom").size());
}

TEST_F(SimBackendFileTest, SaveReportsAnUnwritablePlace) {
  SimOptions options;
  options.eepromFile = "/nonexistent-dir/board.bin";
  SimBackend backend(options, clock_);
  EXPECT_EQ(backend.loadError(), "");
  std::string error;
  EXPECT_FALSE(backend.SaveEeprom(error));
  EXPECT_NE(error.find("/nonexistent-dir/board.bin"), std::string::npos);
}

}  // namespace
}  // namespace kt
