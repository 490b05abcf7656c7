#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/message_queue_window.h"

namespace kt {

// A window with nobody in front of it, for tests. It runs its own window thread, records every call in
// the order the window thread saw it ("box|text|caption|icon", "progress|50", "enable|1002|1", ...) and
// answers message boxes from a script: at once by default; a box whose entry starts with a held prefix
// stays open until the test answers it. While a box is open the window thread handles nothing else, as
// the operator cannot reach the dialog behind a modal box.
//
// Waits for the test thread are bounded in real time (a safety net so that a broken test fails instead
// of hanging); they never stand in for synchronisation.
class HeadlessWindow final : public MessageQueueWindow {
 public:
  static constexpr std::chrono::milliseconds kSafetyBound{60000};

  HeadlessWindow();
  // Answers any held box, then ends the window thread.
  ~HeadlessWindow() override;

  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
  // Recorded as "pump|<timeoutMs>" before pumping, so a test can tell when a stop is waiting.
  bool PumpMessagesUntil(Clock& clock, std::uint32_t timeoutMs, const std::function<bool()>& done) override;

  // Runs `fn` on the window thread and returns once it has run.
  void Run(const std::function<void()>& fn) { SendToWindowThread(fn); }

  std::vector<std::string> Calls() const;
  // Forgets the calls recorded so far (a long run would otherwise keep every progress step).
  void ClearCalls();
  // Only the "box|..." entries.
  std::vector<std::string> Boxes() const;
  // Waits until `entry` has been recorded `occurrence` times. False after `bound` (real time).
  bool WaitForCall(const std::string& entry, std::size_t occurrence = 1,
                   std::chrono::milliseconds bound = kSafetyBound);

  // Runs `callback` the first time `entry` is recorded, right after recording it, on the thread that
  // made the call (the window thread, except for a pump from elsewhere); for a box: before it is answered.
  void OnCall(const std::string& entry, std::function<void()> callback);

  // The next box whose entry starts with `prefix` ("box|Write to EEPROM OK!") stays open.
  void HoldBox(const std::string& prefix);
  // Waits until a held box is open. False after the safety bound.
  bool WaitForHeldBox();
  // Closes the open held box with OK.
  void AnswerHeldBox();

  static std::string BoxEntry(const std::string& text, const std::string& caption, MessageIcon icon);

 protected:
  void OnWindowCall(const std::string& entry) override;

 private:
  struct Trigger {
    std::string entry;
    std::function<void()> callback;
  };

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> calls_;
  std::vector<Trigger> triggers_;
  std::vector<std::string> holdPrefixes_;
  bool boxHeld_ = false;
  bool answerHeld_ = false;
  bool closing_ = false;
  std::thread thread_;
};

}  // namespace kt
