#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_test_window.h"
#include "app/write_eeprom_dialog.h"
#include "base/clock.h"
#include "hid/sim/sim_board.h"
#include "support/scripted_backend.h"

namespace kt {
namespace {

using test::DialogTestWindow;
using test::ScriptedBackend;
using Texts = std::vector<std::string>;

constexpr char kJobOk[] = "Write to EEPROM OK!";

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

class JobPreparationTest : public ::testing::Test {
 protected:
  void Start() {
    dialog = std::make_unique<CKT701xWriteEepromMPDlg>(window, backend, clock);
    dialog->OnInitDialog();
  }
  int ListsTaken() const { return backend.counters().listsTaken; }
  // Answers every register request with `readValue` (reads) or an echo (writes).
  void AnswerRegisters(std::uint8_t readValue) {
    backend.OnWrite([readValue](const test::WrittenReport& report, ScriptedBackend& b) {
      const std::uint8_t tag = report.bytes[1];
      if (report.bytes[2] == 0x22)
        b.QueueRead(test::ScriptedRead::Report(ScriptedBackend::Answer(tag, 64, {readValue})));
      if (report.bytes[2] == 0x21)
        b.QueueRead(test::ScriptedRead::Report(ScriptedBackend::Answer(tag, 64, {})));
    });
  }

  VirtualClock clock;
  ScriptedBackend backend{&clock};
  DialogTestWindow window;
  std::unique_ptr<CKT701xWriteEepromMPDlg> dialog;
};

TEST_F(JobPreparationTest, NoBoardAndNoProbeAnswerGivesNotFoundThenCantBeWritten) {
  Start();
  ASSERT_EQ(dialog->probeDeviceAbsent, 1);
  dialog->OnWriteEeprom();
  ASSERT_EQ(window.boxes.size(), 2u);
  EXPECT_EQ(window.boxes[0].text, "USB deivce is NOT found!!(-1)");
  EXPECT_EQ(window.boxes[0].caption, "Write to EEPROM");
  EXPECT_EQ(window.boxes[0].icon, MessageIcon::kError);
  EXPECT_EQ(window.boxes[1].text, "EEPROM Can't be Written!!(-2)");
  EXPECT_EQ(window.boxes[1].caption, "Write to EEPROM...");
  EXPECT_EQ(window.boxes[1].icon, MessageIcon::kError);
  EXPECT_TRUE(window.IsEnabled(ctl::kWriteEeprom));
  EXPECT_EQ(dialog->writeRequested.load(), 0);
  EXPECT_EQ(dialog->targetVendorId, 0xFFFF);
  EXPECT_EQ(dialog->targetProductId, 0xFFFF);
  EXPECT_EQ(dialog->sequenceTag, 240);  // nothing was sent
}

TEST_F(JobPreparationTest, ProbePresentButNothingOpensGivesOnlyTheSecondNotFound) {
  backend.AddInterface(ScriptedBackend::Device("blank", 0x3B7D, 0x72F7));
  Start();
  ASSERT_EQ(dialog->probeDeviceAbsent, 0);
  backend.EditInterface(0, [](test::ScriptedInterface& i) { i.plainOpenFails = true; });
  dialog->OnWriteEeprom();
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(window.boxes[0].text, "USB deivce is NOT found!!(-2)");
  EXPECT_EQ(window.boxes[0].caption, "Write to EEPROM");
  EXPECT_TRUE(window.IsEnabled(ctl::kWriteEeprom));
  EXPECT_EQ(dialog->writeRequested.load(), 0);
}

TEST_F(JobPreparationTest, TheVersionMarkerAndStaticShowAForeignImage) {
  Start();
  dialog->OnWriteEeprom();
  // The marker is cleared to a blank first, then marked: the default image carries 6087, not 5067.
  EXPECT_EQ(window.CallsStartingWith("text|1010|"), (Texts{"text|1010| ", "text|1010|."}));
  EXPECT_EQ(window.GetItemText(ctl::kFirmwareVersion), "6087");
  // The progress bar is reset before the image is copied, and the job is not refused for the version.
  EXPECT_EQ(window.CallsStartingWith("progress|"), (Texts{"progress|0"}));
  EXPECT_EQ(dialog->image.imageLength, kProgrammedLength);
  EXPECT_EQ(dialog->image.cidTagFound, 1);
}

TEST_F(JobPreparationTest, ABoardUnderTheSecondFallbackIdIsFoundAfterTheTypedIdsAndTheFirstRow) {
  backend.AddInterface(ScriptedBackend::Device("old", 0x3B7D, 0x7300));
  Start();
  const int before = ListsTaken();
  EXPECT_EQ(dialog->OpenTargetDevice(), kSOk);
  EXPECT_EQ(ListsTaken() - before, 3);  // typed 3B7D:7310, row 3B7D:7310, row 3B7D:7300
  EXPECT_EQ(dialog->targetVendorId, 0x3B7D);
  EXPECT_EQ(dialog->targetProductId, 0x7300);
  EXPECT_TRUE(dialog->hidLink.deviceOpen);
  EXPECT_TRUE(window.boxes.empty());
}

TEST_F(JobPreparationTest, TypedIdsAreReadAsHexWithPrefixAndEitherCase) {
  backend.AddInterface(ScriptedBackend::Device("custom", 0x3B7D, 0xA1B2));
  Start();
  for (const char* vid : {"0x3B7D", "3b7d", " 0x3b7d"}) {
    window.SetItemText(ctl::kVendorId, vid);
    window.SetItemText(ctl::kProductId, "a1B2");
    const int before = ListsTaken();
    EXPECT_EQ(dialog->OpenTargetDevice(), kSOk) << vid;
    EXPECT_EQ(ListsTaken() - before, 1) << vid;  // the typed IDs opened it, no fallback
    EXPECT_EQ(dialog->targetProductId, 0xA1B2);
    CloseHidLink(dialog->hidLink);
  }
}

TEST_F(JobPreparationTest, AnEmptyFieldReadsAsZeroAndTheFallbackListDecides) {
  backend.AddInterface(ScriptedBackend::Device("board", 0x3B7D, 0x7310));
  Start();
  window.SetItemText(ctl::kVendorId, "");
  const int before = ListsTaken();
  EXPECT_EQ(dialog->OpenTargetDevice(), kSOk);
  EXPECT_EQ(ListsTaken() - before, 2);
  EXPECT_EQ(dialog->targetVendorId, 0x3B7D);
}

TEST_F(JobPreparationTest, OnlyTheFirst31CharactersOfAFieldAreRead) {
  backend.AddInterface(ScriptedBackend::Device("custom", 0x3B7D, 0x1234));
  Start();
  // 30 blanks leave room for one digit: the field reads as vendor 3, which no board has.
  window.SetItemText(ctl::kVendorId, std::string(30, ' ') + "3B7D");
  window.SetItemText(ctl::kProductId, "1234");
  EXPECT_EQ(dialog->OpenTargetDevice(), kEFail);
  EXPECT_EQ(window.BoxTexts(), (Texts{"USB deivce is NOT found!!(-1)"}));
}

TEST_F(JobPreparationTest, OpeningTheTargetClearsTheReadBackBuffer) {
  backend.AddInterface(ScriptedBackend::Device("board", 0x3B7D, 0x7310));
  Start();
  dialog->image.readbackBuffer.fill(0x5A);
  EXPECT_EQ(dialog->OpenTargetDevice(), kSOk);
  EXPECT_TRUE(std::all_of(dialog->image.readbackBuffer.begin(), dialog->image.readbackBuffer.end(),
                          [](std::uint8_t b) { return b == 0; }));
}

TEST_F(JobPreparationTest, WriteProtectReleaseClearsOnlyBitZeroWithTheFirstTags) {
  backend.AddInterface(ScriptedBackend::Device("board", 0x3B7D, 0x7310));
  Start();
  struct Case {
    std::uint8_t read;
    std::uint8_t written;
  };
  std::uint8_t tag = 1;  // the tag starts at 240, which the register rule turns into 1
  for (const Case c : {Case{0x01, 0x00}, Case{0xFE, 0xFE}, Case{0xFF, 0xFE}}) {
    AnswerRegisters(c.read);
    const std::size_t before = backend.Writes().size();
    const std::uint64_t start = clock.NowMicros();
    EXPECT_EQ(dialog->ReleaseWriteProtect(), kSOk);
    const std::vector<test::WrittenReport> writes = backend.Writes();
    ASSERT_EQ(writes.size() - before, 2u);
    const std::vector<std::uint8_t>& read = writes[before].bytes;
    const std::vector<std::uint8_t>& write = writes[before + 1].bytes;
    EXPECT_EQ(std::vector<std::uint8_t>(read.begin(), read.begin() + 6),
              (std::vector<std::uint8_t>{0x00, tag, 0x22, 0x04, 0x00, 0x00}));
    EXPECT_EQ(
        std::vector<std::uint8_t>(write.begin(), write.begin() + 6),
        (std::vector<std::uint8_t>{0x00, static_cast<std::uint8_t>(tag + 1), 0x21, 0x04, 0x00, c.written}));
    tag = static_cast<std::uint8_t>(tag + 2);
    // The write's own 10 ms and the 1,000 ms the chip gets afterwards.
    EXPECT_EQ(clock.NowMicros() - start, 1010000u);
    EXPECT_FALSE(dialog->hidLink.deviceOpen);
  }
}

TEST_F(JobPreparationTest, AFailedWriteProtectReadIsPassedOverWithoutAWrite) {
  backend.AddInterface(ScriptedBackend::Device("board", 0x3B7D, 0x7310));
  Start();
  EXPECT_EQ(dialog->ReleaseWriteProtect(), kSOk);  // nothing answers: the read times out
  ASSERT_EQ(backend.Writes().size(), 1u);
  EXPECT_EQ(backend.Writes()[0].bytes[2], 0x22);
  EXPECT_TRUE(window.boxes.empty());
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
}

TEST_F(JobPreparationTest, EraseSendsTwoCommandsEachFollowedByASecond) {
  backend.AddInterface(ScriptedBackend::Device("board", 0x3B7D, 0x7310));
  Start();
  const std::uint64_t start = clock.NowMicros();
  EXPECT_EQ(dialog->EraseEeprom(), kSOk);
  EXPECT_EQ(clock.NowMicros() - start, 2000000u);
  const std::vector<test::WrittenReport> writes = backend.Writes();
  ASSERT_EQ(writes.size(), 2u);
  for (const test::WrittenReport& w : writes) {
    EXPECT_EQ(std::vector<std::uint8_t>(w.bytes.begin(), w.bytes.begin() + 4),
              (std::vector<std::uint8_t>{0x00, 0xF5, 0xAB, 0xCD}));
  }
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(window.boxes[0].text,
            "Please re-plugin USB device and MUST wait for USB device being recognized.\n"
            "Then press button to continue writting EEPROM!!");
  EXPECT_EQ(window.boxes[0].caption, "Write to EEPROM...");
  EXPECT_EQ(window.boxes[0].icon, MessageIcon::kInformation);
  EXPECT_EQ(dialog->sequenceTag, 240);  // the erase command carries no tag
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
}

TEST_F(JobPreparationTest, AnEraseCommandThatDoesNotGoOutStopsAfterItsPause) {
  backend.AddInterface(ScriptedBackend::Device("board", 0x3B7D, 0x7310));
  Start();
  backend.SetWritesFail(true);
  const std::uint64_t start = clock.NowMicros();
  window.onBox = [this](const test::ShownBox&) { EXPECT_TRUE(dialog->hidLink.deviceOpen); };
  EXPECT_EQ(dialog->EraseEeprom(), kEFail);
  EXPECT_EQ(clock.NowMicros() - start, 1000000u);
  EXPECT_EQ(backend.Writes().size(), 1u);
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(window.boxes[0].text, "EEPROM Can't be Written!!(-1)");
  EXPECT_EQ(window.boxes[0].caption, "Write to EEPROM...");
  EXPECT_EQ(window.boxes[0].icon, MessageIcon::kError);
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
}

TEST_F(JobPreparationTest, ThePassOfTheEraseButtonIsEraseEeprom) {
  Start();
  EXPECT_TRUE(dialog->OnCommand(ctl::kEraseEeprom));
  EXPECT_EQ(window.BoxTexts(), (Texts{"USB deivce is NOT found!!(-1)", "EEPROM Can't be Written!!(-2)"}));
}

// --- whole jobs against the simulated board -------------------------------------------------------

class WriteJobOnSimTest : public ::testing::Test {
 protected:
  void Start(SimOptions options) {
    backend = std::make_unique<SimBackend>(options, clock);
    dialog = std::make_unique<CKT701xWriteEepromMPDlg>(window, *backend, clock);
    dialog->OnInitDialog();
  }
  static SimOptions Blank() {
    SimOptions options;
    options.start = SimOptions::StartState::kBlank;
    return options;
  }
  void RunJob() {
    dialog->OnCommand(ctl::kWriteEeprom);
    window.PumpUntilWriteEnabled(clock);
  }
  std::vector<std::vector<std::uint8_t>> RequestsStartingWith(std::vector<std::uint8_t> head) {
    std::vector<std::vector<std::uint8_t>> found;
    for (const auto& r : backend->board().requests()) {
      if (r.size() >= head.size() && std::equal(head.begin(), head.end(), r.begin())) found.push_back(r);
    }
    return found;
  }

  VirtualClock clock;
  DialogTestWindow window;
  std::unique_ptr<SimBackend> backend;
  std::unique_ptr<CKT701xWriteEepromMPDlg> dialog;
};

TEST_F(WriteJobOnSimTest, ABlankBoardIsWrittenWithoutEraseAndTheFirstRequestCarriesTagOne) {
  Start(Blank());
  ASSERT_EQ(dialog->probeDeviceAbsent, 0);
  RunJob();
  EXPECT_EQ(window.BoxTexts(), (Texts{kJobOk}));
  const auto requests = backend->board().requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(std::vector<std::uint8_t>(requests[0].begin(), requests[0].begin() + 5),
            (std::vector<std::uint8_t>{0x00, 0x01, 0x22, 0x04, 0x00}));
  // The board sets bit 0 of the write protect at plug-in; it goes back with the bit cleared.
  EXPECT_EQ(std::vector<std::uint8_t>(requests[1].begin(), requests[1].begin() + 6),
            (std::vector<std::uint8_t>{0x00, 0x02, 0x21, 0x04, 0x00, 0x00}));
  EXPECT_TRUE(RequestsStartingWith({0x00, 0xF5, 0xAB, 0xCD}).empty());
  EXPECT_EQ(window.ProgressPos(ctl::kProgress), 100);
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
  // The board now holds the image and enumerates as the programmed board.
  const std::vector<std::uint8_t> eeprom = backend->board().Eeprom();
  EXPECT_TRUE(
      std::equal(eeprom.begin(), eeprom.begin() + kProgrammedLength, dialog->image.imageBuffer.begin()));
}

TEST_F(WriteJobOnSimTest, AProgrammedBoardIsErasedReplugsAndIsFoundUnderTheBlankIdThroughTheFallbackList) {
  Start(SimOptions{});
  ASSERT_EQ(dialog->probeDeviceAbsent, 1);
  RunJob();
  EXPECT_EQ(window.BoxTexts(), (Texts{prep_text::kReplug, kJobOk}));
  EXPECT_EQ(RequestsStartingWith({0x00, 0xF5, 0xAB, 0xCD}).size(), 2u);
  EXPECT_EQ(dialog->targetVendorId, 0x3B7D);
  EXPECT_EQ(dialog->targetProductId, 0x72F7);
}

TEST_F(WriteJobOnSimTest, AProbeDuringTheJobWaitsForItsEndAndLeavesTheJobAlone) {
  Start(Blank());
  bool probed = false;
  window.onCall = [&](const std::string& call) {
    if (call != "progress|20" || probed) return;
    probed = true;
    // The worker waits on this very call; a probe that took the link now would fail the job.
    dialog->probeDeviceAbsent = 1;
    EXPECT_EQ(dialog->OnDeviceChange(kDbtDeviceArrival, kDbtDevtypDeviceInterface), 0);
    EXPECT_TRUE(dialog->ProbePending());
    EXPECT_TRUE(dialog->hidLink.deviceOpen);
    EXPECT_EQ(dialog->probeDeviceAbsent, 1);
  };
  RunJob();
  ASSERT_TRUE(probed);
  EXPECT_EQ(window.BoxTexts(), (Texts{kJobOk}));
  // The job's end is carried to the window thread; the probe runs then, on a free link.
  EXPECT_TRUE(window.PumpMessagesUntil(clock, 1000, [this] { return !dialog->ProbePending(); }));
  EXPECT_EQ(dialog->probeDeviceAbsent, 0);
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
}

TEST_F(WriteJobOnSimTest, AProbeDuringTheReplugBoxRunsOnceTheErasePathHasClosedTheLink) {
  SimOptions options;
  options.manualReplug = true;
  Start(options);
  window.onBox = [&](const test::ShownBox& box) {
    if (box.text != prep_text::kReplug) return;
    // The operator re-plugs the board while the box is up.
    backend->board().Unplug();
    backend->board().Plug();
    dialog->OnDeviceChange(kDbtDeviceRemoveComplete, kDbtDevtypDeviceInterface);
    EXPECT_TRUE(dialog->ProbePending());
    EXPECT_EQ(dialog->probeDeviceAbsent, 1);
  };
  EXPECT_EQ(dialog->EraseEeprom(), kSOk);
  EXPECT_FALSE(dialog->ProbePending());
  // The erased board answers under the blank ID, and the probe saw it.
  EXPECT_EQ(dialog->probeDeviceAbsent, 0);
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
}

TEST_F(WriteJobOnSimTest, AFaultyChipEndsTheJobWithItsNumberAndTheButtonComesBack) {
  SimOptions options = Blank();
  options.chipId = 5;
  Start(options);
  RunJob();
  EXPECT_EQ(window.BoxTexts(), (Texts{"Write to EEPROM Fail!  Try Again!(-2)"}));
  EXPECT_TRUE(window.IsEnabled(ctl::kWriteEeprom));
  // A second press starts a new job.
  window.boxes.clear();
  RunJob();
  EXPECT_EQ(window.BoxTexts(), (Texts{"Write to EEPROM Fail!  Try Again!(-2)"}));
}

}  // namespace
}  // namespace kt
