#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/headless/headless_window.h"
#include "app/write_eeprom_dialog.h"
#include "base/clock.h"
#include "hid/sim/sim_board.h"
#include "support/scripted_backend.h"

namespace kt::test {

struct ShownBox {
  std::string text;
  std::string caption;
  std::string icon;
};

// The dialog on the headless window, in virtual time, over the simulated board or a scripted backend.
// Everything the dialog does runs on the window's own thread: the test hands it over with OnWindow, and
// the worker's calls reach it as they would a real window.
class DialogFixture : public ::testing::Test {
 protected:
  void TearDown() override {
    // The dialog goes on its window's thread: stopping the worker keeps that thread's messages flowing.
    OnWindow([this] { dialog.reset(); });
  }

  void Start(HidBackend& backend) {
    OnWindow([&] {
      dialog = std::make_unique<CKT701xWriteEepromMPDlg>(window, backend, clock);
      dialog->OnInitDialog();
    });
  }
  void StartOnSim(SimOptions options) {
    sim = std::make_unique<SimBackend>(options, clock);
    Start(*sim);
  }
  static SimOptions Blank() {
    SimOptions options;
    options.start = SimOptions::StartState::kBlank;
    return options;
  }

  void OnWindow(const std::function<void()>& fn) { window.Run(fn); }
  bool Press(int id) {
    bool handled = false;
    OnWindow([&] { handled = dialog->OnCommand(id); });
    return handled;
  }
  // Presses "Write EEPROM" and waits until the button comes back: the preparation gave up, or the worker
  // has finished the job.
  void RunJob() {
    const std::size_t enabled = Count(kWriteEnabled);
    Press(ctl::kWriteEeprom);
    ASSERT_TRUE(window.WaitForCall(kWriteEnabled, enabled + 1));
  }

  std::size_t Count(const std::string& entry) const {
    const std::vector<std::string> calls = window.Calls();
    return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), entry));
  }
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& call : window.Calls()) {
      if (call.starts_with(prefix)) found.push_back(call);
    }
    return found;
  }
  // Boxes are recorded as "box|text|caption|icon"; no text or caption of the tool holds a bar.
  std::vector<ShownBox> Boxes() const {
    std::vector<ShownBox> boxes;
    for (const std::string& entry : window.Boxes()) {
      const std::size_t iconBar = entry.rfind('|');
      const std::size_t captionBar = entry.rfind('|', iconBar - 1);
      boxes.push_back({entry.substr(4, captionBar - 4),
                       entry.substr(captionBar + 1, iconBar - captionBar - 1), entry.substr(iconBar + 1)});
    }
    return boxes;
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const ShownBox& box : Boxes()) texts.push_back(box.text);
    return texts;
  }

  static inline const std::string kWriteEnabled = "enable|1002|1";

  VirtualClock clock;
  ScriptedBackend scripted{&clock};
  std::unique_ptr<SimBackend> sim;
  HeadlessWindow window;
  std::unique_ptr<CKT701xWriteEepromMPDlg> dialog;
};

}  // namespace kt::test
