// A station whose record file fills up: nothing it could not record passes for a success.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "cli/cli_run.h"

namespace kt {
namespace {

// Room for one record line, not two: a file size limit cuts the second write short as a full disk does.
TEST(StationRecordTest, AResultThatCannotBeRecordedIsNoSuccessAndStopsTheStation) {
  const std::string record = test::TempPath("full.jsonl");
  std::remove(record.c_str());
  const auto previous = signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limit = saved;
  limit.rlim_cur = 500;
  setrlimit(RLIMIT_FSIZE, &limit);
  // --watch would go on for ever; a station that can no longer record takes no new board and ends
  // once its running jobs have. Should it not, a bound stops it (Ctrl-C) rather than hang the suite.
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  bool stoppedByBound = false;
  std::function<void()> interrupt;
  CliHooks hooks;
  hooks.takeInterrupt = [&](std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(mutex);
    interrupt = std::move(fn);
  };
  std::thread bound([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (ended.wait_for(lock, std::chrono::seconds(60), [&] { return done; }) || !interrupt) return;
    stoppedByBound = true;
    interrupt();
  });
  const test::CliOutcome run = test::RunCliWith(
      {"station", "--watch", "-q", "--simulate=boards=2,blank,virtual-time", "--record", record},
      std::move(hooks));
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  ended.notify_all();
  bound.join();
  EXPECT_FALSE(stoppedByBound) << "the station went on taking boards after a result it could not record";
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);

  EXPECT_EQ(run.status, 31) << run.out << run.err;
  EXPECT_NE(run.out.find("Succeeded: 1  Failed: 0  Not recorded: 1"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Write to EEPROM OK! (not recorded)"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("NOT RECORDED"), std::string::npos) << "hidden by -q: " << run.err;
  const std::string lines = test::ReadAll(record);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << lines;
  EXPECT_EQ(lines.back(), '\n') << "a torn record line was left: " << lines;
}

}  // namespace
}  // namespace kt
