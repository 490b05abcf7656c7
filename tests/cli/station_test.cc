// The station: every board its own job, each with exactly the outcome it would have had alone.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/cli_app.h"
#include "cli/cli_run.h"
#include "hid/sim/sim_station.h"
#include "support/scripted_backend.h"

namespace kt {
namespace {

using test::ReadAll;
using Output = test::CliOutcome;

Output RunStationCli(const std::vector<std::string>& args, CliHooks hooks = {}) {
  return test::RunCliWith(args, std::move(hooks));
}

std::string Temp(const std::string& name) {
  return test::TempPath(name);
}

std::string LastLine(const std::string& text) {
  const std::size_t end = text.find_last_not_of('\n');
  const std::size_t start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1,
                     end - (start == std::string::npos ? 0 : start + 1) + 1);
}

TEST(StationTest, EachBoardGetsItsOwnSingleBoardOutcome) {
  // The last board is programmed: its job takes the erase path and waits for its own re-plug.
  const std::vector<std::string> faults = {"",          "silent@100",  "", "unplug@500",
                                           "chip-id=5", "flip@0x40:1", "", "programmed"};
  std::string station = "--simulate=boards=8,blank,virtual-time";
  std::vector<std::string> alone;
  for (std::size_t k = 1; k <= faults.size(); ++k) {
    const std::string own = Temp("alone" + std::to_string(k) + ".eeprom");
    const std::string shared = Temp("board" + std::to_string(k) + ".eeprom");
    std::remove(own.c_str());
    std::remove(shared.c_str());
    const std::string fault = faults[k - 1].empty() ? "" : "," + faults[k - 1];
    const std::string start = faults[k - 1] == "programmed" ? "" : "blank,";
    const Output single =
        RunStationCli({"write", "--yes", "--simulate=" + start + "virtual-time" + fault + ",eeprom=" + own});
    alone.push_back(LastLine(single.out));
    station += ",board" + std::to_string(k) + ".eeprom=" + shared;
    if (!fault.empty()) station += ",board" + std::to_string(k) + "." + faults[k - 1];
  }
  const std::string record = Temp("record.jsonl");
  std::remove(record.c_str());
  const Output run = RunStationCli({"station", station, "--record", record});
  EXPECT_EQ(run.status, 30) << run.out << run.err;
  for (std::size_t k = 1; k <= faults.size(); ++k) {
    const std::string line = "[sim-" + std::to_string(k) + "] " + alone[k - 1] + "\n";
    EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
    const std::string alongside = ReadAll(Temp("board" + std::to_string(k) + ".eeprom"));
    EXPECT_FALSE(alongside.empty()) << "board " << k;
    EXPECT_TRUE(alongside == ReadAll(Temp("alone" + std::to_string(k) + ".eeprom"))) << "board " << k;
  }
  EXPECT_NE(run.out.find("Succeeded: 4  Failed: 4"), std::string::npos) << run.out;
  // The erase path of the programmed board: its re-plug message once, with its port in front.
  EXPECT_NE(run.out.find("[sim-8] Please re-plugin"), std::string::npos) << run.out;
  // One record line per board, each a whole object.
  std::istringstream lines(ReadAll(record));
  std::string entry;
  int entries = 0;
  while (std::getline(lines, entry)) {
    EXPECT_EQ(entry.front(), '{');
    EXPECT_EQ(entry.back(), '}');
    EXPECT_NE(entry.find("\"tool_version\""), std::string::npos);
    ++entries;
  }
  EXPECT_EQ(entries, 8);
}

TEST(StationTest, StatusesWithoutBoardsAndWithAnUnwritableRecord) {
  CliHooks none;
  none.backend = std::make_unique<test::ScriptedBackend>();
  EXPECT_EQ(RunStationCli({"station"}, std::move(none)).status, 21);
  const Output record =
      RunStationCli({"station", "--simulate=virtual-time", "--record", "/nonexistent-dir/r.jsonl"});
  EXPECT_EQ(record.status, 64);
  EXPECT_NE(record.err.find("--record"), std::string::npos);
  EXPECT_EQ(record.out, "");
  const Output ok = RunStationCli({"station", "--simulate=boards=2,blank,virtual-time", "--json"});
  EXPECT_EQ(ok.status, 0);
  EXPECT_NE(ok.out.find("\"port\":\"sim-2\""), std::string::npos) << ok.out;
  EXPECT_NE(ok.out.find(
                "{\"event\":\"summary\",\"exit_status\":0,\"failed\":0,\"not_recorded\":0,\"succeeded\":2}"),
            std::string::npos)
      << ok.out;
}

// On a terminal one status line is redrawn in place: the running count, then each running board.
TEST(StationTest, OnATerminalTheCountIsKeptCurrentInOneLine) {
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in;
  ConsoleIo io{out, err, in, true, true};
  ASSERT_EQ(RunCli({"station", "--simulate=boards=2,blank,virtual-time,board2.chip-id=5"}, io), 30);
  // Whichever board ends first, the line ends with both counted and shows a running board's progress.
  EXPECT_NE(err.str().find("\rSucceeded: 1  Failed: 1"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("  [sim-1] 50%"), std::string::npos);
  EXPECT_EQ(err.str().find("progress"), std::string::npos);
}

// The station's view of boards the test owns: the operator may still plug and unplug them after the run
// has ended and let go of its backend. Its notices can be held back and told later, as udev tells a
// removal only once its rules have run.
class BorrowedBackend final : public HidBackend {
 public:
  explicit BorrowedBackend(HidBackend& owner) : owner_(owner) {}
  void HoldNotices() {
    std::lock_guard<std::mutex> lock(mutex_);
    holding_ = true;
  }
  // Tells the notices held, in order, on the caller's thread.
  void ReleaseNotices() {
    std::vector<DeviceChange> held;
    DeviceChangeListener listener;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      holding_ = false;
      held.swap(held_);
      listener = listener_;
    }
    for (const DeviceChange& change : held) {
      if (listener) listener(change);
    }
  }
  std::string Name() const override { return owner_.Name(); }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override { return owner_.ListInterfaces(); }
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override {
    return owner_.Open(path, mode);
  }
  void SetDeviceChangeListener(DeviceChangeListener listener) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      listener_ = listener;
    }
    if (!listener) {
      owner_.SetDeviceChangeListener(nullptr);
      return;
    }
    owner_.SetDeviceChangeListener([this, listener](const DeviceChange& change) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (holding_) {
          held_.push_back(change);
          return;
        }
      }
      listener(change);
    });
  }
  bool ReportsDeviceChanges() const override { return owner_.ReportsDeviceChanges(); }
  std::string PortOf(const std::string& path) override { return owner_.PortOf(path); }

 private:
  HidBackend& owner_;
  std::mutex mutex_;
  bool holding_ = false;
  std::vector<DeviceChange> held_;
  DeviceChangeListener listener_;
};

// A station of simulated boards in virtual time with an operator at it: `operate` runs on its own thread
// while the station runs, and reaches the boards through `boards` and Ctrl-C through `Interrupt`.
class OperatedStation {
 public:
  VirtualClock clock;
  SimStationBackend* boards = nullptr;
  BorrowedBackend* view = nullptr;  // the station's backend, while it runs
  std::string record;

  // `station --simulate=virtual-time --record RECORD`, then `more`, on the boards `options` describe.
  // `io`: where the run prints (by default, strings the result holds); `hooks`: more of them. A record
  // name with a folder separator is taken as the whole path.
  Output Run(const std::string& options, const std::string& recordName, std::vector<std::string> more,
             const std::function<void()>& operate, ConsoleIo* io = nullptr, CliHooks hooks = {}) {
    SimOptions parsed;
    std::string error;
    if (!ParseSimOptions(options, parsed, error)) ADD_FAILURE() << error;
    owned = std::make_unique<SimStationBackend>(parsed, clock);
    boards = owned.get();
    auto borrowed = std::make_unique<BorrowedBackend>(*owned);
    view = borrowed.get();
    hooks.backend = std::move(borrowed);
    hooks.takeInterrupt = [this](std::function<void()> fn) {
      std::lock_guard<std::mutex> lock(mutex);
      interrupt = std::move(fn);
    };
    record = recordName.find_first_of("/\\") == std::string::npos ? Temp(recordName) : recordName;
    std::remove(record.c_str());
    std::vector<std::string> args = {"station", "--simulate=virtual-time", "--record", record};
    args.insert(args.end(), more.begin(), more.end());
    std::thread operatorAtTheStation(operate);
    Output run;
    if (io != nullptr) {
      run.status = RunCli(args, *io, std::move(hooks));
    } else {
      run = RunStationCli(args, std::move(hooks));
    }
    operatorAtTheStation.join();
    return run;
  }
  std::string Record() const { return ReadAll(record); }
  long RecordLines() const {
    const std::string text = Record();
    return std::count(text.begin(), text.end(), '\n');
  }
  // The operator's side: waits (at most about 10 s) for the record to hold `lines` lines.
  bool WaitForRecordLines(long lines) {
    for (int i = 0; i < 2000; ++i) {
      if (RecordLines() >= lines) return true;
      std::unique_lock<std::mutex> lock(mutex);
      nothing.wait_for(lock, std::chrono::milliseconds(5));
    }
    return false;
  }
  // Ctrl-C, once the run has handed it over.
  void Interrupt() {
    std::lock_guard<std::mutex> lock(mutex);
    if (interrupt) {
      interrupt();
    } else {
      ADD_FAILURE() << "Ctrl-C before the station took it";
    }
  }

 private:
  std::unique_ptr<SimStationBackend> owned;
  std::mutex mutex;
  std::condition_variable nothing;
  std::function<void()> interrupt;
};

// sim-2 is programmed and does not re-plug by itself after its erase: its job waits for the operator.
constexpr const char* kSecondWaitsForItsReplug =
    "boards=2,blank,virtual-time,board2.programmed,board2.manual-replug";

// --watch: a board that stays is written once; unplugged and plugged again it is written again; Ctrl-C
// ends the station with every result in.
TEST(StationTest, WatchWritesEachBoardOnceForEachPlugIn) {
  OperatedStation station;
  const Output run = station.Run("boards=2,blank,virtual-time", "watch.jsonl", {"--watch"}, [&] {
    if (station.WaitForRecordLines(2)) {
      station.boards->board(1).board().Unplug();
      station.boards->board(1).board().Plug();
      station.WaitForRecordLines(3);
    }
    station.Interrupt();
  });
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(station.RecordLines(), 3) << station.Record();
  EXPECT_NE(run.out.find("Succeeded: 3  Failed: 0"), std::string::npos) << run.out;
}

// The same, with the removal told only once the board is back (udev tells a removal after its rules have
// run, and on a loaded machine a quick re-plug is back by then): the notice's port says the board left.
TEST(StationTest, WatchWritesAgainABoardWhoseRemovalIsToldOnlyOnceItIsBack) {
  OperatedStation station;
  const Output run = station.Run("boards=2,blank,virtual-time", "late.jsonl", {"--watch"}, [&] {
    if (station.WaitForRecordLines(2)) {
      station.view->HoldNotices();
      station.boards->board(1).board().Unplug();
      station.boards->board(1).board().Plug();
      station.view->ReleaseNotices();
      station.WaitForRecordLines(3);
    }
    station.Interrupt();
  });
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(station.RecordLines(), 3) << station.Record();
}

// Without --watch every board found at the start gets one job, and only those: a board that leaves after
// its job (the device change comes while another board's job still runs) is not written again, whatever
// order the change and the job's end come in.
TEST(StationTest, WithoutWatchABoardThatLeavesAfterItsJobIsNotWrittenAgain) {
  OperatedStation station;
  const Output run = station.Run(kSecondWaitsForItsReplug, "nowatch.jsonl", {}, [&] {
    station.WaitForRecordLines(1);
    station.boards->board(0).board().Unplug();
    station.boards->board(1).board().Unplug();
    station.boards->board(1).board().Plug();
  });
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(station.RecordLines(), 2) << station.Record();
  EXPECT_NE(run.out.find("Succeeded: 2  Failed: 0"), std::string::npos) << run.out;
}

// Ctrl-C on a --watch station while a board waits for its re-plug, and boards still come and go during the
// stop: no board gets a new job after Ctrl-C; the station ends with the stopped job's result in.
TEST(StationTest, WatchStartsNoJobOnceCtrlCHasComeThoughBoardsComeAndGo) {
  OperatedStation station;
  const Output run = station.Run(kSecondWaitsForItsReplug, "stopped.jsonl", {"--watch"}, [&] {
    station.WaitForRecordLines(1);
    station.Interrupt();
    for (int i = 0; i < 3; ++i) {
      station.boards->board(0).board().Unplug();
      station.boards->board(0).board().Plug();
    }
  });
  EXPECT_EQ(station.RecordLines(), 2) << station.Record();
  EXPECT_NE(station.Record().find("\"stage\":\"stopped\""), std::string::npos) << station.Record();
  EXPECT_EQ(run.status, 30) << run.out << run.err;
}

// One board of four whose write never comes back, in a --watch station: that board is given up alone,
// the three others are written and recorded, Ctrl-C ends the watch, the summary is printed, and only then
// does the process end, with 27.
[[noreturn]] void RunAStationWithOneWedgedBoard(OperatedStation& station, const std::string& record) {
  std::istringstream in;
  ConsoleIo io{std::cerr, std::cerr, in, false, false};
  CliHooks hooks;
  hooks.quietBoundMs = 200;
  hooks.virtualWaitBoundMs = 50;
  station.Run(
      "boards=4,blank,virtual-time,board2.wedge@50", record, {"--watch"},
      [&] {
        station.WaitForRecordLines(4);
        station.Interrupt();
      },
      &io, std::move(hooks));
  std::_Exit(0);  // the run came back with a worker still inside a device call
}

TEST(StationDeathTest, AStuckBoardIsGivenUpAloneAndTheOthersRunToTheirEnd) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The death test's process runs this body again: the record's name reaches it through the environment.
  static std::string variable = "KT_STUCK_STATION_RECORD=" + Temp("stuck.jsonl");
  if (std::getenv("KT_STUCK_STATION_RECORD") == nullptr) putenv(variable.data());
  const std::string path = std::getenv("KT_STUCK_STATION_RECORD");
  OperatedStation station;
  EXPECT_EXIT(RunAStationWithOneWedgedBoard(station, path), testing::ExitedWithCode(27),
              "Succeeded: 3  Failed: 1");
  const std::string record = ReadAll(path);
  EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 4) << record;
  EXPECT_NE(record.find("\"port\":\"sim-2\",\"product_id\":\"0x72F7\",\"result\":null,\"simulated\":true,"
                        "\"stage\":\"stuck\""),
            std::string::npos)
      << record;
  EXPECT_EQ(test::CountOf(record, "Write to EEPROM OK!"), 3u) << record;
}

}  // namespace
}  // namespace kt
