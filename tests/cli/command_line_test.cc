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

TEST(CommandLineTest, WriteIsTheDefaultAndFieldsAreLeftToTheDialog) {
  const Parsed none = Parse({});
  ASSERT_TRUE(none.ok);
  EXPECT_EQ(none.options.command, CliCommand::kWrite);
  EXPECT_FALSE(none.options.vendorIdText);
  EXPECT_FALSE(none.options.simulate);

  // The ID texts go into the fields unparsed: "0x3b7d" and even "" are the dialog's to read.
  const Parsed ids = Parse({"erase", "--vid", "0x3b7d", "--pid="});
  ASSERT_TRUE(ids.ok) << ids.error;
  EXPECT_EQ(ids.options.command, CliCommand::kErase);
  EXPECT_EQ(ids.options.vendorIdText, "0x3b7d");
  EXPECT_EQ(ids.options.productIdText, "");
}

TEST(CommandLineTest, SimulateTakesItsOptionsOnlyAfterAnEqualsSign) {
  const Parsed bare = Parse({"--simulate", "probe"});
  ASSERT_TRUE(bare.ok) << bare.error;
  EXPECT_TRUE(bare.options.simulate);
  EXPECT_EQ(bare.options.command, CliCommand::kProbe);

  const Parsed withOptions = Parse({"--simulate=blank,virtual-time,chip-id=5", "--evb-ids", "-y"});
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
  };
  for (const Case& c : cases) {
    const Parsed parsed = Parse(c.args);
    EXPECT_FALSE(parsed.ok) << c.named;
    EXPECT_NE(parsed.error.find(c.named), std::string::npos) << parsed.error;
  }
}

}  // namespace
}  // namespace kt
