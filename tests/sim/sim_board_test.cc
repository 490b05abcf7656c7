#include "hid/sim/sim_board.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <numeric>
#include <string>
#include <thread>

#include "hid/chip_registers.h"
#include "image/default_image.h"
#include "sim/sim_port.h"

namespace kt {
namespace {

using test::BlockReadRequest;
using test::BlockWriteRequest;
using test::EraseRequest;
using test::RegisterRequest;
using test::SimPort;

class SimBoardTest : public ::testing::Test {
 protected:
  void Start(const std::string& text = "") {
    SimOptions options;
    std::string error;
    ASSERT_TRUE(ParseSimOptions(text, options, error)) << error;
    port_.reset();
    backend_ = std::make_unique<SimBackend>(options, clock_);
    backend_->SetDeviceChangeListener([this](const DeviceChange& change) { changes_.push_back(change.arrived); });
    port_ = std::make_unique<SimPort>(*backend_);
    ASSERT_TRUE(port_->open());
  }
  SimBoard& board() { return backend_->board(); }
  SimPort& port() { return *port_; }

  void ReleaseWriteProtect() {
    port().Exchange(RegisterRequest(tag_++, kWriteProtectRegister, true, 0x00));
    ASSERT_FALSE(board().writeProtected());
  }
  std::uint8_t ReadRegister(std::uint16_t reg) { return port().Exchange(RegisterRequest(tag_++, reg))[8]; }
  void RunSequence(const std::array<std::uint16_t, 7>& sequence) {
    for (const std::uint16_t reg : sequence) ReadRegister(reg);
  }

  VirtualClock clock_;
  std::unique_ptr<SimBackend> backend_;
  std::unique_ptr<SimPort> port_;
  std::vector<bool> changes_;
  std::uint8_t tag_ = 1;
};

std::vector<std::uint8_t> Pattern(std::size_t length, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(length);
  std::iota(bytes.begin(), bytes.end(), seed);
  return bytes;
}

TEST_F(SimBoardTest, BlockReadsAnswerTagLengthAndDataForEveryLengthTheToolUses) {
  Start("blank");
  board().SetEeprom(Pattern(64, 0x40), 0x1230);
  for (const std::uint8_t length : {3, 5, 8, 16}) {
    const std::vector<std::uint8_t> answer = port().Exchange(BlockReadRequest(tag_++, 0x1234, length));
    ASSERT_EQ(answer.size(), SimBoard::kInputReportLength);
    EXPECT_EQ(answer[8], length);
    for (std::uint8_t i = 0; i < length; ++i) EXPECT_EQ(answer[9 + i], 0x44 + i) << "length " << int(length);
  }
}

TEST_F(SimBoardTest, BlockWritesAreAcknowledgedButOnlyStoredOnceWriteProtectIsCleared) {
  Start("blank");
  EXPECT_TRUE(board().writeProtected());
  const std::vector<std::uint8_t> answer = port().Exchange(BlockWriteRequest(tag_++, 0x0100, Pattern(8, 1)));
  EXPECT_EQ(answer[8], 8);
  EXPECT_EQ(board().Eeprom()[0x0100], SimBoard::kErasedByte);

  ReleaseWriteProtect();
  std::uint16_t address = 0x0200;
  for (const std::uint8_t length : {3, 5, 8}) {
    port().Exchange(BlockWriteRequest(tag_++, address, Pattern(length, length)));
    const std::vector<std::uint8_t> eeprom = board().Eeprom();
    for (std::uint8_t i = 0; i < length; ++i) EXPECT_EQ(eeprom[address + i], length + i);
    EXPECT_EQ(eeprom[address + length], SimBoard::kErasedByte) << "wrote past the block";
    address = static_cast<std::uint16_t>(address + 0x10);
  }
}

TEST_F(SimBoardTest, RegistersReadBackWhatWasWrittenAndTheAnswerEchoesTheValue) {
  Start();
  EXPECT_EQ(ReadRegister(0x0123), 0);
  EXPECT_EQ(port().Exchange(RegisterRequest(tag_++, 0x0123, true, 0x5A))[8], 0x5A);
  EXPECT_EQ(ReadRegister(0x0123), 0x5A);
  EXPECT_EQ(board().Register(0x0123), 0x5A);
}

TEST_F(SimBoardTest, RequestsOutsideTheEepromOrOfImpossibleLengthGetNoAnswer) {
  Start("blank");
  const std::uint16_t last = SimBoard::kEepromSize - 1;
  const std::vector<std::vector<std::uint8_t>> refused = {BlockReadRequest(1, last, 3),
                                                          BlockReadRequest(2, 0, 0),
                                                          BlockReadRequest(3, 0, 25),
                                                          BlockWriteRequest(4, last, {1, 2}),
                                                          BlockWriteRequest(5, 0, Pattern(9, 0)),
                                                          BlockReadRequest(6, 0xFFFF, 1)};
  for (const auto& request : refused) {
    EXPECT_TRUE(port().Send(request));
    EXPECT_FALSE(port().Receive()) << "tag " << int(request[1]);
  }
  // The last byte itself is there.
  EXPECT_EQ(port().Exchange(BlockReadRequest(7, last, 1))[8], 1);
  EXPECT_EQ(port().Exchange(BlockReadRequest(8, 0, 24))[8], 24);
}

TEST_F(SimBoardTest, ReadWithNothingDueRunsIntoTheTimeOutInVirtualTime) {
  Start();
  const std::uint64_t before = clock_.NowMicros();
  EXPECT_FALSE(port().Receive(5000));
  EXPECT_EQ(clock_.NowMicros() - before, 5'000'000u);
}

TEST_F(SimBoardTest, WrongLengthOrReportIdIsRefusedByTheWrite) {
  Start();
  std::vector<std::uint8_t> request = RegisterRequest(1, 0x10);
  request.push_back(0);
  EXPECT_FALSE(port().Send(request));
  request.pop_back();
  request[0] = 3;
  EXPECT_FALSE(port().Send(request));
  EXPECT_EQ(board().requestCount(), 0u);
}

// --- access sequences ---

TEST_F(SimBoardTest, ChipIdReadsSevenOnlyRightAfterItsAccessSequence) {
  Start();
  EXPECT_EQ(ReadRegister(kChipIdRegister), 0);
  RunSequence(kChipIdAccessSequence);
  EXPECT_EQ(ReadRegister(kChipIdRegister), kExpectedChipId);
  EXPECT_EQ(ReadRegister(kChipIdRegister), 0) << "one unlock serves one read";

  // Broken by another request: the ID stays hidden.
  for (std::size_t i = 0; i < 4; ++i) ReadRegister(kChipIdAccessSequence[i]);
  ReadRegister(0x0400);
  for (std::size_t i = 4; i < 7; ++i) ReadRegister(kChipIdAccessSequence[i]);
  EXPECT_EQ(ReadRegister(kChipIdRegister), 0);

  // A request in between the sequence and the ID read loses it too.
  RunSequence(kChipIdAccessSequence);
  port().Exchange(BlockReadRequest(tag_++, 0, 3));
  EXPECT_EQ(ReadRegister(kChipIdRegister), 0);

  // A sequence started over after a false start still counts.
  ReadRegister(kChipIdAccessSequence[0]);
  ReadRegister(kChipIdAccessSequence[1]);
  RunSequence(kChipIdAccessSequence);
  EXPECT_EQ(ReadRegister(kChipIdRegister), kExpectedChipId);
}

TEST_F(SimBoardTest, VersionReadsHighThenLowRightAfterItsAccessSequence) {
  Start();
  RunSequence(kChipVersionAccessSequence);
  EXPECT_EQ(ReadRegister(kChipVersionHighRegister), kChipVersion >> 8);
  EXPECT_EQ(ReadRegister(kChipVersionLowRegister), kChipVersion & 0xFF);
  EXPECT_EQ(ReadRegister(kChipVersionLowRegister), 0);

  RunSequence(kChipVersionAccessSequence);
  EXPECT_EQ(ReadRegister(kChipVersionLowRegister), 0) << "the low byte only follows the high byte";
  RunSequence(kChipVersionAccessSequence);
  EXPECT_EQ(ReadRegister(kChipIdRegister), 0) << "the version sequence does not unlock the ID";
  RunSequence(kChipIdAccessSequence);
  EXPECT_EQ(ReadRegister(kChipVersionHighRegister), 0) << "the ID sequence does not unlock the version";
}

TEST_F(SimBoardTest, IdentificationRegistersIgnoreWrites) {
  Start();
  port().Exchange(RegisterRequest(tag_++, kChipIdRegister, true, 7));
  EXPECT_EQ(ReadRegister(kChipIdRegister), 0);
}

TEST_F(SimBoardTest, AccessSequenceReadWhoseAnswerIsLostStillCounts) {
  Start("silent@3");
  for (const std::uint16_t reg : kChipIdAccessSequence) {
    ASSERT_TRUE(port().Send(RegisterRequest(tag_++, reg)));
    port().Receive();
  }
  EXPECT_EQ(ReadRegister(kChipIdRegister), kExpectedChipId);
}

TEST_F(SimBoardTest, ChipIdAndVersionOptionsChangeWhatTheSequencesReveal) {
  Start("chip-id=9,chip-version=0x1234");
  RunSequence(kChipIdAccessSequence);
  EXPECT_EQ(ReadRegister(kChipIdRegister), 9);
  RunSequence(kChipVersionAccessSequence);
  EXPECT_EQ(ReadRegister(kChipVersionHighRegister), 0x12);
  EXPECT_EQ(ReadRegister(kChipVersionLowRegister), 0x34);
}

// --- enumeration, erase and re-plug ---

std::vector<std::uint8_t> EepromWithProduct(std::uint16_t productId) {
  std::vector<std::uint8_t> eeprom(SimBoard::kEepromSize, 0xFF);
  const std::vector<std::uint8_t> header = {0x4B, 0x54, 0x37, 0x33, 0x01, 0x00, 0x00, 0x80};
  std::copy(header.begin(), header.end(), eeprom.begin());
  const std::string tag = "KTHsDTag";
  std::copy(tag.begin(), tag.end(), eeprom.begin() + 100);
  eeprom[108 + 10] = static_cast<std::uint8_t>(productId);
  eeprom[108 + 11] = static_cast<std::uint8_t>(productId >> 8);
  return eeprom;
}

TEST_F(SimBoardTest, EnumeratesAtPlugInByTheEepromHeaderAndDescriptor) {
  Start("blank");
  EXPECT_EQ(board().productId(), kBlankProductId);
  board().SetEeprom(EepromWithProduct(0x7310));
  EXPECT_EQ(board().productId(), kBlankProductId) << "a board re-enumerates only when re-plugged";
  board().Unplug();
  board().Plug();
  EXPECT_EQ(board().productId(), 0x7310);

  // A job cut short before the header was written leaves a board that boots blank.
  for (const std::uint8_t fill : {0x00, 0xFF}) {
    board().SetEeprom(std::vector<std::uint8_t>(8, fill));
    board().Unplug();
    board().Plug();
    EXPECT_EQ(board().productId(), kBlankProductId) << "header of " << int(fill);
  }
}

TEST_F(SimBoardTest, ProgrammedBoardHoldsTheDefaultImageAndEnumeratesAsTheProduct) {
  Start();
  const std::vector<std::uint8_t> eeprom = board().Eeprom();
  ASSERT_EQ(eeprom.size(), SimBoard::kEepromSize);
  EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.end(), defaultImage.begin()));
  EXPECT_NE(board().productId(), kBlankProductId);
}

TEST_F(SimBoardTest, EraseClearsWithoutAnswerAndReplugsBlankWhenTheLastHandleCloses) {
  Start();
  ReleaseWriteProtect();
  ASSERT_TRUE(port().Send(EraseRequest()));
  EXPECT_FALSE(port().Receive());
  const std::vector<std::uint8_t> eeprom = board().Eeprom();
  EXPECT_TRUE(
      std::all_of(eeprom.begin(), eeprom.end(), [](std::uint8_t b) { return b == SimBoard::kErasedByte; }));
  EXPECT_TRUE(changes_.empty()) << "no re-plug while the tool holds the board";

  auto extra = backend_->Open(SimBackend::kDevicePath, HidOpenMode::kPlain);
  port().Close();
  EXPECT_TRUE(changes_.empty());
  extra.reset();
  EXPECT_EQ(changes_, (std::vector<bool>{false, true}));
  EXPECT_TRUE(board().plugged());
  EXPECT_EQ(board().productId(), kBlankProductId);
  EXPECT_TRUE(board().writeProtected()) << "write protect is set again at plug-in";
  EXPECT_EQ(board().requestCount(), 0u);
}

TEST_F(SimBoardTest, EraseWorksWhileWriteProtectedAndManualReplugWaitsForTheOperator) {
  Start("manual-replug");
  const std::uint16_t programmedId = board().productId();
  ASSERT_TRUE(port().Send(EraseRequest()));
  port().Close();
  EXPECT_TRUE(changes_.empty());
  EXPECT_EQ(board().productId(), programmedId);
  EXPECT_EQ(board().Eeprom()[0], SimBoard::kErasedByte);
  board().Unplug();
  board().Plug();
  EXPECT_EQ(changes_, (std::vector<bool>{false, true}));
  EXPECT_EQ(board().productId(), kBlankProductId);
}

TEST_F(SimBoardTest, ReplugKeepsTheEepromAndSetsWriteProtectAgain) {
  Start("blank");
  ReleaseWriteProtect();
  port().Exchange(BlockWriteRequest(tag_++, 0x40, {9, 8, 7}));
  port().Close();
  board().Unplug();
  board().Plug();
  EXPECT_TRUE(board().writeProtected());
  EXPECT_EQ(board().Eeprom()[0x41], 8);
}

TEST_F(SimBoardTest, UnpluggedBoardKillsItsHandlesAndDropsPendingAnswers) {
  Start("latency=50");
  ASSERT_TRUE(port().Send(RegisterRequest(1, 0x10)));
  board().Unplug();
  EXPECT_EQ(changes_, (std::vector<bool>{false}));
  const std::uint64_t before = clock_.NowMicros();
  EXPECT_FALSE(port().Receive(5000));
  EXPECT_EQ(clock_.NowMicros(), before) << "a vanished board fails the read at once, as the real stacks do";
  EXPECT_FALSE(port().Send(RegisterRequest(2, 0x10)));
  board().Plug();
  EXPECT_FALSE(port().Send(RegisterRequest(3, 0x10))) << "old handles stay dead after a re-plug";
  EXPECT_EQ(board().requests().size(), 1u);
}

// --- faults ---

TEST_F(SimBoardTest, SilentDropsOnlyTheNamedRequestsAnswers) {
  Start("silent@2,silent@4");
  std::vector<bool> answered;
  for (std::uint8_t t = 1; t <= 5; ++t) {
    ASSERT_TRUE(port().Send(RegisterRequest(t, 0x10)));
    answered.push_back(port().Receive().has_value());
  }
  EXPECT_EQ(answered, (std::vector<bool>{true, false, true, false, true}));
}

TEST_F(SimBoardTest, StrayReportsWithAnotherTagComeBeforeTheAnswer) {
  Start("stray@2:3");
  port().Exchange(RegisterRequest(1, 0x10));
  ASSERT_TRUE(port().Send(RegisterRequest(2, 0x10)));
  for (int i = 0; i < 3; ++i) {
    const auto stray = port().Receive();
    ASSERT_TRUE(stray);
    EXPECT_NE((*stray)[7], 2);
  }
  const auto answer = port().Receive();
  ASSERT_TRUE(answer);
  EXPECT_EQ((*answer)[7], 2);
}

TEST_F(SimBoardTest, ShortCutsTheAnswerToSevenBytes) {
  Start("short@1");
  ASSERT_TRUE(port().Send(BlockReadRequest(1, 0, 8)));
  const auto answer = port().Receive();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->size(), 7u);
  EXPECT_EQ(port().Exchange(BlockReadRequest(2, 0, 8)).size(), SimBoard::kInputReportLength);
}

TEST_F(SimBoardTest, BadlenChangesTheLengthByteOfABlockAnswer) {
  Start("badlen@1");
  EXPECT_NE(port().Exchange(BlockReadRequest(1, 0, 16))[8], 16);
  EXPECT_EQ(port().Exchange(BlockReadRequest(2, 0, 16))[8], 16);
}

TEST_F(SimBoardTest, FlipChangesWhatIsReadButNotWhatIsStored) {
  Start("blank,flip@0x101:3");
  ReleaseWriteProtect();
  port().Exchange(BlockWriteRequest(tag_++, 0x100, {0x11, 0x22, 0x33}));
  const auto answer = port().Exchange(BlockReadRequest(tag_++, 0x100, 3));
  EXPECT_EQ(answer[9], 0x11);
  EXPECT_EQ(answer[10], 0x22 ^ 0x08);
  EXPECT_EQ(answer[11], 0x33);
  EXPECT_EQ(board().Eeprom()[0x101], 0x22);
}

TEST_F(SimBoardTest, LieAcknowledgesWritesCoveringTheAddressWithoutStoringThem) {
  Start("blank,lie@0x205");
  ReleaseWriteProtect();
  port().Exchange(BlockWriteRequest(tag_++, 0x200, Pattern(8, 1)));  // covers 0x205
  port().Exchange(BlockWriteRequest(tag_++, 0x208, Pattern(8, 1)));  // does not
  const std::vector<std::uint8_t> eeprom = board().Eeprom();
  EXPECT_EQ(eeprom[0x205], SimBoard::kErasedByte);
  EXPECT_EQ(eeprom[0x200], SimBoard::kErasedByte);
  EXPECT_EQ(eeprom[0x208], 1);
}

TEST_F(SimBoardTest, UnplugMakesTheBoardDisappearWhenTheRequestArrives) {
  Start("unplug@2");
  port().Exchange(RegisterRequest(1, 0x10));
  EXPECT_FALSE(port().Send(RegisterRequest(2, 0x10)));
  EXPECT_FALSE(board().plugged());
  EXPECT_EQ(changes_, (std::vector<bool>{false}));
  EXPECT_FALSE(port().Receive());
  std::string path;
  EXPECT_EQ(backend_->ListInterfaces()->Next(0, path), HidEnumStep::kEnd);
  EXPECT_EQ(backend_->Open(SimBackend::kDevicePath, HidOpenMode::kPlain), nullptr);
}

// hang@N holds request N's write until the host cancels it or the board goes; either way it fails, and
// a cancelled handle takes no further report.
TEST_F(SimBoardTest, HangHoldsTheWriteUntilCancelledOrUnplugged) {
  for (const bool byUnplug : {false, true}) {
    Start("hang@2");
    port().Exchange(RegisterRequest(1, 0x10));
    std::promise<bool> sent;
    std::thread writer([&] { sent.set_value(port().Send(RegisterRequest(2, 0x10))); });
    std::future<bool> result = sent.get_future();
    ASSERT_TRUE(board().WaitForHeldWrite(60000));
    if (byUnplug) {
      board().Unplug();
    } else {
      port().CancelWrite();
    }
    EXPECT_FALSE(result.get()) << byUnplug;
    writer.join();
    EXPECT_FALSE(port().Send(RegisterRequest(3, 0x10))) << byUnplug;
    EXPECT_EQ(board().requestCount(), 2u) << byUnplug;
  }
}

TEST_F(SimBoardTest, WpStuckKeepsWriteProtectSet) {
  Start("blank,wp-stuck");
  port().Exchange(RegisterRequest(tag_++, kWriteProtectRegister, true, 0x00));
  EXPECT_TRUE(board().writeProtected());
  port().Exchange(BlockWriteRequest(tag_++, 0, {1, 2, 3}));
  EXPECT_EQ(board().Eeprom()[0], SimBoard::kErasedByte);
}

TEST_F(SimBoardTest, LatencyDelaysEveryAnswerAndALateAnswerStillArrivesAfterATimeOut) {
  Start("latency=40");
  std::uint64_t sent = clock_.NowMicros();
  port().Exchange(RegisterRequest(1, 0x10));
  EXPECT_EQ(clock_.NowMicros() - sent, 40'000u);

  sent = clock_.NowMicros();
  ASSERT_TRUE(port().Send(RegisterRequest(2, 0x10)));
  EXPECT_FALSE(port().Receive(10));
  const auto late = port().Receive(100);
  ASSERT_TRUE(late);
  EXPECT_EQ((*late)[7], 2);
  EXPECT_EQ(clock_.NowMicros() - sent, 40'000u);
}

TEST_F(SimBoardTest, FaultsCountRequestsAgainFromEachPlugIn) {
  Start("silent@1");
  ASSERT_TRUE(port().Send(RegisterRequest(1, 0x10)));
  EXPECT_FALSE(port().Receive());
  port().Exchange(RegisterRequest(2, 0x10));
  port().Close();
  board().Unplug();
  board().Plug();
  port_ = std::make_unique<SimPort>(*backend_);
  ASSERT_TRUE(port().Send(RegisterRequest(3, 0x10)));
  EXPECT_FALSE(port().Receive());
  EXPECT_EQ(board().requestCount(), 1u);
  EXPECT_EQ(board().requests().size(), 3u);
}

TEST_F(SimBoardTest, InputReportsGoOnlyToHandlesOpenedForReadingBeforeTheAnswer) {
  Start();
  ASSERT_TRUE(port().Send(RegisterRequest(1, 0x10)));
  auto late = backend_->Open(SimBackend::kDevicePath, HidOpenMode::kOverlappedRead);
  std::uint8_t buffer[64];
  EXPECT_EQ(late->ReadReport(buffer, sizeof buffer, 100).status, HidReadResult::Status::kTimedOut);
  EXPECT_TRUE(port().Receive());
}

// With the real clock an answer is really waited for; the reader and the writer are different threads,
// and whichever comes first, the read gets the answer.
TEST(SimBoardRealClockTest, ReaderOnAnotherThreadGetsTheDelayedAnswer) {
  SimOptions options;
  options.latencyMs = 3;
  SimBackend backend(options, SystemClock());
  SimPort port(backend);
  std::optional<std::vector<std::uint8_t>> answer;
  std::thread reader([&] { answer = port.Receive(5000); });
  EXPECT_TRUE(port.Send(RegisterRequest(0x42, 0x10)));
  reader.join();
  ASSERT_TRUE(answer);
  EXPECT_EQ((*answer)[7], 0x42);
}

// A listener removed while one of its calls is under way (an unplug on another thread) is not dropped
// until that call has ended: its owner may go as soon as the removal returns, as with a real monitor.
TEST_F(SimBoardTest, RemovingTheListenerWaitsForItsCallUnderWay) {
  Start();
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> callEnded{false};
  backend_->SetDeviceChangeListener([&](const DeviceChange&) {
    entered.set_value();
    released.wait();
    callEnded = true;
  });
  std::thread unplug([this] { board().Unplug(); });
  entered.get_future().wait();
  std::future<bool> removal = std::async(std::launch::async, [&] {
    backend_->SetDeviceChangeListener(nullptr);
    return callEnded.load();
  });
  // The removal must still be waiting; once the call may end, it returns after it.
  EXPECT_EQ(removal.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  release.set_value();
  EXPECT_TRUE(removal.get());
  unplug.join();
}

}  // namespace
}  // namespace kt
