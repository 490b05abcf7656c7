#include "app/window_command_line.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

WindowOptions Parsed(const std::vector<std::string>& args) {
  WindowOptions options;
  std::string error;
  EXPECT_TRUE(ParseWindowCommandLine(args, options, error)) << error;
  return options;
}

TEST(WindowCommandLineTest, SimulateTheBareFormAndTheFormWithOptionsTheLastCounts) {
  EXPECT_FALSE(Parsed({}).simulate.has_value());
  EXPECT_EQ(Parsed({"--simulate"}).simulate, "");
  EXPECT_EQ(Parsed({"--simulate="}).simulate, "");
  EXPECT_EQ(Parsed({"--simulate=blank", "--simulate=latency=5"}).simulate, "latency=5");
  // The bare form takes nothing from the argument after it.
  EXPECT_EQ(Parsed({"--simulate", "--image", "a.bin"}).imageFile, "a.bin");
}

TEST(WindowCommandLineTest, ValuesInBothFormsAndTheStationsOptions) {
  EXPECT_EQ(Parsed({"--image", "line.bin"}).imageFile, "line.bin");
  EXPECT_EQ(Parsed({"--image=C:\\line.bin"}).imageFile, "C:\\line.bin");
  const WindowOptions station =
      Parsed({"--station", "--record", "r.jsonl", "--slots=s.txt", "--evb-ids", "--quiet", "--image", "i"});
  EXPECT_TRUE(station.station);
  EXPECT_EQ(station.recordFile, "r.jsonl");
  EXPECT_EQ(station.slotsFile, "s.txt");
  EXPECT_TRUE(station.useEvbIds);
  EXPECT_TRUE(station.quiet);
  EXPECT_EQ(station.imageFile, "i");
  // Order does not matter: the station's options may come before --station.
  EXPECT_TRUE(Parsed({"--quiet", "--station"}).quiet);
}

TEST(WindowCommandLineTest, RefusedWithTheArgumentNamedAndTheUsage) {
  const struct {
    std::vector<std::string> args;
    std::string firstLine;
  } cases[] = {
      {{"--simulat=blank"}, "unknown option: --simulat=blank"},
      {{"--simulated"}, "unknown option: --simulated"},
      {{"C:\\image.bin"}, "unknown option: C:\\image.bin"},
      {{"-s"}, "unknown option: -s"},
      {{"--image"}, "--image needs a file name"},
      {{"--image="}, "--image needs a file name"},
      {{"--station", "--record"}, "--record needs a file name"},
      {{"--record", "r.jsonl"}, "--record is an option of --station"},
      {{"--slots=s"}, "--slots is an option of --station"},
      {{"--evb-ids"}, "--evb-ids is an option of --station"},
      {{"--quiet", "--image", "i"}, "--quiet is an option of --station"},
  };
  for (const auto& c : cases) {
    WindowOptions options;
    std::string error;
    EXPECT_FALSE(ParseWindowCommandLine(c.args, options, error)) << c.firstLine;
    EXPECT_EQ(error.substr(0, error.find('\n')), c.firstLine);
    EXPECT_NE(error.find(kWindowUsage), std::string::npos) << c.firstLine;
  }
}

}  // namespace
}  // namespace kt
