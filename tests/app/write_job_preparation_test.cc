#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/dialog_fixture.h"
#include "app/headless/headless_window.h"
#include "app/write_eeprom_dialog.h"
#include "hid/sim/sim_board.h"
#include "support/scripted_backend.h"

namespace kt {
namespace {

using test::ScriptedBackend;
using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

constexpr char kJobOk[] = "Write to EEPROM OK!";

Bytes Head(const Bytes& bytes, std::size_t n) {
  return Bytes(bytes.begin(), bytes.begin() + std::min(n, bytes.size()));
}

// --- the ID fields ---------------------------------------------------------------------------------

TEST(ParseHexFieldTest, ReadsTheFieldsAsTheToolAlwaysHas) {
  struct Case {
    const char* text;
    std::uint16_t value;
  };
  const Case cases[] = {
      {"3B7D", 0x3B7D},
      {"3b7d", 0x3B7D},
      {"0x3B7D", 0x3B7D},
      {"0X3b7D", 0x3B7D},
      {"  \t3B7D", 0x3B7D},
      {"7310 rev B", 0x7310},
      {"3B7DQ", 0x3B7D},
      {"", 0},
      {"zz", 0},
      {"0x", 0},
      {"-1", 0},
      {"123456", 0x3456},
      {"0x0x12", 0},
      {"  ", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseHexField(c.text), c.value) << '"' << c.text << '"';
}

// --- target selection and the preparation steps over a scripted device -------------------------------

class JobPreparationTest : public test::DialogFixture {
 protected:
  void Start() { DialogFixture::Start(scripted); }
  int ListsTaken() const { return scripted.counters().listsTaken; }
  HResult OpenTarget() {
    HResult result = kSOk;
    OnWindow([&] { result = dialog->OpenTargetDevice(); });
    return result;
  }
  void SetFields(const std::string& vendor, const std::string& product) {
    window.SetItemText(ctl::kVendorId, vendor);
    window.SetItemText(ctl::kProductId, product);
  }
  // Answers every register read with `readValue` and confirms every register write.
  void AnswerRegisters(std::uint8_t readValue) {
    scripted.OnWrite([readValue](const test::WrittenReport& report, ScriptedBackend& b) {
      const std::uint8_t tag = report.bytes[1];
      if (report.bytes[2] == 0x22)
        b.QueueRead(test::ScriptedRead::Report(ScriptedBackend::Answer(tag, 64, {readValue})));
      if (report.bytes[2] == 0x21) b.QueueRead(test::ScriptedRead::Report(ScriptedBackend::Answer(tag, 64)));
    });
  }
};

// The waits the chip needs around the preparation: 1,000 ms after each erase command and after the
// write-protect release (10 ms after its confirmed register write), then the job's own pauses.
TEST_F(JobPreparationTest, AnErasedBoardsJobTakesEveryPauseTheChipNeeds) {
  StartOnSim(SimOptions{});
  clock.RecordSleeps();
  RunJob();
  ASSERT_EQ(Boxes().back().text, "Write to EEPROM OK!");
  std::vector<std::uint32_t> expected = {1000, 1000, 10, 1000};
  expected.insert(expected.end(), 4105, 3);
  EXPECT_EQ(clock.TakeSleeps(), expected);
}

TEST_F(JobPreparationTest, NoBoardAndNoProbeAnswerGivesNotFoundThenCantBeWritten) {
  Start();
  ASSERT_EQ(dialog->probeDeviceAbsent, 1);
  RunJob();
  const std::vector<test::ShownBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "USB deivce is NOT found!!(-1)");
  EXPECT_EQ(boxes[0].caption, "Write to EEPROM");
  EXPECT_EQ(boxes[0].icon, "error");
  EXPECT_EQ(boxes[1].text, "EEPROM Can't be Written!!(-2)");
  EXPECT_EQ(boxes[1].caption, "Write to EEPROM...");
  EXPECT_EQ(boxes[1].icon, "error");
  EXPECT_TRUE(window.IsEnabled(ctl::kWriteEeprom));
  EXPECT_EQ(dialog->writeRequested.load(), 0);
  EXPECT_EQ(dialog->targetVendorId, 0xFFFF);
  EXPECT_EQ(dialog->targetProductId, 0xFFFF);
  EXPECT_EQ(dialog->sequenceTag, 240);  // nothing was sent
}

TEST_F(JobPreparationTest, ProbePresentButNothingOpensGivesOnlyTheSecondNotFound) {
  scripted.AddInterface(ScriptedBackend::Device("blank", 0x3B7D, 0x72F7));
  Start();
  ASSERT_EQ(dialog->probeDeviceAbsent, 0);
  scripted.EditInterface(0, [](test::ScriptedInterface& i) { i.plainOpenFails = true; });
  RunJob();
  const std::vector<test::ShownBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "USB deivce is NOT found!!(-2)");
  EXPECT_EQ(boxes[0].caption, "Write to EEPROM");
  EXPECT_EQ(dialog->writeRequested.load(), 0);
}

TEST_F(JobPreparationTest, TheVersionMarkerAndStaticShowAForeignImage) {
  Start();
  RunJob();
  // The marker is cleared to a blank first, then marked: the default image carries 6087, not 5067.
  EXPECT_EQ(CallsStartingWith("text|1010|"), (Texts{"text|1010| ", "text|1010|."}));
  EXPECT_EQ(window.GetItemText(ctl::kFirmwareVersion), "6087");
  // The bar is reset before the image is copied, and the job is not refused for the version.
  EXPECT_EQ(CallsStartingWith("progress|"), (Texts{"progress|0"}));
  EXPECT_EQ(dialog->image.imageLength, kProgrammedLength);
  EXPECT_EQ(dialog->image.cidTagFound, 1);
  EXPECT_EQ(BoxTexts().front(), "USB deivce is NOT found!!(-1)");
}

TEST_F(JobPreparationTest, ABoardUnderTheSecondFallbackIdIsFoundAfterTheTypedIdsAndTheFirstRow) {
  scripted.AddInterface(ScriptedBackend::Device("old", 0x3B7D, 0x7300));
  Start();
  const int before = ListsTaken();
  EXPECT_EQ(OpenTarget(), kSOk);
  EXPECT_EQ(ListsTaken() - before, 3);  // typed 3B7D:7310, row 3B7D:7310, row 3B7D:7300
  EXPECT_EQ(dialog->targetVendorId, 0x3B7D);
  EXPECT_EQ(dialog->targetProductId, 0x7300);
  EXPECT_TRUE(dialog->hidLink.deviceOpen);
  EXPECT_TRUE(window.Boxes().empty());
}

TEST_F(JobPreparationTest, TypedIdsAreReadAsHexWithPrefixAndEitherCase) {
  scripted.AddInterface(ScriptedBackend::Device("custom", 0x3B7D, 0xA1B2));
  Start();
  for (const char* vendor : {"0x3B7D", "3b7d", " 0x3b7d"}) {
    SetFields(vendor, "a1B2");
    const int before = ListsTaken();
    EXPECT_EQ(OpenTarget(), kSOk) << vendor;
    EXPECT_EQ(ListsTaken() - before, 1) << vendor;  // the typed IDs opened it, no fallback
    EXPECT_EQ(dialog->targetProductId, 0xA1B2);
    OnWindow([this] { CloseHidLink(dialog->hidLink); });
  }
}

TEST_F(JobPreparationTest, AnEmptyFieldReadsAsZeroAndTheFallbackListDecides) {
  scripted.AddInterface(ScriptedBackend::Device("board", 0x3B7D, 0x7310));
  Start();
  SetFields("", "7310");
  const int before = ListsTaken();
  EXPECT_EQ(OpenTarget(), kSOk);
  EXPECT_EQ(ListsTaken() - before, 2);
  EXPECT_EQ(dialog->targetVendorId, 0x3B7D);
}

TEST_F(JobPreparationTest, OnlyTheFirst31CharactersOfAFieldAreRead) {
  scripted.AddInterface(ScriptedBackend::Device("custom", 0x3B7D, 0x1234));
  Start();
  // 30 blanks leave room for one digit: the field reads as vendor 3, which no board has.
  SetFields(std::string(30, ' ') + "3B7D", "1234");
  EXPECT_EQ(OpenTarget(), kEFail);
  EXPECT_EQ(BoxTexts(), (Texts{"USB deivce is NOT found!!(-1)"}));
}

TEST_F(JobPreparationTest, OpeningTheTargetClearsTheReadBackBuffer) {
  scripted.AddInterface(ScriptedBackend::Device("board", 0x3B7D, 0x7310));
  Start();
  OnWindow([this] { dialog->image.readbackBuffer.fill(0x5A); });
  EXPECT_EQ(OpenTarget(), kSOk);
  EXPECT_TRUE(std::all_of(dialog->image.readbackBuffer.begin(), dialog->image.readbackBuffer.end(),
                          [](std::uint8_t b) { return b == 0; }));
}

TEST_F(JobPreparationTest, WriteProtectReleaseClearsOnlyBitZeroWithTheFirstTags) {
  scripted.AddInterface(ScriptedBackend::Device("board", 0x3B7D, 0x7310));
  Start();
  struct Case {
    std::uint8_t read;
    std::uint8_t written;
  };
  std::uint8_t tag = 1;  // the tag starts at 240, which the register rule turns into 1
  for (const Case c : {Case{0x01, 0x00}, Case{0xFE, 0xFE}, Case{0xFF, 0xFE}}) {
    AnswerRegisters(c.read);
    const std::size_t before = scripted.Writes().size();
    const std::uint64_t start = clock.NowMicros();
    OnWindow([this] { EXPECT_EQ(dialog->ReleaseWriteProtect(), kSOk); });
    const std::vector<test::WrittenReport> writes = scripted.Writes();
    ASSERT_EQ(writes.size() - before, 2u);
    EXPECT_EQ(Head(writes[before].bytes, 6), (Bytes{0x00, tag, 0x22, 0x04, 0x00, 0x00}));
    EXPECT_EQ(Head(writes[before + 1].bytes, 6),
              (Bytes{0x00, static_cast<std::uint8_t>(tag + 1), 0x21, 0x04, 0x00, c.written}));
    tag = static_cast<std::uint8_t>(tag + 2);
    // The confirmed write's own 10 ms, then the second the chip is given.
    EXPECT_EQ(clock.NowMicros() - start, 1010000u);
    EXPECT_FALSE(dialog->hidLink.deviceOpen);
  }
}

TEST_F(JobPreparationTest, AFailedWriteProtectReadIsPassedOverWithoutAWrite) {
  scripted.AddInterface(ScriptedBackend::Device("board", 0x3B7D, 0x7310));
  Start();
  OnWindow([this] { EXPECT_EQ(dialog->ReleaseWriteProtect(), kSOk); });  // nothing answers the read
  ASSERT_EQ(scripted.Writes().size(), 1u);
  EXPECT_EQ(scripted.Writes()[0].bytes[2], 0x22);
  EXPECT_TRUE(window.Boxes().empty());
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
}

TEST_F(JobPreparationTest, EraseSendsTwoCommandsEachFollowedByASecond) {
  scripted.AddInterface(ScriptedBackend::Device("board", 0x3B7D, 0x7310));
  Start();
  const std::uint64_t start = clock.NowMicros();
  EXPECT_TRUE(Press(ctl::kEraseEeprom));
  EXPECT_EQ(clock.NowMicros() - start, 2000000u);
  const std::vector<test::WrittenReport> writes = scripted.Writes();
  ASSERT_EQ(writes.size(), 2u);
  for (const test::WrittenReport& w : writes) EXPECT_EQ(Head(w.bytes, 4), (Bytes{0x00, 0xF5, 0xAB, 0xCD}));
  const std::vector<test::ShownBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            "Please re-plugin USB device and MUST wait for USB device being recognized.\n"
            "Then press button to continue writting EEPROM!!");
  EXPECT_EQ(boxes[0].caption, "Write to EEPROM...");
  EXPECT_EQ(boxes[0].icon, "information");
  EXPECT_EQ(dialog->sequenceTag, 240);  // the erase command carries no tag
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
}

TEST_F(JobPreparationTest, AnEraseCommandThatDoesNotGoOutStopsAfterItsPause) {
  scripted.AddInterface(ScriptedBackend::Device("board", 0x3B7D, 0x7310));
  Start();
  scripted.SetWritesFail(true);
  const std::uint64_t start = clock.NowMicros();
  window.OnCall(HeadlessWindow::BoxEntry(prep_text::kEraseNotSent, "Write to EEPROM...", MessageIcon::kError),
                [this] { EXPECT_TRUE(dialog->hidLink.deviceOpen); });
  OnWindow([this] { EXPECT_EQ(dialog->EraseEeprom(), kEFail); });
  EXPECT_EQ(clock.NowMicros() - start, 1000000u);
  EXPECT_EQ(scripted.Writes().size(), 1u);
  EXPECT_EQ(BoxTexts(), (Texts{"EEPROM Can't be Written!!(-1)"}));
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
}

// --- whole jobs against the simulated board -------------------------------------------------------

class WriteJobOnSimTest : public test::DialogFixture {
 protected:
  std::vector<Bytes> RequestsStartingWith(const Bytes& head) {
    std::vector<Bytes> found;
    for (const Bytes& r : sim->board().requests()) {
      if (Head(r, head.size()) == head) found.push_back(r);
    }
    return found;
  }
};

TEST_F(WriteJobOnSimTest, ABlankBoardIsWrittenWithoutEraseAndTheFirstRequestCarriesTagOne) {
  StartOnSim(Blank());
  ASSERT_EQ(dialog->probeDeviceAbsent, 0);
  RunJob();
  EXPECT_EQ(BoxTexts(), (Texts{kJobOk}));
  const std::vector<Bytes> requests = sim->board().requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(Head(requests[0], 5), (Bytes{0x00, 0x01, 0x22, 0x04, 0x00}));
  // The board sets bit 0 of the write protect at plug-in; it goes back with the bit cleared.
  EXPECT_EQ(Head(requests[1], 6), (Bytes{0x00, 0x02, 0x21, 0x04, 0x00, 0x00}));
  EXPECT_TRUE(RequestsStartingWith({0x00, 0xF5, 0xAB, 0xCD}).empty());
  EXPECT_EQ(window.ProgressPos(ctl::kProgress), 100);
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
  const Bytes eeprom = sim->board().Eeprom();
  EXPECT_TRUE(
      std::equal(eeprom.begin(), eeprom.begin() + kProgrammedLength, dialog->image.imageBuffer.begin()));
}

TEST_F(WriteJobOnSimTest, AProgrammedBoardIsErasedReplugsAndIsFoundUnderTheBlankIdThroughTheFallbackList) {
  StartOnSim(SimOptions{});
  ASSERT_EQ(dialog->probeDeviceAbsent, 1);
  RunJob();
  EXPECT_EQ(BoxTexts(), (Texts{prep_text::kReplug, kJobOk}));
  EXPECT_EQ(RequestsStartingWith({0x00, 0xF5, 0xAB, 0xCD}).size(), 2u);
  EXPECT_EQ(dialog->targetVendorId, 0x3B7D);
  EXPECT_EQ(dialog->targetProductId, 0x72F7);
}

TEST_F(WriteJobOnSimTest, AProbeDuringTheJobWaitsForItsEndAndLeavesTheJobAlone) {
  StartOnSim(Blank());
  bool probed = false;
  window.OnCall("progress|20", [&] {
    // The worker waits on this very call; a probe that took the link now would fail the job.
    probed = true;
    dialog->probeDeviceAbsent = 1;
    EXPECT_EQ(dialog->OnDeviceChange(kDbtDeviceArrival, kDbtDevtypDeviceInterface), 0);
    EXPECT_TRUE(dialog->ProbePending());
    EXPECT_TRUE(dialog->hidLink.deviceOpen);
    EXPECT_EQ(dialog->probeDeviceAbsent, 1);
  });
  RunJob();
  EXPECT_TRUE(probed);
  EXPECT_EQ(BoxTexts(), (Texts{kJobOk}));
  // The job's end is posted to the window thread after the button; the probe runs then, on a free link.
  OnWindow([] {});
  EXPECT_FALSE(dialog->ProbePending());
  EXPECT_EQ(dialog->probeDeviceAbsent, 0);
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
}

TEST_F(WriteJobOnSimTest, AProbeDuringTheReplugBoxRunsOnceTheErasePathHasClosedTheLink) {
  SimOptions options;
  options.manualReplug = true;
  StartOnSim(options);
  window.OnCall(HeadlessWindow::BoxEntry(prep_text::kReplug, "Write to EEPROM...", MessageIcon::kInformation),
                [this] {
                  // The operator re-plugs the board while the box is up.
                  sim->board().Unplug();
                  sim->board().Plug();
                  dialog->OnDeviceChange(kDbtDeviceRemoveComplete, kDbtDevtypDeviceInterface);
                  EXPECT_TRUE(dialog->ProbePending());
                  EXPECT_TRUE(dialog->hidLink.deviceOpen);
                  EXPECT_EQ(dialog->probeDeviceAbsent, 1);
                });
  OnWindow([this] {
    EXPECT_EQ(dialog->EraseEeprom(), kSOk);
    EXPECT_FALSE(dialog->ProbePending());
    // The erased board answers under the blank ID, and the probe saw it.
    EXPECT_EQ(dialog->probeDeviceAbsent, 0);
    EXPECT_FALSE(dialog->hidLink.deviceOpen);
  });
  EXPECT_EQ(BoxTexts(), (Texts{prep_text::kReplug}));
}

TEST_F(WriteJobOnSimTest, AFaultyChipEndsTheJobWithItsNumberAndASecondPressRunsAgain) {
  SimOptions options = Blank();
  options.chipId = 5;
  StartOnSim(options);
  RunJob();
  RunJob();
  EXPECT_EQ(BoxTexts(),
            (Texts{"Write to EEPROM Fail!  Try Again!(-2)", "Write to EEPROM Fail!  Try Again!(-2)"}));
}

}  // namespace
}  // namespace kt
