#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/message_queue_window.h"
#include "app/write_eeprom_dialog.h"
#include "base/clock.h"

namespace kt::test {

struct ShownBox {
  std::string text;
  std::string caption;
  MessageIcon icon = MessageIcon::kNone;
};

// A window for the dialog tests: records every box and every window call (both on the window thread,
// which is the test's thread) and lets a test act from inside a box or a call, as an operator or a
// device change would.
class DialogTestWindow final : public MessageQueueWindow {
 public:
  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override {
    boxes.push_back({text, caption, icon});
    if (onBox) onBox(boxes.back());
  }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const ShownBox& box : boxes) texts.push_back(box.text);
    return texts;
  }
  // The window calls that start with `prefix`, in order.
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& call : calls) {
      if (call.starts_with(prefix)) found.push_back(call);
    }
    return found;
  }

  // Handles messages until "Write EEPROM" is enabled again: the preparation gave up or the job ended.
  void PumpUntilWriteEnabled(Clock& clock) {
    const auto enabled = [this] { return IsEnabled(ctl::kWriteEeprom); };
    while (!enabled()) PumpMessagesUntil(clock, 60000, enabled);
  }

  std::vector<ShownBox> boxes;
  std::vector<std::string> calls;
  std::function<void(const ShownBox&)> onBox;
  std::function<void(const std::string&)> onCall;

 protected:
  void OnWindowCall(const std::string& entry) override {
    calls.push_back(entry);
    if (onCall) onCall(entry);
  }
};

}  // namespace kt::test
