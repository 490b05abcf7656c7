#include "app/write_eeprom_dialog.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "app/dialog_test_window.h"
#include "base/clock.h"
#include "hid/sim/sim_board.h"

namespace kt {
namespace {

using test::DialogTestWindow;

class WriteEepromDialogTest : public ::testing::Test {
 protected:
  void Start(SimOptions options = {}) {
    backend = std::make_unique<SimBackend>(options, clock);
    dialog = std::make_unique<CKT701xWriteEepromMPDlg>(window, *backend, clock);
    ASSERT_TRUE(dialog->OnInitDialog());
  }
  static SimOptions Blank() {
    SimOptions options;
    options.start = SimOptions::StartState::kBlank;
    return options;
  }

  VirtualClock clock;
  DialogTestWindow window;
  std::unique_ptr<SimBackend> backend;
  std::unique_ptr<CKT701xWriteEepromMPDlg> dialog;
};

TEST_F(WriteEepromDialogTest, StartsWithTheToolsTitleFieldsAndHiddenControls) {
  Start();
  EXPECT_EQ(window.WindowTitle(), "KT7310 Write EEPROM (MP) Developer v2.0.0 16k16b");
  EXPECT_EQ(window.GetItemText(ctl::kExpectedVersion), "5067");
  EXPECT_EQ(dialog->expectedFirmwareVersion, 0x5067);  // hexadecimal, not 5067 decimal
  EXPECT_EQ(window.GetItemText(ctl::kVendorId), "3B7D");
  EXPECT_EQ(window.GetItemText(ctl::kProductId), "7310");
  EXPECT_EQ(window.ProgressRange(ctl::kProgress), std::make_pair(0, 100));
  EXPECT_EQ(window.ProgressPos(ctl::kProgress), 0);
  EXPECT_TRUE(window.IsChecked(ctl::kEepromWp));
  EXPECT_FALSE(window.IsChecked(ctl::kUseEvbIds));
  EXPECT_EQ(window.CallsStartingWith("show|"),
            (std::vector<std::string>{"show|1008|0", "show|1000|0", "show|1001|0", "show|1012|0"}));
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
  EXPECT_TRUE(window.boxes.empty());
}

TEST_F(WriteEepromDialogTest, ExitAndCancelBothStopTheWorkerAndCloseTheLink) {
  for (int command : {kIdOk, kIdCancel}) {
    DialogTestWindow ownWindow;
    SimBackend ownBackend(Blank(), clock);
    CKT701xWriteEepromMPDlg ownDialog(ownWindow, ownBackend, clock);
    ownDialog.OnInitDialog();
    EXPECT_TRUE(ownDialog.OnCommand(command));
    EXPECT_EQ(ownWindow.DialogResult(), command);
    EXPECT_EQ(ownDialog.workerRunning.load(), 0);
    EXPECT_EQ(ownDialog.workerExited.load(), 1);
    EXPECT_FALSE(ownDialog.hidLink.deviceOpen);
    EXPECT_TRUE(ownDialog.DestroyWindow());
    EXPECT_FALSE(ownDialog.deviceNotification);
  }
}

TEST_F(WriteEepromDialogTest, CancelDuringAJobStopsTheWorkerThroughTheJobsOwnFailure) {
  Start(Blank());
  window.onCall = [this](const std::string& call) {
    // Posted, as the Esc key's command would be: it runs once this progress update has returned. The
    // bar stays at 10 for several blocks, so the operator "presses" Esc again while the first one waits.
    if (call == "progress|10") window.PostToWindowThread([this] { dialog->OnCommand(kIdCancel); });
  };
  dialog->OnCommand(ctl::kWriteEeprom);
  window.PumpUntilWriteEnabled(clock);
  EXPECT_EQ(window.DialogResult(), kIdCancel);
  EXPECT_EQ(dialog->workerExited.load(), 1);
  EXPECT_EQ(window.BoxTexts(),
            (std::vector<std::string>{"Fail to write EEPROM!!", "Write to EEPROM Fail!  Try Again!(-8)"}));
  EXPECT_FALSE(dialog->hidLink.deviceOpen);
}

TEST_F(WriteEepromDialogTest, UnhandledCommandsAreLeftToTheWindow) {
  Start(Blank());
  EXPECT_FALSE(dialog->OnCommand(ctl::kProgress));
  EXPECT_FALSE(dialog->OnCommand(57670));  // Help
  EXPECT_FALSE(window.DialogResult());
}

TEST_F(WriteEepromDialogTest, BrowseShowsTheChosenPathAndACancelChangesNothing) {
  Start(Blank());
  std::optional<std::string> answer = "/tmp/image.bin";
  std::string offeredFilter;
  dialog->SetFileDialog([&](const std::string& filter) {
    offeredFilter = filter;
    return answer;
  });
  EXPECT_TRUE(dialog->OnCommand(ctl::kBrowse));
  EXPECT_EQ(offeredFilter, "All Files (*.*) | *.*||");
  EXPECT_EQ(window.GetItemText(ctl::kFileName), "/tmp/image.bin");

  answer.reset();
  dialog->OnBrowse();
  EXPECT_EQ(window.GetItemText(ctl::kFileName), "/tmp/image.bin");

  answer = std::string(2000, 'p');
  dialog->OnBrowse();
  EXPECT_EQ(window.GetItemText(ctl::kFileName), std::string(1023, 'p'));
}

TEST_F(WriteEepromDialogTest, DeviceChangesOfTheBackendReachTheProbeUntilTheWindowIsDestroyed) {
  Start(Blank());
  ASSERT_EQ(dialog->probeDeviceAbsent, 0);
  backend->board().Unplug();
  EXPECT_TRUE(window.PumpMessagesUntil(clock, 1000, [this] { return dialog->probeDeviceAbsent == 1; }));
  backend->board().Plug();
  EXPECT_TRUE(window.PumpMessagesUntil(clock, 1000, [this] { return dialog->probeDeviceAbsent == 0; }));

  dialog->DestroyWindow();
  backend->board().Unplug();
  // A zero time-out runs what has been queued and waits for nothing more.
  EXPECT_FALSE(window.PumpMessagesUntil(clock, 0, [this] { return dialog->probeDeviceAbsent == 1; }));
}

TEST_F(WriteEepromDialogTest, OnlyArrivalAndRemovalOfADeviceInterfaceProbe) {
  Start(Blank());
  constexpr std::uint32_t kQueryRemove = 0x8001;
  constexpr std::uint32_t kDevtypVolume = 2;
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
}

TEST_F(WriteEepromDialogTest, DestroyingARunningDialogStopsItsWorkerFirst) {
  Start(Blank());
  dialog->OnCommand(ctl::kWriteEeprom);
  // No Exit: the destructor must still stop and join the worker before the object goes.
  dialog.reset();
  SUCCEED();
}

}  // namespace
}  // namespace kt
