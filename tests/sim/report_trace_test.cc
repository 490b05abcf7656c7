#include "hid/report_trace.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

namespace kt {
namespace {

TEST(ReportTraceTest, ReportLinesCarryElapsedMillisDirectionAndLowercaseHex) {
  VirtualClock clock;
  clock.Advance(777);  // before the trace starts: not counted
  std::ostringstream out;
  ReportTrace trace(out, clock);
  const std::uint8_t outBytes[] = {0x00, 0x0A, 0xFF, 0x12};
  trace.Report(TraceDirection::kOut, outBytes, sizeof outBytes);
  clock.Advance(1'234'567);
  const std::uint8_t inBytes[] = {0xAB};
  trace.Report(TraceDirection::kIn, inBytes, sizeof inBytes);
  trace.Event("plugged in");
  EXPECT_EQ(out.str(), "0.000\tOUT\t00 0a ff 12\n1234.567\tIN\tab\n# 1234.567 plugged in\n");
}

TEST(ReportTraceTest, LinesFromSeveralThreadsStayWhole) {
  VirtualClock clock;
  std::ostringstream out;
  ReportTrace trace(out, clock);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&trace, t] {
      const std::vector<std::uint8_t> bytes(33, static_cast<std::uint8_t>(t));
      for (int i = 0; i < 200; ++i) trace.Report(TraceDirection::kIn, bytes.data(), bytes.size());
    });
  }
  for (auto& thread : threads) thread.join();
  std::istringstream lines(out.str());
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_EQ(line.size(), std::string("0.000\tIN\t").size() + 33 * 3 - 1) << line;
  }
  EXPECT_EQ(count, 800);
}

TEST(ReportTraceTest, OpenFileWritesTheFileAndNamesAPathItCannotOpen) {
  VirtualClock clock;
  std::string error;
  EXPECT_EQ(ReportTrace::OpenFile("/nonexistent-dir/trace.txt", clock, error), nullptr);
  EXPECT_NE(error.find("/nonexistent-dir/trace.txt"), std::string::npos);

  const std::string path = ::testing::TempDir() + "report_trace_test.txt";
  {
    auto trace = ReportTrace::OpenFile(path, clock, error);
    ASSERT_NE(trace, nullptr) << error;
    trace->Event("hello");
  }
  std::FILE* file = std::fopen(path.c_str(), "r");
  ASSERT_NE(file, nullptr);
  char text[64] = {};
  ASSERT_NE(std::fgets(text, sizeof text, file), nullptr);
  std::fclose(file);
  EXPECT_STREQ(text, "# 0.000 hello\n");
  std::remove(path.c_str());
}

}  // namespace
}  // namespace kt
