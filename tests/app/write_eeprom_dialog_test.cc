#include "app/write_eeprom_dialog.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_fixture.h"
#include "app/headless/headless_window.h"
#include "base/clock.h"
#include "hid/sim/sim_board.h"
#include "image/default_image.h"
#include "image/job_image.h"

namespace kt {
namespace {

using Texts = std::vector<std::string>;

class WriteEepromDialogTest : public test::DialogFixture {};

TEST_F(WriteEepromDialogTest, StartsWithTheToolsTitleFieldsAndHiddenControls) {
  StartOnSim(SimOptions{});
  EXPECT_EQ(window.WindowTitle(), "KT7310 Write EEPROM (MP) Developer v2.0.0 16k16b");
  EXPECT_EQ(window.GetItemText(ctl::kExpectedVersion), "5067");
  EXPECT_EQ(dialog->expectedFirmwareVersion, 0x5067);  // hexadecimal, not 5067 decimal
  EXPECT_EQ(window.GetItemText(ctl::kVendorId), "3B7D");
  EXPECT_EQ(window.GetItemText(ctl::kProductId), "7310");
  EXPECT_EQ(window.ProgressRange(ctl::kProgress), std::make_pair(0, 100));
  EXPECT_EQ(window.ProgressPos(ctl::kProgress), 0);
  EXPECT_TRUE(window.IsChecked(ctl::kEepromWp));
  EXPECT_FALSE(window.IsChecked(ctl::kUseEvbIds));
  EXPECT_EQ(CallsStartingWith("show|"), (Texts{"show|1008|0", "show|1000|0", "show|1001|0", "show|1012|0"}));
  EXPECT_TRUE(window.IsEnabled(ctl::kWriteEeprom));
  EXPECT_EQ(window.GetItemText(ctl::kStatusMarker), "");
  EXPECT_EQ(dialog->sequenceTag, 240);
  EXPECT_EQ(dialog->image.firmwareInfoFound, 0);
  EXPECT_EQ(dialog->image.cidTagFound, 0);
  EXPECT_EQ(dialog->workerRunning.load(), 1);
  EXPECT_TRUE(dialog->deviceNotification);
  EXPECT_EQ(dialog->notifyWindow, &window);
  EXPECT_EQ(dialog->OnQueryDragIcon(), kApplicationIconId);
  // The programmed board answers under its own product ID only, so the probe finds no blank board.
  EXPECT_EQ(dialog->probeDeviceAbsent, 1);
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
  EXPECT_TRUE(window.Boxes().empty());
}

TEST_F(WriteEepromDialogTest, ExitStopsTheWorkerAndClosesTheLink) {
  StartOnSim(Blank());
  EXPECT_TRUE(Press(kIdOk));
  EXPECT_EQ(window.DialogResult(), kIdOk);
  EXPECT_EQ(dialog->workerRunning.load(), 0);
  EXPECT_EQ(dialog->workerExited.load(), 1);
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
  OnWindow([this] { EXPECT_TRUE(dialog->DestroyWindow()); });
  EXPECT_FALSE(dialog->deviceNotification);
}

// A click that reaches the dialog after Exit began (the Linux window still takes them during Exit's wait)
// starts nothing: no erase, no write-protect release, no job.
TEST_F(WriteEepromDialogTest, NoJobStartsOnceExitHasBegun) {
  StartOnSim(SimOptions{});
  Press(kIdOk);
  const std::size_t requests = sim->board().requests().size();
  Press(ctl::kWriteEeprom);
  Press(ctl::kEraseEeprom);
  OnWindow([this] { dialog->OnReadEeprom(false); });
  EXPECT_EQ(sim->board().requests().size(), requests);
  EXPECT_TRUE(window.Boxes().empty());
}

TEST_F(WriteEepromDialogTest, EscStopsTheWorkerAsExitDoes) {
  StartOnSim(Blank());
  EXPECT_TRUE(Press(kIdCancel));
  EXPECT_EQ(window.DialogResult(), kIdCancel);
  EXPECT_EQ(dialog->workerExited.load(), 1);
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
}

TEST_F(WriteEepromDialogTest, EscDuringAJobStopsTheWorkerThroughTheJobsOwnFailure) {
  StartOnSim(Blank());
  window.OnCall("progress|10", [this] {
    // Posted, as the key's command would be: it runs once this progress update has returned. The
    // operator presses twice; the second press arrives while the first one waits for the worker.
    const auto cancel = [this] { dialog->OnCommand(kIdCancel); };
    window.PostToWindowThread(cancel);
    window.PostToWindowThread(cancel);
  });
  RunJob();
  ASSERT_TRUE(window.WaitForCall("end|2"));
  OnWindow([] {});
  EXPECT_EQ(window.DialogResult(), kIdCancel);
  EXPECT_EQ(dialog->workerExited.load(), 1);
  EXPECT_EQ(BoxTexts(), (Texts{"Fail to write EEPROM!!", "Write to EEPROM Fail!  Try Again!(-8)"}));
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
}

TEST_F(WriteEepromDialogTest, BrowseShowsTheChosenPathAndACancelChangesNothing) {
  StartOnSim(Blank());
  std::optional<std::string> answer = "/tmp/image.bin";
  std::string offeredFilter;
  OnWindow([&] {
    dialog->SetFileDialog([&](const std::string& filter) {
      offeredFilter = filter;
      return answer;
    });
  });
  EXPECT_TRUE(Press(ctl::kBrowse));
  EXPECT_EQ(offeredFilter, "All Files (*.*) | *.*||");
  EXPECT_EQ(window.GetItemText(ctl::kFileName), "/tmp/image.bin");

  answer.reset();
  Press(ctl::kBrowse);
  EXPECT_EQ(window.GetItemText(ctl::kFileName), "/tmp/image.bin");

  answer = std::string(2000, 'p');
  Press(ctl::kBrowse);
  EXPECT_EQ(window.GetItemText(ctl::kFileName), std::string(1023, 'p'));
}

TEST_F(WriteEepromDialogTest, AnImageFileIsShownReadOnlyAndIsWhatTheJobPrograms) {
  StartOnSim(Blank());
  auto image = std::make_shared<ImageBytes>();
  *image = defaultImage;
  image->at(0x3000) ^= 0x5A;  // a byte of the controller code: the tags still pass
  OnWindow([&] { dialog->UseImageFile("/line/image.bin", image); });
  EXPECT_EQ(window.GetItemText(ctl::kFileName), "/line/image.bin");
  for (const char* call : {"show|1008|1", "show|1000|1", "enable|1000|0"}) EXPECT_EQ(Count(call), 1U) << call;
  EXPECT_EQ(Count("show|1001|1"), 0U) << "the browse button stays hidden";
  RunJob();
  EXPECT_EQ(BoxTexts(), (Texts{"Write to EEPROM OK!"}));
  const std::vector<std::uint8_t> eeprom = sim->board().Eeprom();
  EXPECT_TRUE(std::equal(image->begin(), image->begin() + kProgrammedLength, eeprom.begin()));
}

TEST_F(WriteEepromDialogTest, DeviceChangesOfTheBackendReachTheProbeUntilTheWindowIsDestroyed) {
  StartOnSim(Blank());
  ASSERT_EQ(dialog->probeDeviceAbsent, 0);
  // The notification is posted to the window thread before this thread's next call there, so once that
  // call has run the probe has too.
  sim->board().Unplug();
  OnWindow([] {});
  EXPECT_EQ(dialog->probeDeviceAbsent, 1);
  sim->board().Plug();
  OnWindow([] {});
  EXPECT_EQ(dialog->probeDeviceAbsent, 0);

  OnWindow([this] { dialog->DestroyWindow(); });
  sim->board().Unplug();
  OnWindow([] {});
  EXPECT_EQ(dialog->probeDeviceAbsent, 0);
}

TEST_F(WriteEepromDialogTest, OnlyArrivalAndRemovalOfADeviceInterfaceProbe) {
  StartOnSim(Blank());
  constexpr std::uint32_t kQueryRemove = 0x8001;
  constexpr std::uint32_t kDevtypVolume = 2;
  OnWindow([&] {
    // A value the probe never leaves behind shows whether it ran.
    dialog->probeDeviceAbsent = 7;
    EXPECT_EQ(dialog->OnDeviceChange(kQueryRemove, kDbtDevtypDeviceInterface), 0);
    EXPECT_EQ(dialog->OnDeviceChange(kDbtDeviceArrival, kDevtypVolume), 0);
    EXPECT_EQ(dialog->probeDeviceAbsent, 7);
    EXPECT_EQ(dialog->OnDeviceChange(kDbtDeviceRemoveComplete, kDbtDevtypDeviceInterface), 0);
    EXPECT_EQ(dialog->probeDeviceAbsent, 0);
    dialog->probeDeviceAbsent = 7;
    EXPECT_EQ(dialog->OnDeviceChange(kDbtDeviceArrival, kDbtDevtypDeviceInterface), 0);
    EXPECT_EQ(dialog->probeDeviceAbsent, 0);
    EXPECT_FALSE(dialog->hidLink.deviceOpen);
  });
}

TEST_F(WriteEepromDialogTest, DestroyingARunningDialogStopsItsWorkerFirst) {
  StartOnSim(Blank());
  Press(ctl::kWriteEeprom);
  // No Exit: the destructor must still stop and join the worker before the object goes.
  OnWindow([this] { dialog.reset(); });
  EXPECT_EQ(sim->board().openHandles(), 0u);
}

}  // namespace
}  // namespace kt
