#include "app/cli/command_line.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

struct Parsed {
  bool ok;
  CliOptions options;
  std::string error;
};

Parsed Parse(std::vector<std::string> args) {
  Parsed parsed;
  parsed.ok = ParseCommandLine(args, parsed.options, parsed.error);
  return parsed;
}

TEST(CommandLineTest, IdsAreStrictHexAndGoIntoTheFieldsAsTyped) {
  const Parsed ids = Parse({"erase", "--vid", "0x3b7d", "--pid=F"});
  ASSERT_TRUE(ids.ok) << ids.error;
  EXPECT_EQ(ids.options.command, CliCommand::kErase);
  EXPECT_EQ(ids.options.vendorIdText, "0x3b7d");
  EXPECT_EQ(ids.options.productIdText, "F");
  for (const char* bad : {"", "0x", "12345", "zz", "3b7d ", " 3b7d", "0x0x1", "-1"}) {
    const Parsed parsed = Parse({"write", "--vid", bad});
    EXPECT_FALSE(parsed.ok) << bad;
    EXPECT_NE(parsed.error.find("--vid"), std::string::npos) << parsed.error;
  }
}

TEST(CommandLineTest, SimulateTakesItsOptionsOnlyAfterAnEqualsSign) {
  const Parsed bare = Parse({"--simulate", "probe"});
  ASSERT_TRUE(bare.ok) << bare.error;
  EXPECT_TRUE(bare.options.simulate);
  EXPECT_EQ(bare.options.command, CliCommand::kProbe);

  const Parsed withOptions = Parse({"--simulate=blank,virtual-time,chip-id=5", "write", "--evb-ids", "-y"});
  ASSERT_TRUE(withOptions.ok) << withOptions.error;
  EXPECT_EQ(withOptions.options.sim.start, SimOptions::StartState::kBlank);
  EXPECT_TRUE(withOptions.options.sim.virtualTime);
  EXPECT_EQ(withOptions.options.sim.chipId, 5);
  EXPECT_TRUE(withOptions.options.useEvbIds);
  EXPECT_TRUE(withOptions.options.yes);
}

TEST(CommandLineTest, UsageErrorsNameWhatWasWrong) {
  struct Case {
    std::vector<std::string> args;
    std::string named;
  };
  const Case cases[] = {
      {{"--bogus"}, "--bogus"},
      {{"frobnicate"}, "frobnicate"},
      {{"write", "erase"}, "erase"},
      {{"--vid"}, "--vid"},
      {{"--trace"}, "--trace"},
      {{"--yes=1"}, "--yes"},
      {{"--simulate=warp-speed"}, "warp-speed"},
      {{}, "no command"},
      {{"--simulate"}, "no command"},
      {{"read"}, "--output"},
      {{"erase", "--image", "x.bin"}, "--image"},
      {{"list", "--device", "/dev/hidraw0"}, "--device"},
      {{"verify", "--yes"}, "--yes"},
      {{"write", "-q", "-v"}, "--verbose"},
      {{"write", "--image="}, "--image"},
  };
  for (const Case& c : cases) {
    const Parsed parsed = Parse(c.args);
    EXPECT_FALSE(parsed.ok) << c.named;
    EXPECT_NE(parsed.error.find(c.named), std::string::npos) << parsed.error;
  }
}

}  // namespace
}  // namespace kt
