#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/clock.h"
#include "base/hresult.h"
#include "hid/hid_backend.h"
#include "image/image_file.h"
#include "programming/dialog_window.h"
#include "programming/programmer.h"

namespace kt {

// The single-instance rule of the Windows start-up looks for exactly this title.
inline constexpr char kWindowTitle[] = "KT7310 Write EEPROM (MP) Developer v2.0.0 16k16b";
inline constexpr char kExpectedFirmwareVersionText[] = "5067";
inline constexpr char kDefaultVendorIdText[] = "3B7D";
inline constexpr char kDefaultProductIdText[] = "7310";
// Icon resource of the application; the window host turns it into a picture.
inline constexpr int kApplicationIconId = 128;
inline constexpr std::uint8_t kInitialSequenceTag = 240;
// The file dialog's filter, in the framework's bar-separated syntax.
inline constexpr char kBrowseFilter[] = "All Files (*.*) | *.*||";
// The path buffer of the file dialog held this many characters, terminator included.
inline constexpr std::size_t kBrowsePathLimit = 1024;
// The ID fields were read into a 32-character buffer.
inline constexpr std::size_t kIdFieldTextLimit = 31;
// Pause after each erase command and after the write-protect release, so the chip settles.
inline constexpr std::uint32_t kPreparationPauseMs = 1000;

struct UsbIds {
  std::uint16_t vendorId;
  std::uint16_t productId;
};

// Tried in this order after the IDs typed into the dialog.
inline constexpr std::array<UsbIds, 4> fallbackTargets = {{
    {0x3B7D, 0x7310},
    {0x3B7D, 0x7300},
    {0x3B7D, 0x72F7},
    {0x3B7D, 0x72F8},
}};
// A board with a blank EEPROM answers under one of these; when neither answers it must be erased first.
inline constexpr std::array<UsbIds, 2> probeTargets = {{
    {0x3B7D, 0x72F7},
    {0x3B7D, 0x72F8},
}};

// What the operator sees while a job is prepared. Operators and line scripts know these texts by heart,
// typos included, so they stay exactly as they have always been.
namespace prep_text {
inline constexpr char kInvalidImage[] = "Error!! Invalid EEPROM FW Content!";
inline constexpr char kNotFoundAbsent[] = "USB deivce is NOT found!!(-1)";
inline constexpr char kNotFoundPresent[] = "USB deivce is NOT found!!(-2)";
inline constexpr char kNotFoundCaption[] = "Write to EEPROM";
inline constexpr char kEraseNotOpened[] = "EEPROM Can't be Written!!(-2)";
inline constexpr char kEraseNotSent[] = "EEPROM Can't be Written!!(-1)";
inline constexpr char kReplug[] =
    "Please re-plugin USB device and MUST wait for USB device being recognized.\n"
    "Then press button to continue writting EEPROM!!";
inline constexpr char kEraseCaption[] = "Write to EEPROM...";
}  // namespace prep_text

// The ID fields' hexadecimal reading: leading blanks and a 0x prefix are skipped, both cases are digits,
// the first other character ends the number, no digits give 0, and only the low 16 bits are kept.
std::uint16_t ParseHexField(const std::string& text);

// The main dialog: all run state of the tool and every handler, over whatever window shows it (Win32
// dialog, Linux window, console, headless test window). The window owns painting and the file dialog;
// this class only asks for them.
class CKT701xWriteEepromMPDlg : public Programmer {
 public:
  // Asks the window for a file to open, offering `filter`; nothing when the operator cancels.
  using FileDialog = std::function<std::optional<std::string>(const std::string& filter)>;
  // Runs after the erase path's re-plug box, once the link is closed: true to go on with the job. A
  // window has none (the operator presses OK once the board is back); the command line waits there for
  // the board to leave and come back.
  using ReplugWait = std::function<bool()>;
  // Told the outcome (probeDeviceAbsent) of every device probe; the window program's trace records it.
  using ProbeObserver = std::function<void(int probeDeviceAbsent)>;

  CKT701xWriteEepromMPDlg(DialogWindow& window, HidBackend& backend, Clock& clock);
  ~CKT701xWriteEepromMPDlg() override;

  // --- members of the dialog itself (the rest live in Programmer) ---
  DialogWindow* notifyWindow = nullptr;  // recipient of device notifications
  bool deviceNotification = false;       // the backend's device-change listener is ours
  int windowIcon = 0;                    // icon resource, 0 when there is none

  // --- window life ---
  bool OnInitDialog();
  bool DestroyWindow();
  int RegisterUsbNotification();
  int OnQueryDragIcon() const { return windowIcon; }
  void OnBrowse();
  void OnExit();
  // Esc or closing the window: the same stop as Exit, so the worker never outlives the dialog.
  void OnCancel();
  // The message table for commands: false for an ID the dialog does not handle.
  bool OnCommand(int id);
  void SetFileDialog(FileDialog fileDialog) { fileDialog_ = std::move(fileDialog); }
  void SetReplugWait(ReplugWait replugWait) { replugWait_ = std::move(replugWait); }
  void SetProbeObserver(ProbeObserver probeObserver) { probeObserver_ = std::move(probeObserver); }
  // The image a write job programs instead of the built-in one (null: the built-in one again).
  void SetImageSource(std::shared_ptr<const ImageBytes> source) { imageSource_ = std::move(source); }
  // The line's own image, given on the command line: programmed instead of the built-in one, its path
  // shown in the "File Name" field, which nobody can edit. After OnInitDialog.
  void UseImageFile(const std::string& path, std::shared_ptr<const ImageBytes> source);

  // --- write job preparation ---
  void OnWriteEeprom();
  void OnEraseEeprom();
  // A job that writes nothing: opens the target as a write job does and hands the worker a read of the
  // EEPROM (or only the chip identification). The button comes back when it has ended.
  void OnReadEeprom(bool identifyOnly);
  HResult OpenTargetDevice();
  HResult EraseEeprom();
  HResult ReleaseWriteProtect();
  void ProbeDevice();
  // WM_DEVICECHANGE: `deviceType` is the broadcast header's device type (0 when there is no header).
  int OnDeviceChange(std::uint32_t eventType, std::uint32_t deviceType);

  // True while a device probe waits for the link to be free.
  bool ProbePending() const { return probePending_; }

 protected:
  void OnJobFinished() override;

 private:
  // Exit and cancel alike: stop the worker, close the link, end the modal run with `result`.
  void EndAfterStop(int result);
  bool LinkHeld() const {
    return jobsHandedOver_ != jobsEnded.load(std::memory_order_acquire) || preparationHoldsLink_;
  }
  // Closes the link after a preparation step and runs a probe that waited for it.
  void ReleasePreparationLink();
  void ProbeWhenLinkFree();
  // Runs `fn` on the window's thread later, unless the dialog has gone by then.
  void PostToSelf(std::function<void()> fn);

  DialogWindow& dialogWindow_;
  FileDialog fileDialog_;
  ReplugWait replugWait_;
  ProbeObserver probeObserver_;
  std::shared_ptr<const ImageBytes> imageSource_;
  // Who holds the link: a handed-over job until the worker has counted its end (jobsEnded), or a
  // preparation step (the erase path keeps it open over its message box).
  std::uint64_t jobsHandedOver_ = 0;
  bool preparationHoldsLink_ = false;
  bool probePending_ = false;
  bool closing_ = false;
  bool windowDestroyed_ = false;
  // Posted calls check this on the window's thread before touching the dialog.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kt
