// The station window's tiles, fed by the command line's own station on simulated boards: what each slot
// shows, the counts, the record before the tile, Exit while a board waits, a board plugged in again.
#include "app/station_window/station_tiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include "app/station_window/station_session.h"
#include "cli/cli_run.h"

namespace kt {
namespace {

class StationTilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Each test process its own file: ctest runs the cases side by side.
    record = test::TempPath("station_tiles_record.jsonl");
    std::filesystem::remove(record);
  }

  // Runs the station on `sim`'s boards; every change wakes Await.
  void Start(const std::string& sim, const std::vector<Slot>& slots = {}) {
    tiles = std::make_unique<StationTiles>(slots);
    tiles->SetChangeHandler([this] {
      // The record holds every result a tile shows.
      const StationTiles::Snapshot now = tiles->Take();
      int results = 0;
      for (const Tile& tile : now.tiles) results += IsResult(tile.state) ? 1 : 0;
      std::lock_guard<std::mutex> lock(mutex);
      if (results > 0) {
        EXPECT_GE(RecordLines(), static_cast<std::size_t>(results));
      }
      changed.notify_all();
    });
    tiles->SetResultHandler([this](bool ok) {
      std::lock_guard<std::mutex> lock(mutex);
      sounds.push_back(ok);
    });
    WindowOptions options;
    options.station = true;
    options.simulate = sim;
    options.recordFile = record;
    session = std::make_unique<StationSession>(options, *tiles);
    session->Start([this] {
      std::lock_guard<std::mutex> lock(mutex);
      finished = true;
      changed.notify_all();
    });
  }
  // Waits (bounded: a station that never gets there fails the test) until `done` holds for a snapshot.
  StationTiles::Snapshot Await(const std::function<bool(const StationTiles::Snapshot&)>& done) {
    std::unique_lock<std::mutex> lock(mutex);
    StationTiles::Snapshot now;
    const bool reached = changed.wait_for(lock, std::chrono::seconds(60), [&] {
      now = tiles->Take();
      return done(now);
    });
    EXPECT_TRUE(reached) << "the tiles never got there";
    return now;
  }
  static std::size_t Results(const StationTiles::Snapshot& now) {
    std::size_t count = 0;
    for (const Tile& tile : now.tiles) count += IsResult(tile.state) ? 1 : 0;
    return count;
  }
  std::size_t RecordLines() const {
    std::ifstream in(record);
    std::size_t lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    return lines;
  }
  void StopAndWait() {
    session->Stop();
    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [this] { return finished; }));
  }
  void TearDown() override { session.reset(); }

  std::string record;
  std::unique_ptr<StationTiles> tiles;
  std::unique_ptr<StationSession> session;
  std::mutex mutex;
  std::condition_variable changed;
  bool finished = false;
  std::vector<bool> sounds;
};

TEST_F(StationTilesTest, EachSlotShowsItsBoardsResultInWordsAndTheCountsAddUp) {
  Start("boards=4,blank,virtual-time,board2.chip-id=5,board3.programmed,board4.flip@0x40:1",
        {{"sim-9", "Empty fixture"}, {"sim-3", "Left"}});
  const StationTiles::Snapshot now = Await([](const auto& s) { return Results(s) == 4; });
  const struct {
    std::string port, label;
    TileState state;
    std::string text;
  } expected[] = {
      {"sim-9", "Empty fixture", TileState::kEmpty, "empty"},
      {"sim-3", "Left", TileState::kOk, "Write to EEPROM OK!"},  // the erase path, its re-plug followed
      {"sim-1", "sim-1", TileState::kOk, "Write to EEPROM OK!"},
      {"sim-2", "sim-2", TileState::kFailed, "Write to EEPROM Fail!  Try Again!(-2)"},
      {"sim-4", "sim-4", TileState::kFailed, "Write to EEPROM Fail!  Try Again!(-12)"},
  };
  ASSERT_EQ(now.tiles.size(), std::size(expected));
  for (std::size_t i = 0; i < now.tiles.size(); ++i) {
    EXPECT_EQ(now.tiles[i].port, expected[i].port);
    EXPECT_EQ(now.tiles[i].label, expected[i].label);
    EXPECT_EQ(now.tiles[i].state, expected[i].state) << expected[i].port;
    EXPECT_EQ(now.tiles[i].text, expected[i].text) << expected[i].port;
  }
  EXPECT_EQ(now.header.succeeded, 2);
  EXPECT_EQ(now.header.failed, 2);
  EXPECT_EQ(now.header.image, "built-in");
  EXPECT_EQ(now.header.sha12.size(), 12U);
  EXPECT_EQ(now.header.record, record);
  EXPECT_TRUE(now.header.simulated);
  EXPECT_EQ(now.running, 0);
  EXPECT_EQ(std::count(sounds.begin(), sounds.end(), true), 2);
  EXPECT_EQ(sounds.size(), 4U);
  StopAndWait();
  EXPECT_EQ(session->ExitStatus(), 30);
  EXPECT_EQ(RecordLines(), 4U);
}

TEST_F(StationTilesTest, ABoardPluggedInAgainIsWrittenAgainAndExitStopsOneWaitingForItsReplug) {
  Start("boards=2,blank,virtual-time,board2.programmed,board2.manual-replug");
  StationTiles::Snapshot now = Await([](const auto& s) {
    return s.tiles.size() == 2 && s.tiles[0].state == TileState::kOk && s.tiles[1].state == TileState::kReplug;
  });
  EXPECT_EQ(now.tiles[1].text, "erased: waiting for the re-plug");
  ASSERT_TRUE(session->ReplugSimulated("sim-1"));
  EXPECT_FALSE(session->ReplugSimulated("sim-7"));
  now = Await([](const auto& s) { return s.header.succeeded == 2; });
  EXPECT_EQ(now.tiles[0].state, TileState::kOk);
  EXPECT_EQ(now.running, 1);  // the board still waiting at its re-plug
  StopAndWait();
  now = tiles->Take();
  EXPECT_EQ(now.tiles[1].state, TileState::kFailed);
  EXPECT_EQ(now.running, 0);
  EXPECT_EQ(RecordLines(), 3U);
  EXPECT_FALSE(session->ReplugSimulated("sim-1")) << "the boards went with the station";
}

TEST(StationTilesStatesTest, EachOutcomeItsStateAndCountAndTheNextBoardClearsTheTile) {
  const auto outcome = [](int exitStatus, std::string stage, std::optional<bool> recorded) {
    JobOutcome o;
    o.port = "p";
    o.exitStatus = exitStatus;
    o.stage = std::move(stage);
    o.text = "words";
    o.recorded = recorded;
    return o;
  };
  const struct {
    JobOutcome outcome;
    TileState state;
    std::string text;
    int succeeded, failed, notRecorded;
    bool sound;
  } cases[] = {
      {outcome(0, "job", true), TileState::kOk, "words", 1, 0, 0, true},
      {outcome(0, "job", std::nullopt), TileState::kOk, "words", 1, 0, 0, true},
      {outcome(12, "job", true), TileState::kFailed, "words", 0, 1, 0, false},
      {outcome(0, "job", false), TileState::kNotRecorded, "words (NOT RECORDED)", 0, 0, 1, false},
      {outcome(27, "stuck", true), TileState::kStuck, "words", 0, 1, 0, false},
  };
  for (const auto& c : cases) {
    StationTiles tiles({});
    std::vector<bool> sounds;
    tiles.SetResultHandler([&](bool ok) { sounds.push_back(ok); });
    tiles.JobStarted("p");
    tiles.Progress("p", 40);
    EXPECT_EQ(tiles.Take().tiles.at(0).text, "writing 40%");
    tiles.Result(c.outcome);
    const StationTiles::Snapshot now = tiles.Take();
    EXPECT_EQ(now.tiles.at(0).state, c.state) << c.text;
    EXPECT_EQ(now.tiles.at(0).text, c.text);
    EXPECT_EQ(now.header.succeeded, c.succeeded) << c.text;
    EXPECT_EQ(now.header.failed, c.failed) << c.text;
    EXPECT_EQ(now.header.notRecorded, c.notRecorded) << c.text;
    EXPECT_EQ(sounds, std::vector<bool>{c.sound}) << c.text;
    EXPECT_EQ(now.running, 0);
    tiles.JobStarted("p");
    EXPECT_EQ(tiles.Take().tiles.at(0).state, TileState::kWriting) << "the last result stays until the next board";
  }
}

TEST(StationTilesStatesTest, PortsWithoutASlotFollowInNaturalOrder) {
  StationTiles tiles(std::vector<Slot>{{"z", "Last slot"}});
  for (const char* port : {"sim-10", "sim-2", "1-1.10", "sim-1", "1-1.9"}) tiles.JobStarted(port);
  std::vector<std::string> order;
  for (const Tile& tile : tiles.Take().tiles) order.push_back(tile.port);
  EXPECT_EQ(order, (std::vector<std::string>{"z", "1-1.9", "1-1.10", "sim-1", "sim-2", "sim-10"}));
}

TEST_F(StationTilesTest, AStationThatCannotStartSaysWhy) {
  record = "/nonexistent-dir/r.jsonl";
  Start("boards=1,virtual-time");
  StopAndWait();
  EXPECT_EQ(session->ExitStatus(), 64);
  EXPECT_NE(session->Errors().find("--record"), std::string::npos) << session->Errors();
}

}  // namespace
}  // namespace kt
