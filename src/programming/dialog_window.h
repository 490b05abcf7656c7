#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/clock.h"
#include "programming/job_result.h"

namespace kt {

// Control IDs of dialog template 102.
namespace ctl {
inline constexpr int kExit = 1;  // also IDOK
inline constexpr int kFileName = 1000;
inline constexpr int kBrowse = 1001;
inline constexpr int kWriteEeprom = 1002;
inline constexpr int kProgress = 1003;
inline constexpr int kVendorId = 1004;
inline constexpr int kProductId = 1005;
inline constexpr int kFirmwareVersion = 1006;
inline constexpr int kExpectedVersion = 1007;
inline constexpr int kFileNameLabel = 1008;
inline constexpr int kEepromWp = 1009;
inline constexpr int kStatusMarker = 1010;
inline constexpr int kEraseEeprom = 1011;
inline constexpr int kUseEvbIds = 1012;
inline constexpr int kVendorLabel = 1013;
inline constexpr int kProductLabel = 1014;
}  // namespace ctl

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

enum class MessageIcon {
  kNone,
  kError,        // MB_ICONHAND
  kInformation,  // MB_ICONASTERISK
};

// How traces and test logs name a box's icon.
constexpr const char* MessageIconName(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kError:
      return "error";
    case MessageIcon::kInformation:
      return "information";
    case MessageIcon::kNone:
      break;
  }
  return "none";
}

// Device-change events as WM_DEVICECHANGE carries them.
inline constexpr std::uint32_t kDbtDeviceArrival = 0x8000;
inline constexpr std::uint32_t kDbtDeviceRemoveComplete = 0x8004;
inline constexpr std::uint32_t kDbtDevtypDeviceInterface = 5;

// The dialog's window, as the dialog class sees it: controls by ID, modal message boxes, the end of the
// modal run, and the window's thread. Every method except SendToWindowThread, PostToWindowThread and
// PumpMessagesUntil must be called on the window's thread; code on another thread (the worker) goes
// through SendToWindowThread, which carries the call out there synchronously, as a sent window message
// would be.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;

  virtual void SetWindowTitle(const std::string& title) = 0;
  virtual void SetItemText(int id, const std::string& text) = 0;
  virtual std::string GetItemText(int id) = 0;
  virtual void EnableItem(int id, bool enable) = 0;
  virtual void ShowItem(int id, bool show) = 0;
  virtual void SetCheck(int id, bool checked) = 0;
  virtual bool IsChecked(int id) = 0;
  virtual void SetProgressRange(int id, int low, int high) = 0;
  virtual void SetProgressPos(int id, int pos) = 0;
  // Modal box with an OK button owned by the dialog; an empty caption shows the application's name.
  virtual void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
  // A box that tells a result: shown as any other box; a front-end that reports results takes what it
  // stands for from `result` (its text is the box's).
  virtual void ResultBox(const ShownResult& result, const std::string& caption, MessageIcon icon) {
    MessageBox(result.text, caption, icon);
  }
  // Ends the modal run with `result`.
  virtual void EndDialog(int result) = 0;

  // Runs `fn` on the window's thread and returns once it has run (at once when called there).
  virtual void SendToWindowThread(const std::function<void()>& fn) = 0;
  // Queues `fn` for the window's thread and returns at once.
  virtual void PostToWindowThread(std::function<void()> fn) = 0;
  // On the window's thread: handles the window's messages (sent calls included) until `done()` holds or
  // timeoutMs has passed on `clock`. Whoever makes done() true posts something to wake the pump.
  virtual bool PumpMessagesUntil(Clock& clock, std::uint32_t timeoutMs,
                                 const std::function<bool()>& done) = 0;
};

}  // namespace kt
