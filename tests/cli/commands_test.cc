// The command line as a line script meets it: command lines with their exit statuses and the lines that
// must (or must not) appear, on the simulated board in virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli_app.h"
#include "app/cli/result_table.h"
#include "base/sha256.h"
#include "cli/cli_run.h"
#include "image/default_image.h"
#include "image/image_tags.h"
#include "support/scripted_backend.h"

namespace kt {
namespace {

using test::ScriptedBackend;

using test::ReadAll;
using Output = test::CliOutcome;

Output RunCommand(const std::vector<std::string>& args, CliHooks hooks = {}) {
  return test::RunCliWith(args, std::move(hooks));
}

std::string Temp(const std::string& name) {
  return test::TempPath(name);
}

void WriteImage(const std::string& path, std::vector<std::uint8_t> bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::size_t TagOffset(const TagName& tag) {
  const auto at = std::search(defaultImage.begin(), defaultImage.end(), tag.begin(), tag.end());
  return static_cast<std::size_t>(at - defaultImage.begin());
}
std::size_t CidTagOffset() {
  return TagOffset(kCidTag);
}

class CommandsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::vector<std::uint8_t> image(defaultImage.begin(), defaultImage.end());
    WriteImage(Temp("good.bin"), image);
    WriteImage(Temp("short.bin"), std::vector<std::uint8_t>(image.begin(), image.end() - 1));
    std::vector<std::uint8_t> noTag = image;
    noTag[CidTagOffset()] = 'X';
    WriteImage(Temp("notag.bin"), noTag);
    std::vector<std::uint8_t> badByte = image;
    badByte[CidTagOffset() + kTagLength] = 'A';
    WriteImage(Temp("cidbyte.bin"), badByte);
    // The tags and their records only where the board never gets them: bytes 16,400 and up.
    std::vector<std::uint8_t> upper = image;
    for (const TagName* tag : {&kCidTag, &kFirmwareInfoTag}) {
      const std::size_t from = TagOffset(*tag);
      std::copy_n(image.begin() + from, 64, upper.begin() + 20000 + (tag == &kCidTag ? 0 : 100));
      upper[from] = 'X';
    }
    WriteImage(Temp("upper.bin"), upper);
    std::vector<std::uint8_t> noHighSpeed = image;
    noHighSpeed[TagOffset(kHighSpeedDescriptorTag)] = 'X';
    WriteImage(Temp("nohs.bin"), noHighSpeed);
    // Dumps as read saves them: the programmed part alone.
    const auto dump = [](const std::vector<std::uint8_t>& whole, std::size_t length) {
      return std::vector<std::uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    };
    WriteImage(Temp("dump.bin"), dump(image, kProgrammedLength));
    WriteImage(Temp("dumpshort.bin"), dump(image, kProgrammedLength - 1));
    WriteImage(Temp("dumplong.bin"), dump(image, kProgrammedLength + 1));
    WriteImage(Temp("dumpcid.bin"), dump(badByte, kProgrammedLength));
    WriteImage(Temp("dumpnohs.bin"), dump(noHighSpeed, kProgrammedLength));
  }
};

// "@NAME" in an argument stands for the temporary file NAME.
std::vector<std::string> WithFiles(std::vector<std::string> args) {
  for (std::string& arg : args) {
    const std::size_t at = arg.find('@');
    if (at != std::string::npos && (at == 0 || arg[at - 1] == '='))
      arg = arg.substr(0, at) + Temp(arg.substr(at + 1));
  }
  return args;
}

TEST_F(CommandsTest, EachCommandLineEndsWithItsStatusAndLines) {
  const std::string blank = "--simulate=blank,virtual-time";
  const std::string programmed = "--simulate=virtual-time";
  // A dump is held as the image's programmed part with zeros after it.
  std::vector<std::uint8_t> dumped(kImageSize, 0);
  std::copy_n(defaultImage.begin(), kProgrammedLength, dumped.begin());
  const std::string dumpedSha = "dump.bin, SHA-256 " + Sha256Hex(dumped.data(), dumped.size());
  struct Row {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> outHas;
    std::vector<std::string> errHas;
    std::vector<std::string> errLacks = {};
  };
  const Row rows[] = {
      {{}, 64, {}, {"no command", "Usage: kt7310-eeprom"}},
      {{blank}, 64, {}, {"no command"}},
      {{"write", blank},
       0,
       {"Write to EEPROM OK!"},
       {"simulated board", "SHA-256 ", "opened 3B7D:72F7 at sim:kt7310"}},
      {{"write", blank, "-q"},
       0,
       {"Write to EEPROM OK!"},
       {"simulated board"},
       {"progress", "SHA-256", "opened"}},
      {{"write", blank, "-v"}, 0, {"Write to EEPROM OK!"}, {"s] identify the chip", "s] write the header"}},
      {{"write", blank, "--image", "@good.bin"}, 0, {"Write to EEPROM OK!"}, {"good.bin, SHA-256"}},
      {{"write", blank, "--image", "@short.bin"},
       20,
       {"Error!! Invalid EEPROM FW Content!"},
       {"32783 bytes"}},
      {{"write", blank, "--image", "@notag.bin"},
       20,
       {"Error!! Invalid EEPROM FW Content!"},
       {"no \"KTCIdTag\""}},
      {{"verify", blank, "--image", "@cidbyte.bin"}, 20, {"Invalid EEPROM FW"}, {"is 0x41, not 0x2E"}},
      {{"write", blank, "--image", "@missing.bin"},
       20,
       {"Invalid EEPROM FW"},
       {"invalid image: ", "missing.bin: "}},
      {{"write", blank, "--image", "@upper.bin"},
       20,
       {"Invalid EEPROM FW"},
       {"\"KTCIdTag\" and its 1-byte record end at 0x4E29, past the 16400 bytes that are programmed"}},
      {{"write", blank, "--image", "@nohs.bin", "--evb-ids"}, 20, {"Invalid EEPROM FW"}, {"no \"KTHsDTag\""}},
      {{"write", blank, "--image", "@nohs.bin"}, 0, {"Write to EEPROM OK!"}, {}},
      {{"write", blank, "--image", "@dump.bin"}, 0, {"Write to EEPROM OK!"}, {dumpedSha}},
      {{"verify", programmed, "--image", "@dump.bin"}, 0, {"verify: all 16400 bytes match"}, {dumpedSha}},
      {{"write", blank, "--image", "@dumpshort.bin"}, 20, {"Invalid EEPROM FW"}, {"16399 bytes, an image"}},
      {{"write", blank, "--image", "@dumplong.bin"},
       20,
       {"Invalid EEPROM FW"},
       {"16401 bytes, an image has exactly 32784, or 16400 as read saves it"}},
      {{"verify", blank, "--image", "@dumpcid.bin"}, 20, {"Invalid EEPROM FW"}, {"is 0x41, not 0x2E"}},
      {{"write", blank, "--image", "@dumpnohs.bin", "--evb-ids"},
       20,
       {"Invalid EEPROM FW"},
       {"no \"KTHsDTag\""}},
      {{"read", blank, "--output", "-", "--json"}, 64, {}, {"both want standard output"}},
      {{"read", blank, "--output", ::testing::TempDir()}, 64, {}, {"--output "}, {"opened"}},
      {{"read", blank, "--output", "@no/such/x"}, 64, {}, {"cannot be used"}, {"opened"}},
      {{"write", blank, "--vid", "12345"}, 64, {}, {"--vid"}},
      {{"write", blank, "--vid", "0x3B7D", "--pid", "72f7"},
       0,
       {"Write to EEPROM OK!"},
       {"opened 3B7D:72F7"}},
      {{"write", "--simulate=blank,virtual-time,chip-id=5"}, 2, {"Try Again!(-2)"}, {}},
      {{"write", "--simulate=virtual-time,manual-replug,unplug@1"},
       23,
       {"EEPROM Can't be Written!!(-1)"},
       {}},
      {{"write", blank, "--device", "sim:other"},
       22,
       {"USB deivce is NOT found!!(-2)"},
       {"--device sim:other"}},
      {{"write", blank, "--device", "sim:kt7310"}, 0, {"Write to EEPROM OK!"}, {"at sim:kt7310 (--device)"}},
      {{"info", programmed},
       0,
       {"chip ID: 0x07", "chip version: 0x7381", "image firmware 6087, expected 5067"},
       {}},
      {{"info", "--simulate=virtual-time,chip-version=0x7390"}, 4, {"Try Again!(-4)"}, {}},
      {{"verify", programmed}, 0, {"verify: all 16400 bytes match the image"}, {}},
      {{"verify", "--simulate=virtual-time,flip@0x1234:3"},
       12,
       {"verify: 1 bytes differ, first at 0x1234"},
       {}},
      {{"verify", blank}, 12, {"verify: "}, {}},
      {{"read", blank, "--output", "@read.bin"}, 0, {"read: 16400 bytes written to "}, {}},
      {{"read", "--simulate=blank,virtual-time,silent@20", "--output", "@never.bin"},
       9,
       {"Try Again!(-9)"},
       {}},
      {{"probe", programmed}, 2, {"No blank board answers"}, {}},
      // Options a command cannot use are refused, not ignored.
      {{"probe", blank, "--vid", "1234"}, 64, {}, {"--vid does not apply to probe"}},
      {{"list", blank, "--pid", "1"}, 64, {}, {"--pid does not apply to list"}},
      {{"station", blank, "-v"}, 64, {}, {"--verbose does not apply to station"}},
      {{"write", blank, "--port", "sim-1"}, 64, {}, {"--port does not apply to write"}},
      {{"write", blank, "--wait=soon"}, 64, {}, {"--wait takes a whole number"}},
      // The fallback list stays the dialog's rule, but typed IDs that found nothing are said, even with -q.
      {{"write", blank, "-q", "--vid", "3b7d", "--pid", "9999"},
       0,
       {"Write to EEPROM OK!"},
       {"no board answers at the typed 3B7D:9999; the job took 3B7D:72F7"}},
      {{"verify", "--simulate=virtual-time,chip-id=5"}, 2, {"Try Again!(-2)"}, {"verify writes nothing"}},
      {{"write", blank, "--wait", "5"}, 0, {"Write to EEPROM OK!"}, {}, {"--wait"}},
      // Ports: list shows them, --device takes one, the station can be kept to some.
      {{"list", "--simulate=boards=2,virtual-time"}, 0, {"sim:kt7310-2\tport sim-2\tvendor 0x3B7D"}, {}},
      {{"write", "--simulate=boards=3,blank,virtual-time", "--device", "sim-2"},
       0,
       {"Write to EEPROM OK!"},
       {"opened 3B7D:72F7 at sim:kt7310-2"}},
      // A programmed board at a port: the erase's re-plug is followed there.
      {{"write", "--yes", "--simulate=boards=2,virtual-time", "--device", "sim-2"},
       0,
       {"Please re-plugin USB device", "Write to EEPROM OK!"},
       {"opened 3B7D:72F7 at sim:kt7310-2"}},
      {{"station", "--simulate=boards=3,blank,virtual-time", "--port", "sim-3", "--port", "sim-1"},
       0,
       {"[sim-1] Write to EEPROM OK!", "[sim-3] Write to EEPROM OK!", "Succeeded: 2  Failed: 0"},
       {}},
      {{"list", programmed}, 0, {"sim:kt7310\tvendor 0x3B7D"}, {}},
      {{"write", blank, "--json"},
       0,
       {"{\"caption\":\"\",\"event\":\"box\",\"icon\":\"none\",\"port\":null,\"text\":\"Write to EEPROM "
        "OK!\"}",
        "\"event\":\"device\"", "\"event\":\"result\"", "\"exit_status\":0", "\"result\":0",
        "\"chip_id\":\"0x07\"", "\"simulated\":true", "\"image_sha256\":\""},
       {"simulated board"}},
  };
  for (const Row& row : rows) {
    const std::vector<std::string> args = WithFiles(row.args);
    std::string line;
    for (const std::string& arg : args) line += arg + " ";
    const Output run = RunCommand(args);
    EXPECT_EQ(run.status, row.status) << line << "\n" << run.out << run.err;
    for (const std::string& text : row.outHas)
      EXPECT_NE(run.out.find(text), std::string::npos) << line << run.out;
    for (const std::string& text : row.errHas)
      EXPECT_NE(run.err.find(text), std::string::npos) << line << run.err;
    for (const std::string& text : row.errLacks)
      EXPECT_EQ(run.err.find(text), std::string::npos) << line << run.err;
  }
  EXPECT_FALSE(std::ifstream(Temp("never.bin")).good()) << "a failed read left a file behind";
}

// A board written with the EVB IDs answers under them afterwards, and is found there again.
TEST_F(CommandsTest, TheEvbIdsFindTheBoardTheyWrote) {
  const std::string eeprom = Temp("evb.eeprom");
  std::remove(eeprom.c_str());
  const std::string board = "--simulate=virtual-time,eeprom=" + eeprom;
  ASSERT_EQ(RunCommand({"write", "--yes", "--evb-ids", board}).status, 0);
  for (const char* command : {"verify", "info"}) {
    const Output run = RunCommand({command, "--evb-ids", board});
    EXPECT_EQ(run.status, 0) << command << run.err;
    EXPECT_NE(run.err.find("opened 3B7D:0001"), std::string::npos) << command << run.err;
  }
  // Written again: the erase found it there too.
  EXPECT_EQ(RunCommand({"write", "--yes", "--evb-ids", board}).status, 0);
  EXPECT_EQ(RunCommand({"verify", board}).status, 21)
      << "without --evb-ids the board is not looked for there";
}

// explain as a script and an operator type it: a box's number with or without its sign, an exit status,
// nothing (every row); the same rows as text and as JSON, and usage errors that name the argument.
TEST(ExplainTest, EachFormPrintsItsRows) {
  using Rows = std::vector<std::pair<int, int>>;  // number, exit status, in the order printed
  struct Case {
    std::vector<std::string> args;
    int status;
    Rows rows;
    std::string named = "";  // a usage error's message names it
  };
  std::vector<Case> cases = {
      {{"explain", "-8"}, 0, {{-8, 8}}},
      {{"explain", "8"}, 0, {{-8, 8}}},
      {{"explain", "-13"}, 0, {{-13, 13}}},
      {{"explain", "26"}, 0, {{26, 26}}},
      {{"explain", "20"}, 0, {{20, 20}}},
      {{"explain", "21"}, 0, {{-1, 21}}},
      {{"explain", "-1"}, 0, {{-1, 1}, {-1, 21}, {-1, 23}}},
      {{"explain", "2"}, 0, {{-2, 2}, {2, 2}, {-2, 22}, {-2, 24}}},
      {{"explain", "12"}, 0, {{-12, 12}, {12, 12}}},
      {{"explain", "-12"}, 0, {{-12, 12}}},
      {{"explain", "130"}, 0, {{130, 130}}},
      {{"explain", "99"}, 64, {}, "\"99\""},
      {{"explain", "-21"}, 64, {}, "\"-21\""},
      {{"explain", "-0"}, 64, {}, "\"-0\""},
      {{"explain", "8", "9"}, 64, {}, "argument 9"},
      {{"explain", "-8", "-9"}, 64, {}, "argument -9"},
      {{"explain", "-8", "--simulate"}, 64, {}, "--simulate"},
      {{"explain", "-q"}, 64, {}, "-q"},
  };
  Rows all;
  for (const ResultRow& row : ResultTable()) all.emplace_back(row.number, row.exitStatus);
  cases.push_back({{"explain"}, 0, all});

  for (const Case& c : cases) {
    for (const bool json : {false, true}) {
      std::vector<std::string> args = c.args;
      if (json) args.push_back("--json");
      std::string line;
      for (const std::string& arg : args) line += arg + " ";
      const Output run = RunCommand(args);
      EXPECT_EQ(run.status, c.status) << line << "\n" << run.err;
      EXPECT_NE(run.err.find(c.named), std::string::npos) << line << run.err;
      Rows printed;
      std::istringstream lines(run.out);
      for (std::string text; std::getline(lines, text);) {
        if (!json) {
          // A row begins with its heading; its step and next lines are indented, rows apart by a blank.
          if (text.empty() || text.starts_with(" ")) continue;
          const std::size_t status = text.find("exit status ");
          ASSERT_NE(status, std::string::npos) << text;
          const int exitStatus = std::stoi(text.substr(status + 12));
          printed.emplace_back(status == 0 ? exitStatus : std::stoi(text), exitStatus);
          continue;
        }
        // Each row's fields are the schema test's; a usage error's result object carries no row.
        const nlohmann::json row = nlohmann::json::parse(text);
        if (row.value("event", "") != "explain") continue;
        const int number = row["number"];
        // A box's number is the one it shows.
        if (number < 0) {
          EXPECT_TRUE(row["box"].get<std::string>().ends_with(std::to_string(number) + ")")) << text;
        }
        printed.emplace_back(number, row["exit_status"]);
      }
      EXPECT_EQ(printed, c.rows) << line << "\n" << run.out;
    }
  }
}

TEST_F(CommandsTest, ARefusedImageSendsNoReport) {
  for (const char* file : {"short.bin", "notag.bin", "cidbyte.bin", "upper.bin"}) {
    const std::string trace = Temp("refused_trace.txt");
    std::remove(trace.c_str());
    const Output run =
        RunCommand({"write", "--simulate=blank,virtual-time", "--trace", trace, "--image", Temp(file)});
    EXPECT_EQ(run.status, 20) << file;
    EXPECT_EQ(ReadAll(trace).find("\tOUT\t"), std::string::npos) << file;
  }
}

TEST_F(CommandsTest, ReadAfterWriteGivesTheImagesFirstBytes) {
  const std::string eeprom = Temp("roundtrip.eeprom");
  std::remove(eeprom.c_str());
  ASSERT_EQ(RunCommand({"write", "--simulate=blank,virtual-time,eeprom=" + eeprom}).status, 0);
  const std::string output = Temp("roundtrip.bin");
  ASSERT_EQ(RunCommand({"read", "--simulate=virtual-time,eeprom=" + eeprom, "--output", output}).status, 0);
  const std::string read = ReadAll(output);
  ASSERT_EQ(read.size(), 16400u);
  const Output toStdout = RunCommand({"read", "--simulate=virtual-time,eeprom=" + eeprom, "--output", "-"});
  EXPECT_EQ(toStdout.status, 0);
  EXPECT_TRUE(toStdout.out == read) << "--output - did not put the same bytes on standard output";
  EXPECT_TRUE(std::equal(read.begin(), read.end(), defaultImage.begin(),
                         [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
  // Reading wrote nothing to the board: it still verifies.
  EXPECT_EQ(RunCommand({"verify", "--simulate=virtual-time,eeprom=" + eeprom}).status, 0);
}

TEST_F(CommandsTest, NoBoardAtAllIsNotFoundAndSeveralBoardsAreNamed) {
  CliHooks none;
  none.backend = std::make_unique<ScriptedBackend>();
  const Output nothing = RunCommand({"write"}, std::move(none));
  EXPECT_EQ(nothing.status, 21) << nothing.out;
  EXPECT_NE(nothing.out.find("USB deivce is NOT found!!(-1)"), std::string::npos);

  CliHooks two;
  auto backend = std::make_unique<ScriptedBackend>();
  backend->AddInterface(ScriptedBackend::Device("a", 0x3B7D, 0x7310));
  backend->AddInterface(ScriptedBackend::Device("b", 0x3B7D, 0x72F7));
  backend->AddInterface(ScriptedBackend::Device("c", 0x1234, 0x7310));
  two.backend = std::move(backend);
  const Output named = RunCommand({"info"}, std::move(two));
  EXPECT_NE(named.err.find("2 HID interfaces answer at the job's IDs: a (3B7D:7310) b (3B7D:72F7)"),
            std::string::npos)
      << named.err;
}

// Calls `onWrite` with the number of every report written through it.
class WriteCountingBackend final : public HidBackend {
 public:
  WriteCountingBackend(std::unique_ptr<HidBackend> inner, std::function<void(int)> onWrite)
      : inner_(std::move(inner)), onWrite_(std::move(onWrite)) {}
  std::string Name() const override { return inner_->Name(); }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override { return inner_->ListInterfaces(); }
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override {
    std::unique_ptr<HidDeviceHandle> handle = inner_->Open(path, mode);
    return handle ? std::make_unique<Handle>(std::move(handle), *this) : nullptr;
  }

 private:
  class Handle final : public HidDeviceHandle {
   public:
    Handle(std::unique_ptr<HidDeviceHandle> inner, WriteCountingBackend& owner)
        : inner_(std::move(inner)), owner_(owner) {}
    bool GetAttributes(HidAttributes& out) override { return inner_->GetAttributes(out); }
    bool GetCaps(HidCaps& out) override { return inner_->GetCaps(out); }
    bool WriteReport(const std::uint8_t* data, std::size_t length, std::size_t& written) override {
      owner_.onWrite_(++owner_.writes_);
      return inner_->WriteReport(data, length, written);
    }
    HidReadResult ReadReport(std::uint8_t* buffer, std::size_t capacity, std::uint32_t timeoutMs) override {
      return inner_->ReadReport(buffer, capacity, timeoutMs);
    }
    void CancelRead() override { inner_->CancelRead(); }
    void CancelWrite() override { inner_->CancelWrite(); }

   private:
    std::unique_ptr<HidDeviceHandle> inner_;
    WriteCountingBackend& owner_;
  };

  std::unique_ptr<HidBackend> inner_;
  std::function<void(int)> onWrite_;
  std::atomic<int> writes_{0};
};

// Ctrl-C in the middle of the body: the job stops at its next step, its boxes appear, exit 130.
TEST_F(CommandsTest, AnInterruptStopsTheJobAndShowsItsBoxes) {
  std::function<void()> interrupt;
  CliHooks hooks;
  hooks.takeInterrupt = [&](std::function<void()> fn) { interrupt = std::move(fn); };
  hooks.wrapBackend = [&](std::unique_ptr<HidBackend> inner) -> std::unique_ptr<HidBackend> {
    return std::make_unique<WriteCountingBackend>(std::move(inner), [&](int write) {
      if (write == 200) interrupt();
    });
  };
  const Output run = RunCommand({"write", "--simulate=blank,virtual-time", "--json"}, std::move(hooks));
  EXPECT_EQ(run.status, 130) << run.out << run.err;
  EXPECT_NE(run.out.find("Fail to write EEPROM!!"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Try Again!(-8)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"exit_status\":130"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("interrupted"), std::string::npos) << run.err;
}

// A job that gives no sign of life (here: a board that stops taking reports at request 50) ends the
// command line with 25 once the bound has passed, instead of waiting for ever: the stop cancels the held
// write and gets the worker back.
TEST_F(CommandsTest, AJobWithNoSignOfLifeEndsWith25) {
  CliHooks hooks;
  hooks.quietBoundMs = 200;
  hooks.virtualWaitBoundMs = 50;
  const Output run = RunCommand({"write", "--simulate=blank,virtual-time,hang@50"}, std::move(hooks));
  EXPECT_EQ(run.status, 25) << run.out << run.err;
  EXPECT_NE(run.err.find("no sign of life"), std::string::npos) << run.err;
}

// A write that not even a cancel brings back: the process ends with 27 and says why, never hangs.
[[noreturn]] void RunWithAWedgedBoard(const char* command) {
  CliHooks hooks;
  hooks.quietBoundMs = 200;
  hooks.virtualWaitBoundMs = 50;
  std::ostringstream out;
  std::istringstream in;
  ConsoleIo io{out, std::cerr, in, false, false};
  RunCli({command, "--simulate=blank,virtual-time,wedge@50"}, io, std::move(hooks));
  std::_Exit(0);  // the run came back: the fault this test is here for
}

TEST(CommandsDeathTest, AWriteThatNeverComesBackEndsTheProcessWith27) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const char* command : {"write", "station"}) {
    EXPECT_EXIT(RunWithAWedgedBoard(command), testing::ExitedWithCode(27), "still inside a device call")
        << command;
  }
}

}  // namespace
}  // namespace kt

namespace kt {
namespace {

// Standard output that takes `room` bytes and then fails, as a full disk or a reader gone away does.
class FailingOutput : public std::streambuf {
 public:
  explicit FailingOutput(std::size_t room) : room_(room) {}
  std::string taken;

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    if (taken.size() >= room_) return traits_type::eof();
    taken.push_back(static_cast<char>(c));
    return c;
  }

 private:
  std::size_t room_;
};

// A job that has begun is never cut short because its output went away: it ends as it would have, its
// record is written, and the run says its results were lost (28), unless the job's own status says more.
TEST(OutputLostTest, TheJobRunsToItsEndAndTheRunDoesNotEndZero) {
  const std::string record = test::TempPath("lost.jsonl");
  std::remove(record.c_str());
  const struct {
    std::vector<std::string> args;
    std::size_t room;
    int status;
  } rows[] = {
      {{"write", "--simulate=blank,virtual-time"}, 0, 28},
      {{"write", "--simulate=blank,virtual-time", "--json"}, 300, 28},
      {{"write", "--simulate=blank,virtual-time,chip-id=5"}, 0, 2},
      {{"station", "--simulate=boards=2,blank,virtual-time", "--record", record, "--json"}, 200, 28},
      {{"explain"}, 0, 28},
  };
  for (const auto& row : rows) {
    FailingOutput failing(row.room);
    std::ostream out(&failing);
    std::ostringstream err;
    std::istringstream in;
    ConsoleIo io{out, err, in, false, false};
    EXPECT_EQ(RunCli(row.args, io), row.status) << row.args[0] << " " << row.room << "\n" << err.str();
    EXPECT_NE(err.str().find("standard output"), std::string::npos) << err.str();
    EXPECT_EQ(err.str().find("interrupted"), std::string::npos) << err.str();
  }
  // Both station boards were written and recorded though nobody read their lines.
  const std::string lines = ReadAll(record);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2) << lines;
  EXPECT_EQ(test::CountOf(lines, "\"Write to EEPROM OK!\""), 2u) << lines;
}

}  // namespace
}  // namespace kt
