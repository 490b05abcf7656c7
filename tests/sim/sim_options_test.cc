#include "hid/sim/sim_options.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

TEST(SimOptionsTest, EmptyTextGivesAProgrammedFaultFreeBoard) {
  SimOptions options;
  options.latencyMs = 99;
  std::string error;
  ASSERT_TRUE(ParseSimOptions("  ", options, error));
  EXPECT_EQ(options.start, SimOptions::StartState::kProgrammed);
  EXPECT_EQ(options.latencyMs, 0u);
  EXPECT_TRUE(options.silent.empty());
  EXPECT_EQ(options.chipId, kExpectedChipId);
  EXPECT_EQ(options.chipVersion, kChipVersion);
}

TEST(SimOptionsTest, EveryOptionLandsInItsField) {
  SimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimOptions(
      "blank, silent@3,silent@0x10,stray@4:2,short@5,badlen@6,flip@0x4000:7,lie@12,unplug@9,hang@10,wedge@11,"
      "chip-id=8,"
      "chip-version=0x7390,wp-stuck,latency=25,manual-replug,virtual-time,eeprom=/tmp/board.bin",
      o, error))
      << error;
  EXPECT_EQ(o.start, SimOptions::StartState::kBlank);
  EXPECT_EQ(o.silent, (std::vector<std::uint32_t>{3, 16}));
  ASSERT_EQ(o.stray.size(), 1u);
  EXPECT_EQ(o.stray[0].request, 4u);
  EXPECT_EQ(o.stray[0].count, 2u);
  EXPECT_EQ(o.shortAnswer, (std::vector<std::uint32_t>{5}));
  EXPECT_EQ(o.badLength, (std::vector<std::uint32_t>{6}));
  ASSERT_EQ(o.flip.size(), 1u);
  EXPECT_EQ(o.flip[0].address, 0x4000);
  EXPECT_EQ(o.flip[0].bit, 7);
  EXPECT_EQ(o.lie, (std::vector<std::uint16_t>{12}));
  EXPECT_EQ(o.unplug, (std::vector<std::uint32_t>{9}));
  EXPECT_EQ(o.hang, (std::vector<std::uint32_t>{10}));
  EXPECT_EQ(o.wedge, (std::vector<std::uint32_t>{11}));
  EXPECT_EQ(o.chipId, 8);
  EXPECT_EQ(o.chipVersion, 0x7390);
  EXPECT_TRUE(o.wpStuck);
  EXPECT_EQ(o.latencyMs, 25u);
  EXPECT_TRUE(o.manualReplug);
  EXPECT_TRUE(o.virtualTime);
  EXPECT_EQ(o.eepromFile, "/tmp/board.bin");
}

TEST(SimOptionsTest, BadOptionsAreRefusedByNameAndLeaveTheOptionsAlone) {
  const char* const bad[] = {"frobnicate",  "silent",      "silent@",   "silent@0",
                             "silent@x",    "silent@3x",   "stray@2",   "stray@2:0",
                             "stray@:3",    "flip@0x10",   "flip@1:8",  "flip@0x10000:1",
                             "lie@-1",      "chip-id=256", "chip-id",   "chip-version=0x10000",
                             "latency=abc", "eeprom=",     "blank=1",   "wp-stuck@2",
                             "short=3",     "0x",          "latency=0x"};
  for (const char* item : bad) {
    SimOptions options;
    options.latencyMs = 7;
    std::string error;
    EXPECT_FALSE(ParseSimOptions(std::string("blank,") + item, options, error)) << item;
    EXPECT_NE(error.find(std::string("\"") + item + "\""), std::string::npos) << error;
    EXPECT_EQ(options.latencyMs, 7u) << item;
    EXPECT_EQ(options.start, SimOptions::StartState::kProgrammed) << item;
  }
}

TEST(SimOptionsTest, EmptyItemsAndContradictionsAreRefused) {
  SimOptions options;
  std::string error;
  EXPECT_FALSE(ParseSimOptions("blank,,silent@1", options, error));
  EXPECT_FALSE(ParseSimOptions("silent@1,", options, error));
  EXPECT_FALSE(ParseSimOptions("blank,programmed", options, error));
  EXPECT_NE(error.find("blank"), std::string::npos);
}

}  // namespace
}  // namespace kt
