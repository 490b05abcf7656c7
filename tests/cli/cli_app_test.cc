#include "app/cli/cli_app.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/write_eeprom_dialog.h"

namespace kt {
namespace {

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
  std::string inLeft;  // what the program left unread on its input
};

CliRun RunWith(std::vector<std::string> args, bool terminal = false, const std::string& input = "") {
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in(input);
  ConsoleIo io{out, err, in, terminal, terminal};
  CliRun run;
  run.status = RunCli(args, io);
  run.out = out.str();
  run.err = err.str();
  std::getline(in, run.inLeft, '\0');
  return run;
}

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST(CliAppTest, TheReplugBoxWaitsForEnterOnlyAtATerminalWithoutYes) {
  const CliRun waits = RunWith({"erase", "--simulate=virtual-time"}, true, "\nrest");
  EXPECT_EQ(waits.status, 0);
  EXPECT_EQ(waits.out, Lines({prep_text::kReplug}));
  EXPECT_NE(waits.err.find("press Enter"), std::string::npos);
  EXPECT_EQ(waits.inLeft, "rest");

  const CliRun yes = RunWith({"erase", "--simulate=virtual-time", "--yes"}, true, "\nrest");
  EXPECT_EQ(yes.status, 0);
  EXPECT_EQ(yes.inLeft, "\nrest");
}

TEST(CliAppTest, ProbeTellsWhetherABlankBoardAnswers) {
  const CliRun blank = RunWith({"probe", "--simulate=blank,virtual-time"});
  EXPECT_EQ(blank.status, 0);
  EXPECT_NE(blank.out.find("A blank board answers"), std::string::npos);
  const CliRun programmed = RunWith({"probe", "--simulate=virtual-time"});
  EXPECT_EQ(programmed.status, 2);
  EXPECT_NE(programmed.out.find("No blank board answers"), std::string::npos);
}

TEST(CliAppTest, ListShowsIdsAndReportLengths) {
  const CliRun run = RunWith({"list", "--simulate=virtual-time"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "sim:kt7310\tport sim:kt7310\tvendor 0x3B7D product 0x7310 input 33 output 17 report ID 0\n");
}

TEST(CliAppTest, TraceRecordsTheReports) {
  const std::string path = ::testing::TempDir() + "cli_app_test_trace.txt";
  const CliRun run = RunWith({"write", "--simulate=blank,virtual-time", "--trace", path});
  EXPECT_EQ(run.status, 0);
  std::ifstream trace(path);
  std::string text((std::istreambuf_iterator<char>(trace)), std::istreambuf_iterator<char>());
  // The first tagged request after start-up is the write-protect read, with tag 1.
  EXPECT_NE(text.find("\tOUT\t00 01 22 04 00"), std::string::npos) << text.substr(0, 400);
  EXPECT_NE(text.find("\tIN\t"), std::string::npos);
  std::remove(path.c_str());
}

TEST(CliAppTest, UsageErrorsExit64AndNameTheProblem) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"--simulate=warp-speed"}, {"frobnicate"}, {"--trace", "/nonexistent-dir/x/trace"}}) {
    const CliRun run = RunWith(args);
    EXPECT_EQ(run.status, 64) << args[0];
    EXPECT_NE(run.err.find("kt7310-eeprom: "), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty());
  }
  const CliRun help = RunWith({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: kt7310-eeprom"), std::string::npos);
}

}  // namespace
}  // namespace kt
