#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/message_queue_window.h"
#include "app/write_eeprom_dialog.h"
#include "base/clock.h"
#include "hid/hid_backend.h"
#include "programming/dialog_window.h"
#include "programming/job_messages.h"

namespace kt::test {

// The dialog's window for robustness runs. The thread that builds it is its window thread (the test
// thread pumps it while a job runs); boxes are answered at once and recorded, and the virtual time at
// which "Write EEPROM" came back is kept as the end of the job.
class RecordingWindow final : public MessageQueueWindow {
 public:
  struct Box {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::kNone;
  };

  explicit RecordingWindow(const Clock& clock) : clock_(clock) {}

  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override {
    boxes.push_back({text, caption, icon});
  }

  std::vector<Box> boxes;
  std::uint64_t enabledAtMicros = 0;  // last time "Write EEPROM" was enabled

 protected:
  void OnWindowCall(const std::string& entry) override {
    if (entry == "enable|" + std::to_string(ctl::kWriteEeprom) + "|1") enabledAtMicros = clock_.NowMicros();
  }

 private:
  const Clock& clock_;
};

// The main dialog over a backend, initialised as at start-up, with its window; presses "Write EEPROM" as
// the operator does and waits for the button to come back.
class DialogJob {
 public:
  DialogJob(HidBackend& backend, Clock& clock)
      : clock_(clock),
        window(clock),
        dialog(std::make_unique<CKT701xWriteEepromMPDlg>(window, backend, clock)) {
    dialog->OnInitDialog();
  }
  ~DialogJob() { Exit(); }

  // Presses "Write EEPROM" and pumps the window until the button is enabled again, or until `boundMs`
  // of virtual time have passed (a job that does not end). True when it came back; elapsedMs is then
  // the job's length in virtual time.
  bool Press(std::uint64_t boundMs) {
    boxesBefore_ = window.boxes.size();
    const std::uint64_t start = clock_.NowMicros();
    dialog->OnCommand(ctl::kWriteEeprom);
    const auto enabled = [this] { return window.IsEnabled(ctl::kWriteEeprom); };
    while (!enabled()) {
      if (clock_.NowMicros() > start + boundMs * 1000) return false;
      window.PumpMessagesUntil(clock_, 60000, enabled);
    }
    elapsedMs = (window.enabledAtMicros - start) / 1000;
    return true;
  }

  // The Exit button: stops the worker and closes the link. Boxes are final after it.
  void Exit() {
    if (exited_) return;
    exited_ = true;
    dialog->OnExit();
  }

  // FinishJob closes the link before it enables the button, on the worker; the button's send carried
  // both to this thread.
  bool LinkClosed() const {
    return !dialog->hidLink.deviceOpen && !dialog->hidLink.writeHandle && !dialog->hidLink.readHandle;
  }
  bool WriteEnabled() const { return window.IsEnabled(ctl::kWriteEeprom); }

  // The texts of the boxes of the last press.
  std::vector<std::string> LastBoxes() const {
    std::vector<std::string> texts;
    for (std::size_t i = boxesBefore_; i < window.boxes.size(); ++i) texts.push_back(window.boxes[i].text);
    return texts;
  }

 private:
  Clock& clock_;
  std::size_t boxesBefore_ = 0;
  bool exited_ = false;

 public:
  RecordingWindow window;
  std::unique_ptr<CKT701xWriteEepromMPDlg> dialog;
  std::uint64_t elapsedMs = 0;
};

}  // namespace kt::test
