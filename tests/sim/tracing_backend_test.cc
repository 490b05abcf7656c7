#include "hid/tracing_backend.h"

#include <gtest/gtest.h>

#include <sstream>

#include "hid/sim/sim_board.h"
#include "sim/sim_port.h"

namespace kt {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(TracingBackendTest, TracesEveryReportBothWaysAndTheBoardsEventsInOneTrace) {
  VirtualClock clock;
  std::ostringstream out;
  ReportTrace trace(out, clock);
  SimOptions options;
  options.latencyMs = 2;
  options.silent = {2};
  TracingBackend backend(std::make_unique<SimBackend>(options, clock, &trace), trace);
  test::SimPort port(backend);
  ASSERT_TRUE(port.open());
  port.Exchange(test::RegisterRequest(0x21, 0x00B1));
  ASSERT_TRUE(port.Send(test::RegisterRequest(0x22, 0x00B1)));
  EXPECT_FALSE(port.Receive(5000));

  const std::vector<std::string> lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 6u) << out.str();
  EXPECT_EQ(lines[0].rfind("# 0.000 sim: plugged in", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "0.000\tOUT\t00 21 22 00 b1 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(
      lines[2],
      "2.000\tIN\t00 00 00 00 00 00 00 21 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
      "00 00 00");
  EXPECT_EQ(lines[3].rfind("2.000\tOUT\t00 22 22 00 b1", 0), 0u) << lines[3];
  EXPECT_EQ(lines[4].rfind("# 2.000 sim: fault silent@2", 0), 0u) << lines[4];
  EXPECT_EQ(lines[5], "# 5002.000 read timed out after 5000 ms");
}

TEST(TracingBackendTest, PassesListingCapsAndDeviceChangesThrough) {
  VirtualClock clock;
  std::ostringstream out;
  ReportTrace trace(out, clock);
  auto sim = std::make_unique<SimBackend>(SimOptions{}, clock);
  SimBoard& board = sim->board();
  TracingBackend backend(std::move(sim), trace);
  std::vector<bool> changes;
  backend.SetDeviceChangeListener([&](const DeviceChange& change) { changes.push_back(change.arrived); });

  std::string path;
  ASSERT_EQ(backend.ListInterfaces()->Next(0, path), HidEnumStep::kInterface);
  auto handle = backend.Open(path, HidOpenMode::kPlain);
  ASSERT_NE(handle, nullptr);
  HidCaps caps;
  ASSERT_TRUE(handle->GetCaps(caps));
  EXPECT_EQ(caps.inputReportByteLength, SimBoard::kInputReportLength);
  board.Unplug();
  EXPECT_EQ(changes, (std::vector<bool>{false}));
  std::size_t written = 0;
  const std::vector<std::uint8_t> request = test::RegisterRequest(1, 0x10);
  EXPECT_FALSE(handle->WriteReport(request.data(), request.size(), written));
  EXPECT_NE(out.str().find("# 0.000 write failed"), std::string::npos) << out.str();
}

}  // namespace
}  // namespace kt
