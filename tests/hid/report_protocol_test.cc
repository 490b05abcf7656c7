#include "hid/report_protocol.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "support/scripted_backend.h"

namespace kt {
namespace {

using test::ScriptedBackend;
using test::ScriptedInterface;
using test::ScriptedRead;
using ::testing::Each;
using ::testing::ElementsAre;

constexpr std::uint16_t kVendor = 0x3B7D;
constexpr std::uint16_t kProduct = 0x7310;
constexpr std::uint8_t kReportId = 0x05;
constexpr std::uint8_t kTag = 17;
constexpr std::uint64_t kMicrosPerMs = 1000;

using Bytes = std::vector<std::uint8_t>;

class ReportProtocolTest : public ::testing::Test {
 protected:
  ReportProtocolTest() { CreateHidLink(link, backend, clock); }
  ~ReportProtocolTest() override { DestroyHidLink(link); }

  // Opens the link on a device with the given report lengths; its requests carry report ID 5.
  void OpenDevice(std::uint16_t inputLength = 64, std::uint16_t outputLength = 64) {
    ScriptedInterface device = ScriptedBackend::Device("kt7310", kVendor, kProduct);
    device.caps.inputReportByteLength = inputLength;
    device.caps.outputReportByteLength = outputLength;
    device.caps.outputValueCaps = {{0x0C, kReportId}};
    backend.AddInterface(std::move(device));
    link.deviceOpen = OpenHidLink(link, kVendor, kProduct);
    ASSERT_TRUE(link.deviceOpen);
  }

  void Queue(Bytes report) { backend.QueueRead(ScriptedRead::Report(std::move(report))); }
  static Bytes Answer(std::uint8_t tag, std::size_t length, Bytes from8 = {}) {
    return ScriptedBackend::Answer(tag, length, std::move(from8));
  }

  // The one request written so far.
  Bytes Request() {
    const std::vector<test::WrittenReport> writes = backend.Writes();
    EXPECT_EQ(writes.size(), 1u);
    return writes.empty() ? Bytes{} : writes.front().bytes;
  }
  static Bytes Tail(const Bytes& report, std::size_t from) {
    return Bytes(report.begin() + from, report.end());
  }

  int Reads() const { return backend.counters().reads; }
  std::uint64_t ElapsedMs() const { return clock.NowMicros() / kMicrosPerMs; }

  VirtualClock clock;
  ScriptedBackend backend{&clock};
  HidLink link;
};

// --- EEPROM blocks --------------------------------------------------------------------------------

TEST_F(ReportProtocolTest, BlockWriteRequestAndAnyLengthByteInTheAnswer) {
  OpenDevice();
  Queue(Answer(kTag, 10, {0x99}));  // a write answer's byte 8 means nothing
  std::uint8_t data[3] = {0xAA, 0xBB, 0xCC};

  EXPECT_TRUE(TransferEepromBlock(link, 5, TransferDirection::kWrite, 3, data, kTag));
  const Bytes request = Request();
  ASSERT_EQ(request.size(), 64u);
  EXPECT_THAT(Bytes(request.begin(), request.begin() + 11),
              ElementsAre(kReportId, kTag, 0x11, 0xA0, 0xA0, 0x00, 0x05, 0x03, 0xAA, 0xBB, 0xCC));
  EXPECT_THAT(Tail(request, 11), Each(0));
}

TEST_F(ReportProtocolTest, BlockReadSkipsAnAnswerWithTheWrongLength) {
  OpenDevice();
  Queue(Answer(kTag, 64, {8, 1, 2, 3, 4, 5, 6, 7, 8}));
  Bytes data16(16);
  for (std::size_t i = 0; i < data16.size(); ++i) data16[i] = static_cast<std::uint8_t>(0x40 + i);
  Bytes answer = {16};
  answer.insert(answer.end(), data16.begin(), data16.end());
  Queue(Answer(kTag, 64, answer));
  std::uint8_t data[16] = {};

  EXPECT_TRUE(TransferEepromBlock(link, 0x1234, TransferDirection::kRead, 16, data, kTag));
  EXPECT_EQ(Bytes(data, data + 16), data16);
  EXPECT_EQ(Reads(), 2);
  const Bytes request = Request();
  EXPECT_THAT(Bytes(request.begin(), request.begin() + 8),
              ElementsAre(kReportId, kTag, 0x12, 0xE4, 0xA0, 0x12, 0x34, 16));
  EXPECT_THAT(Tail(request, 8), Each(0));
}

TEST_F(ReportProtocolTest, RequestsGoOutAtTheOutputReportLength) {
  OpenDevice(64, 20);
  Queue(Answer(kTag, 10));
  std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_TRUE(TransferEepromBlock(link, 0, TransferDirection::kWrite, 8, data, kTag));
  EXPECT_EQ(Request().size(), 20u);
}

TEST_F(ReportProtocolTest, BlockNeedsTenBytesWhereARegisterNeedsNine) {
  OpenDevice();
  std::uint8_t data[1] = {0x11};
  Queue(Answer(kTag, 9));
  EXPECT_FALSE(TransferEepromBlock(link, 0, TransferDirection::kWrite, 1, data, kTag));
  EXPECT_EQ(Reads(), 2);  // the short answer, then the time-out

  std::uint8_t value = 0;
  Queue(Answer(kTag, 9, {0x07}));
  EXPECT_TRUE(TransferRegister(link, &value, TransferDirection::kRead, 0x00B1, kTag));
  EXPECT_EQ(value, 0x07);
}

TEST_F(ReportProtocolTest, ShortReadAnswerIsNotMatchedOnEarlierBytes) {
  OpenDevice();
  // A full report with another tag leaves data behind; the right tag then comes in too short to carry
  // the 8 bytes asked for.
  Queue(Answer(kTag + 1, 64, {8, 1, 2, 3, 4, 5, 6, 7, 8}));
  Queue(Answer(kTag, 12, {8, 9, 9, 9}));
  std::uint8_t data[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};

  EXPECT_FALSE(TransferEepromBlock(link, 0, TransferDirection::kRead, 8, data, kTag));
  EXPECT_THAT(data, Each(0xEE));
  EXPECT_EQ(Reads(), 3);
}

TEST_F(ReportProtocolTest, BlockLengthsThatCannotBeCarriedAreRefusedUnsent) {
  OpenDevice(20);
  std::uint8_t data[64] = {};
  EXPECT_FALSE(TransferEepromBlock(link, 0, TransferDirection::kRead, 12, data, kTag));  // 9 + 12 > 20
  EXPECT_FALSE(TransferEepromBlock(link, 0, TransferDirection::kWrite, 0, data, kTag));
  EXPECT_FALSE(TransferEepromBlock(link, 0, TransferDirection::kWrite, 9, data, kTag));
  EXPECT_TRUE(backend.Writes().empty());
  EXPECT_EQ(Reads(), 0);

  Queue(Answer(kTag, 20, {11}));
  EXPECT_TRUE(TransferEepromBlock(link, 0, TransferDirection::kRead, 11, data, kTag));
}

TEST_F(ReportProtocolTest, FailedBlockReadLeavesTheDataAsItWas) {
  OpenDevice();
  Queue(Answer(kTag + 1, 64, {3, 1, 2, 3}));
  std::uint8_t data[3] = {0xEE, 0xEE, 0xEE};
  EXPECT_FALSE(TransferEepromBlock(link, 0, TransferDirection::kRead, 3, data, kTag));
  EXPECT_THAT(data, Each(0xEE));
}

// --- Read limits and time-outs --------------------------------------------------------------------

TEST_F(ReportProtocolTest, StrayReportsEndABlockTransferAfter300Reads) {
  OpenDevice();
  backend.SetReadWhenEmpty(ScriptedRead::Report(Answer(kTag + 1, 64)));
  std::uint8_t data[3] = {};
  EXPECT_FALSE(TransferEepromBlock(link, 0, TransferDirection::kWrite, 3, data, kTag));
  EXPECT_EQ(Reads(), 300);
}

TEST_F(ReportProtocolTest, StrayReportsEndARegisterTransferAfter1000Reads) {
  OpenDevice();
  backend.SetReadWhenEmpty(ScriptedRead::Report(Answer(kTag + 1, 64)));
  std::uint8_t value = 0;
  EXPECT_FALSE(TransferRegister(link, &value, TransferDirection::kWrite, 0x0400, kTag));
  EXPECT_EQ(Reads(), 1000);
}

TEST_F(ReportProtocolTest, TimeOutEndsATransferAtOnce) {
  OpenDevice();
  backend.QueueRead(ScriptedRead::TimeOut());
  Queue(Answer(kTag, 64, {3}));
  std::uint8_t data[3] = {};
  EXPECT_FALSE(TransferEepromBlock(link, 0, TransferDirection::kRead, 3, data, kTag));
  EXPECT_EQ(Reads(), 1);
  EXPECT_EQ(ElapsedMs(), 5000u);

  // The answer left over is a stray one for the next request; its time-out ends it however many
  // reports it had skipped.
  backend.QueueRead(ScriptedRead::TimeOut());
  Queue(Answer(kTag + 2, 64, {0x07}));
  std::uint8_t value = 0x99;
  EXPECT_FALSE(TransferRegister(link, &value, TransferDirection::kRead, 0x00B1, kTag + 2));
  EXPECT_EQ(Reads(), 3);
  EXPECT_EQ(value, 0);  // a failed read leaves 0, not what the caller had there
}

TEST_F(ReportProtocolTest, LinkThatIsNotOpenFailsWithoutWaiting) {
  std::uint8_t data[3] = {1, 2, 3};
  std::uint8_t value = 0x42;
  EXPECT_FALSE(TransferEepromBlock(link, 0, TransferDirection::kWrite, 3, data, kTag));
  EXPECT_FALSE(TransferRegister(link, &value, TransferDirection::kWrite, 0x0400, kTag));
  EXPECT_FALSE(TransferRegister(link, &value, TransferDirection::kRead, 0x0400, kTag));
  EXPECT_EQ(SendEraseCommand(link), kEFail);
  EXPECT_TRUE(backend.Writes().empty());
  EXPECT_EQ(ElapsedMs(), 0u);
}

// --- Registers ------------------------------------------------------------------------------------

TEST_F(ReportProtocolTest, RegisterRequestsCarryTheAddressHighByteFirst) {
  OpenDevice();
  backend.SetReadWhenEmpty(ScriptedRead::Report(Answer(kTag, 9, {0x01})));
  std::uint8_t value = 0x77;  // overwritten before the request is built
  EXPECT_TRUE(TransferRegister(link, &value, TransferDirection::kRead, 0x0400, kTag));
  value = 0x3C;
  EXPECT_TRUE(TransferRegister(link, &value, TransferDirection::kWrite, 0x00B1, kTag));

  const std::vector<test::WrittenReport> writes = backend.Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_THAT(Bytes(writes[0].bytes.begin(), writes[0].bytes.begin() + 6),
              ElementsAre(kReportId, kTag, 0x22, 0x04, 0x00, 0x00));
  EXPECT_THAT(Tail(writes[0].bytes, 6), Each(0));
  EXPECT_THAT(Bytes(writes[1].bytes.begin(), writes[1].bytes.begin() + 6),
              ElementsAre(kReportId, kTag, 0x21, 0x00, 0xB1, 0x3C));
  EXPECT_THAT(Tail(writes[1].bytes, 6), Each(0));
}

TEST_F(ReportProtocolTest, EightByteAnswerConfirmsAWriteButCarriesNoValue) {
  OpenDevice();
  // The stray report before it leaves 0x55 where a value byte would be.
  Queue(Answer(kTag + 1, 9, {0x55}));
  Queue(Answer(kTag, 8));
  std::uint8_t value = 0;
  EXPECT_FALSE(TransferRegister(link, &value, TransferDirection::kRead, 0x00B1, kTag));
  EXPECT_EQ(value, 0);
  EXPECT_EQ(Reads(), 3);

  const std::uint64_t before = ElapsedMs();
  Queue(Answer(kTag, 8));
  value = 0xFE;
  EXPECT_TRUE(TransferRegister(link, &value, TransferDirection::kWrite, 0x0400, kTag));
  // The chip is given 10 ms after a confirmed write (virtual time).
  EXPECT_EQ(ElapsedMs() - before, 10u);
}

TEST_F(ReportProtocolTest, RegisterWithoutValueSendsNothing) {
  OpenDevice();
  EXPECT_FALSE(TransferRegister(link, nullptr, TransferDirection::kRead, 0x00B1, kTag));
  EXPECT_TRUE(backend.Writes().empty());
  EXPECT_EQ(Reads(), 0);
}

// --- Erase command and single reads ---------------------------------------------------------------

TEST_F(ReportProtocolTest, EraseCommandGoesOutUntaggedAndUnanswered) {
  OpenDevice();
  EXPECT_EQ(SendEraseCommand(link), kSOk);
  const Bytes request = Request();
  EXPECT_THAT(Bytes(request.begin(), request.begin() + 4), ElementsAre(kReportId, 0xF5, 0xAB, 0xCD));
  EXPECT_THAT(Tail(request, 4), Each(0));
  EXPECT_EQ(Reads(), 0);

  backend.SetWritesFail(true);
  EXPECT_EQ(SendEraseCommand(link), kEFail);
}

TEST_F(ReportProtocolTest, ReadInputReportResults) {
  OpenDevice(33);
  ReportBuffer buffer = {};

  Queue(Answer(kTag, 12));
  EXPECT_EQ(ReadInputReport(link, buffer), 12);
  // A read still pending when it was started reports no count: the whole input report is taken.
  backend.QueueRead(ScriptedRead::Report(Answer(kTag, 33)).ReportedAs(0));
  EXPECT_EQ(ReadInputReport(link, buffer), 33);
  backend.QueueRead(ScriptedRead::Failure());
  EXPECT_EQ(ReadInputReport(link, buffer), 0);
  backend.QueueRead(ScriptedRead::TimeOut());
  EXPECT_EQ(ReadInputReport(link, buffer), ReadTimedOut);

  for (const ScriptedBackend::ReadCall& call : backend.ReadCalls()) {
    EXPECT_EQ(call.capacity, 33u);
    EXPECT_EQ(call.timeoutMs, 5000u);
  }
  link.inputReportLength = 0;
  EXPECT_EQ(ReadInputReport(link, buffer), 0);
  EXPECT_EQ(Reads(), 4);
}

// --- Tag rules ------------------------------------------------------------------------------------

TEST(SequenceTagTest, BlockTagsRunTo252AndRegisterTagsTo240) {
  EXPECT_EQ(AdvanceBlockTag(1), 2);
  EXPECT_EQ(AdvanceBlockTag(240), 241);
  EXPECT_EQ(AdvanceBlockTag(251), 252);
  EXPECT_EQ(AdvanceBlockTag(252), 1);
  EXPECT_EQ(AdvanceBlockTag(255), 1);
  EXPECT_EQ(AdvanceRegisterTag(239), 240);
  EXPECT_EQ(AdvanceRegisterTag(240), 1);
  EXPECT_EQ(AdvanceRegisterTag(250), 1);
  EXPECT_EQ(AdvanceRegisterTag(255), 1);
}

}  // namespace
}  // namespace kt
