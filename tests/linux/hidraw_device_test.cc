#include "hid/linux/hidraw_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <numeric>
#include <tuple>
#include <utility>

#include "hid/linux/linux_hid_backend.h"
#include "linux/fake_hidraw_tree.h"

namespace kt {
namespace {

// The backend opens the FIFO that stands for /dev/hidraw0; the test holds the other end and plays the
// board: what it writes, the backend reads as an input report, and the other way round.
class HidrawDeviceTest : public ::testing::Test {
 protected:
  void Attach(const std::vector<std::uint8_t>& descriptor) {
    tree_.AddDevice(0, 0x3B7D, 0x7310, descriptor);
    board_.Reset(::open(tree_.Node(0).c_str(), O_RDWR | O_NONBLOCK));
    ASSERT_TRUE(board_.Valid());
  }

  void BoardSends(const std::vector<std::uint8_t>& report) {
    ASSERT_EQ(::write(board_.Get(), report.data(), report.size()), static_cast<ssize_t>(report.size()));
  }

  std::unique_ptr<HidDeviceHandle> Open(HidOpenMode mode) { return backend_.Open(tree_.Node(0), mode); }

  FakeHidrawTree tree_;
  LinuxHidBackend backend_{tree_.SysRoot(), tree_.DevRoot(), [](const std::string&) {}};
  UniqueFd board_;
};

std::vector<std::uint8_t> Sequence(std::size_t n, std::uint8_t first) {
  std::vector<std::uint8_t> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

TEST_F(HidrawDeviceTest, AttributesAndCapsComeFromSysfs) {
  Attach(BoardDescriptor());
  auto handle = Open(HidOpenMode::kPlain);
  ASSERT_TRUE(handle) << backend_.LastError();
  HidAttributes attributes;
  ASSERT_TRUE(handle->GetAttributes(attributes));
  EXPECT_EQ(attributes.vendorId, 0x3B7D);
  EXPECT_EQ(attributes.productId, 0x7310);
  HidCaps caps;
  ASSERT_TRUE(handle->GetCaps(caps));
  EXPECT_EQ(caps.inputReportByteLength, 33);
  EXPECT_EQ(caps.outputReportByteLength, 17);
}

TEST_F(HidrawDeviceTest, UnnumberedInputGetsAZeroInFrontSoByteSevenIsTheTag) {
  Attach(BoardDescriptor());
  auto handle = Open(HidOpenMode::kOverlappedRead);
  ASSERT_TRUE(handle) << backend_.LastError();
  BoardSends(Sequence(32, 1));  // what hidraw hands over: the 32 data bytes, no ID

  std::array<std::uint8_t, 64> buffer;
  buffer.fill(0xEE);
  const HidReadResult r = handle->ReadReport(buffer.data(), 33, 5000);
  ASSERT_EQ(r.status, HidReadResult::Status::kCompleted);
  EXPECT_EQ(r.byteCount, 33u);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], 1);
  EXPECT_EQ(buffer[7], 7);
  EXPECT_EQ(buffer[32], 32);
  EXPECT_EQ(buffer[33], 0xEE);
}

TEST_F(HidrawDeviceTest, NumberedInputKeepsItsOwnIdByte) {
  Attach(NumberedDescriptor());
  auto handle = Open(HidOpenMode::kOverlappedRead);
  ASSERT_TRUE(handle) << backend_.LastError();
  std::vector<std::uint8_t> report = Sequence(8, 0x10);
  report[0] = 5;
  BoardSends(report);
  std::array<std::uint8_t, 64> buffer{};
  const HidReadResult r = handle->ReadReport(buffer.data(), buffer.size(), 5000);
  ASSERT_EQ(r.status, HidReadResult::Status::kCompleted);
  EXPECT_EQ(r.byteCount, 8u);
  EXPECT_EQ(buffer[0], 5);
  EXPECT_EQ(buffer[7], 0x17);
}

TEST_F(HidrawDeviceTest, ReadNeverWritesPastTheCapacity) {
  Attach(BoardDescriptor());
  auto handle = Open(HidOpenMode::kOverlappedRead);
  ASSERT_TRUE(handle) << backend_.LastError();
  BoardSends(Sequence(32, 1));
  std::array<std::uint8_t, 64> buffer;
  buffer.fill(0xEE);
  const HidReadResult r = handle->ReadReport(buffer.data(), 10, 5000);
  ASSERT_EQ(r.status, HidReadResult::Status::kCompleted);
  EXPECT_EQ(r.byteCount, 10u);
  EXPECT_EQ(buffer[9], 9);
  for (std::size_t i = 10; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE) << i;
}

TEST_F(HidrawDeviceTest, NothingToReadTimesOut) {
  Attach(BoardDescriptor());
  auto handle = Open(HidOpenMode::kOverlappedRead);
  ASSERT_TRUE(handle) << backend_.LastError();
  std::array<std::uint8_t, 64> buffer{};
  EXPECT_EQ(handle->ReadReport(buffer.data(), 33, 1).status, HidReadResult::Status::kTimedOut);
  EXPECT_EQ(handle->ReadReport(buffer.data(), 0, 1).status, HidReadResult::Status::kFailed);
}

TEST_F(HidrawDeviceTest, WriteSendsByteZeroAsTheReportId) {
  Attach(BoardDescriptor());
  auto handle = Open(HidOpenMode::kPlain);
  ASSERT_TRUE(handle) << backend_.LastError();
  const std::vector<std::uint8_t> request = Sequence(17, 0);  // byte 0 = report ID 0
  std::size_t written = 0;
  ASSERT_TRUE(handle->WriteReport(request.data(), request.size(), written)) << backend_.LastError();
  EXPECT_EQ(written, 17u);
  std::array<std::uint8_t, 64> received{};
  ASSERT_EQ(::read(board_.Get(), received.data(), received.size()), 17);
  EXPECT_TRUE(std::equal(request.begin(), request.end(), received.begin()));
}

// What only chance brings on a real node, once: the first poll or read (as the case says) finds that
// another reader of the node took the first report, the board answers again, and the call fails with the
// case's errno. The read must poll again for the time left and return the second report.
struct Race {
  bool inPoll;
  int error;
};
void PrintTo(const Race& r, std::ostream* os) {
  *os << (r.inPoll ? "poll: " : "read: ") << std::strerror(r.error);
}
int raceBoardFd = -1;
Race race;
bool raced = false;

bool RaceNow(bool inPoll, int fd) {
  if (race.inPoll != inPoll || std::exchange(raced, true)) return false;
  std::array<std::uint8_t, 64> taken;
  EXPECT_EQ(::read(fd, taken.data(), taken.size()), 32);
  const std::vector<std::uint8_t> second = Sequence(32, 0x41);
  EXPECT_EQ(::write(raceBoardFd, second.data(), second.size()), 32);
  errno = race.error;
  return true;
}
int RacingPoll(pollfd* fds, nfds_t count, int timeoutMs) {
  return RaceNow(true, fds->fd) ? -1 : ::poll(fds, count, timeoutMs);
}
ssize_t RacingRead(int fd, void* buffer, std::size_t length) {
  return RaceNow(false, fd) ? -1 : ::read(fd, buffer, length);
}

class HidrawRaceTest : public HidrawDeviceTest, public ::testing::WithParamInterface<Race> {};

TEST_P(HidrawRaceTest, AReportTakenOrASignalBetweenPollAndReadDoesNotEndTheRead) {
  Attach(BoardDescriptor());
  HidrawNodeInfo info{true, 0x3B7D, 0x7310, true, BoardDescriptor()};
  HidrawDevice device(UniqueFd(::open(tree_.Node(0).c_str(), O_RDWR | O_NONBLOCK)), tree_.Node(0), info,
                      std::make_shared<LinuxHidDiagnostics>([](const std::string&) {}),
                      {RacingPoll, RacingRead});
  std::tie(raceBoardFd, race, raced) = std::tuple(board_.Get(), GetParam(), false);
  BoardSends(Sequence(32, 1));
  std::array<std::uint8_t, 64> buffer{};
  ASSERT_EQ(device.ReadReport(buffer.data(), 33, 5000).status, HidReadResult::Status::kCompleted);
  EXPECT_EQ(buffer[1], 0x41);  // the second report: the race did happen
}

INSTANTIATE_TEST_SUITE_P(Races, HidrawRaceTest,
                         ::testing::Values(Race{false, EAGAIN}, Race{false, EINTR}, Race{true, EINTR}));

}  // namespace
}  // namespace kt
