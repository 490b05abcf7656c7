#include "app/fltk/station_window.h"

#include <FL/Enumerations.H>
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Scroll.H>
#include <FL/fl_ask.H>

#include <atomic>
#include <memory>
#include <vector>

#include "app/fltk/app_icon.h"
#include "app/fltk/call_queue.h"
#include "app/fltk/message_box.h"
#include "app/fltk/x11_windows.h"
#include "app/station_window/slots_file.h"
#include "app/station_window/station_session.h"
#include "app/station_window/station_texts.h"
#include "app/station_window/tile_grid.h"

namespace kt {
namespace {

constexpr int kMargin = 10;
constexpr int kHeaderLine = 22;
constexpr int kCountsHeight = 36;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 28;
constexpr int kTileFont = 18;
constexpr int kReplugWidth = 64;
constexpr int kReplugHeight = 22;

const char* StateName(TileState state) {
  switch (state) {
    case TileState::kEmpty:
      return "empty";
    case TileState::kWriting:
      return "writing";
    case TileState::kReplug:
      return "replug";
    case TileState::kOk:
      return "ok";
    case TileState::kFailed:
      return "failed";
    case TileState::kNotRecorded:
      return "not-recorded";
    case TileState::kStuck:
      break;
  }
  return "stuck";
}

// One slot: its colour, its label large, its state in words below.
class TileBox final : public Fl_Box {
 public:
  TileBox(int x, int y, int w, int h) : Fl_Box(FL_FLAT_BOX, x, y, w, h, nullptr) {
    labelsize(kTileFont);
    labelfont(FL_HELVETICA_BOLD);
    align(FL_ALIGN_CENTER | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  }
  void Show(const Tile& tile) {
    const Rgb rgb = TileColour(tile.state);
    color(fl_rgb_color(rgb.r, rgb.g, rgb.b));
    labelcolor(tile.state == TileState::kEmpty ? FL_DARK3 : FL_BLACK);
    copy_label(TileText(tile).c_str());
    redraw();
  }
};

class StationWindow final : public Fl_Double_Window {
 public:
  StationWindow(const std::string& applicationName, const WindowStart& start, std::vector<Slot> slots,
                WindowTrace& trace)
      : Fl_Double_Window(StartWidth(), StartHeight(), kStationTitle),
        applicationName_(applicationName),
        quiet_(start.options.quiet),
        simulatedBoards_(start.options.simulate.has_value()),
        trace_(trace),
        tiles_(slots),
        session_(start.options, tiles_) {
    xclass("KT701xWriteEepromMP");
    icons(icon_.Images(), icon_.Count());
    begin();
    image_ = Line(FL_HELVETICA);
    record_ = Line(FL_HELVETICA);
    counts_ = new Fl_Box(0, 0, 10, kCountsHeight);
    counts_->labelsize(26);
    counts_->labelfont(FL_HELVETICA_BOLD);
    counts_->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    simulated_ = Line(FL_HELVETICA_BOLD);
    simulated_->labelcolor(FL_RED);
    simulated_->copy_label(kSimulatedBoardsText);
    simulated_->hide();
    message_ = Line(FL_HELVETICA);
    scroll_ = new Fl_Scroll(0, 0, 10, 10);
    scroll_->type(Fl_Scroll::VERTICAL);
    scroll_->end();
    exit_ = new Fl_Button(0, 0, kButtonWidth, kButtonHeight, "Exit");
    exit_->callback([](Fl_Widget*, void* self) { static_cast<StationWindow*>(self)->OnExit(); }, this);
    end();
    resizable(scroll_);
    size_range(kMinTileWidth + 4 * kMargin, 360);
    // The close box and Esc are Exit.
    callback([](Fl_Widget*, void* self) { static_cast<StationWindow*>(self)->OnExit(); }, this);
    Place();
  }

  // Shows the window and runs until the station has ended and the window is closed.
  int Run() {
    tiles_.SetChangeHandler([this] { Wake(); });
    tiles_.SetResultHandler([this](bool ok) {
      (ok ? okSounds_ : failSounds_).fetch_add(1);
      Wake();
    });
    Refresh();
    show();
    session_.Start([this] {
      ended_.store(true);
      Wake();
    });
    while (!closed_) Fl::wait();
    return session_.ExitStatus();
  }

  void resize(int x, int y, int w, int h) override {
    Fl_Double_Window::resize(x, y, w, h);
    Place();
  }

 private:
  static int StartWidth() { return Fl::w() * 4 / 5; }
  static int StartHeight() { return Fl::h() * 4 / 5; }

  Fl_Box* Line(Fl_Font font) {
    auto* box = new Fl_Box(0, 0, 10, kHeaderLine);
    box->labelsize(15);
    box->labelfont(font);
    box->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
    return box;
  }

  // Any thread: one refresh for however many changes come before the window looks.
  void Wake() {
    if (!woken_.exchange(true)) calls_.Post([this] { Refresh(); });
  }

  // Header lines, the tile area between them and Exit, the tiles in their grid.
  void Place() {
    int y = kMargin;
    for (Fl_Box* line : {image_, record_}) {
      line->resize(kMargin, y, w() - 2 * kMargin, kHeaderLine);
      y += kHeaderLine;
    }
    counts_->resize(kMargin, y, w() - 2 * kMargin, kCountsHeight);
    y += kCountsHeight;
    for (Fl_Box* line : {simulated_, message_}) {
      line->resize(kMargin, y, w() - 2 * kMargin, kHeaderLine);
      y += kHeaderLine;
    }
    const int bottom = h() - kMargin - kButtonHeight - kMargin;
    scroll_->resize(0, y, w(), bottom - y);
    exit_->resize(w() - kMargin - kButtonWidth, h() - kMargin - kButtonHeight, kButtonWidth, kButtonHeight);
    TracePlace("exit", exit_);
    PlaceTiles();
  }

  void PlaceTiles() {
    const int width = scroll_->w() - Fl::scrollbar_size();
    const TileGrid grid = LayOutTiles(static_cast<int>(tileBoxes_.size()), width, scroll_->h());
    for (std::size_t i = 0; i < tileBoxes_.size(); ++i) {
      const int x = scroll_->x() + grid.X(static_cast<int>(i));
      const int y = scroll_->y() + grid.Y(static_cast<int>(i)) - scroll_->yposition();
      tileBoxes_[i]->resize(x, y, grid.tileWidth, grid.tileHeight);
      if (replugs_[i] != nullptr) {
        replugs_[i]->resize(x + grid.tileWidth - kReplugWidth - 4, y + grid.tileHeight - kReplugHeight - 4,
                            kReplugWidth, kReplugHeight);
        TracePlace("replug|" + std::to_string(i), replugs_[i]);
      }
    }
    scroll_->redraw();
  }

  // Where a button is, in window pixels, for the checks that press it as an operator would.
  void TracePlace(const std::string& name, const Fl_Widget* widget) {
    trace_.Write("place|" + name + "|" + std::to_string(widget->x()) + "|" + std::to_string(widget->y()) + "|" +
                 std::to_string(widget->w()) + "|" + std::to_string(widget->h()));
  }

  void Refresh() {
    woken_.store(false);  // before the snapshot: a change after it wakes the window again
    const StationTiles::Snapshot now = tiles_.Take();
    SetLine(image_, now.header.sha12.empty() ? "Image: (starting)" : ImageLine(now.header), "image");
    SetLine(record_, RecordLine(now.header), "record");
    SetLine(counts_, CountsLine(now.header), "counts");
    SetLine(message_, now.header.message, "message");
    if (now.header.simulated && !simulated_->visible()) {
      simulated_->show();
      trace_.Write(std::string("simulated|") + kSimulatedBoardsText);
    }
    bool added = false;
    for (std::size_t i = 0; i < now.tiles.size(); ++i) {
      if (i == tileBoxes_.size()) {
        AddTile();
        added = true;
      }
      const Tile& tile = now.tiles[i];
      ports_[i] = tile.port;
      if (replugs_[i] != nullptr && tile.port.starts_with("sim-") != (replugs_[i]->visible() != 0)) {
        if (tile.port.starts_with("sim-")) {
          replugs_[i]->show();
        } else {
          replugs_[i]->hide();
        }
      }
      const std::string traced = std::to_string(i) + "|" + tile.port + "|" + StateName(tile.state) + "|" + tile.text;
      if (traced == shown_[i]) continue;
      shown_[i] = traced;
      tileBoxes_[i]->Show(tile);
      // The button lies on the tile: drawn again after it, or the tile would cover it.
      if (replugs_[i] != nullptr) replugs_[i]->redraw();
      trace_.Write("tile|" + traced);
    }
    if (added) PlaceTiles();
    for (int n = okSounds_.exchange(0); n > 0; --n) Sound(true);
    for (int n = failSounds_.exchange(0); n > 0; --n) Sound(false);
    running_ = now.running;
    if (ended_.load() && !closed_) Ended(now);
  }

  void SetLine(Fl_Box* box, const std::string& text, const char* name) {
    if (box->label() != nullptr && text == box->label()) return;
    box->copy_label(text.c_str());
    box->redraw();
    trace_.Write(std::string(name) + "|" + text);
  }

  void AddTile() {
    scroll_->begin();
    auto* box = new TileBox(0, 0, kMinTileWidth, kMinTileHeight);
    Fl_Button* replug = nullptr;
    // The simulated boards' stand-in for the hand that unplugs a board and plugs it in again. It acts on
    // whichever port the tile shows when pressed: a port that comes later may take an earlier place.
    if (simulatedBoards_) {
      replug = new Fl_Button(0, 0, kReplugWidth, kReplugHeight, kReplugButtonText);
      replug->labelsize(12);
      replugTargets_.push_back(std::make_unique<ReplugTarget>(ReplugTarget{this, tileBoxes_.size()}));
      replug->callback(
          [](Fl_Widget*, void* target) {
            auto* t = static_cast<ReplugTarget*>(target);
            t->window->Replug(t->index);
          },
          replugTargets_.back().get());
    }
    scroll_->end();
    tileBoxes_.push_back(box);
    replugs_.push_back(replug);
    shown_.emplace_back();
    ports_.emplace_back();
  }

  void Replug(std::size_t index) {
    const std::string& port = ports_[index];
    trace_.Write("replug|" + port);
    session_.ReplugSimulated(port);
  }

  void Sound(bool ok) {
    if (quiet_) return;
    fl_beep(ok ? FL_BEEP_DEFAULT : FL_BEEP_ERROR);
    trace_.Write(ok ? "sound|ok" : "sound|fail");
  }

  // Exit, the close box and Esc: asks first while boards are being written; the window closes once the
  // station has stopped them and recorded their results.
  void OnExit() {
    if (stopping_) return;
    if (running_ > 0) {
      const std::string question = ExitQuestion(running_);
      trace_.Write("ask|" + question);
      fl_message_title(applicationName_.c_str());
      // Enter answers "Yes" (FLTK's default button is the second), Esc "No".
      if (fl_choice("%s", "No", "Yes", nullptr, question.c_str()) != 1) {
        trace_.Write("ask|no");
        return;
      }
      trace_.Write("ask|yes");
    }
    stopping_ = true;
    exit_->deactivate();
    tiles_.Note(kStoppingText);
    session_.Stop();
  }

  void Ended(const StationTiles::Snapshot& now) {
    // Ended without Exit: the station could not start, or could not go on. (SIGINT and SIGTERM stop it as
    // Exit does, and the window closes without a word.)
    if (!stopping_ && !session_.Signalled()) {
      const std::string why = StationEndedText(session_.Errors(), now.header, session_.ExitStatus());
      trace_.Write("box|" + why + "|" + applicationName_ + "|error");
      ShowMessageBox(this, why, applicationName_, MessageIcon::kError);
    }
    trace_.Write("closed|" + CountsLine(now.header) + "|" + std::to_string(session_.ExitStatus()));
    closed_ = true;
    hide();
  }

  struct ReplugTarget {
    StationWindow* window;
    std::size_t index;
  };

  std::string applicationName_;
  bool quiet_;
  bool simulatedBoards_;
  WindowTrace& trace_;
  AppIcon icon_;
  // Before the tiles and the session: the station's threads wake the window until the session is gone.
  CallQueue calls_;
  StationTiles tiles_;
  StationSession session_;
  Fl_Box* image_ = nullptr;
  Fl_Box* record_ = nullptr;
  Fl_Box* counts_ = nullptr;
  Fl_Box* simulated_ = nullptr;
  Fl_Box* message_ = nullptr;
  Fl_Scroll* scroll_ = nullptr;
  Fl_Button* exit_ = nullptr;
  std::vector<TileBox*> tileBoxes_;
  std::vector<Fl_Button*> replugs_;
  std::vector<std::unique_ptr<ReplugTarget>> replugTargets_;
  std::vector<std::string> shown_;  // each tile's last traced line
  std::vector<std::string> ports_;  // each tile's port, as last shown
  std::atomic<bool> woken_{false};
  std::atomic<bool> ended_{false};
  std::atomic<int> okSounds_{0};
  std::atomic<int> failSounds_{0};
  int running_ = 0;
  bool stopping_ = false;
  bool closed_ = false;
};

}  // namespace

int RunStationWindow(const std::string& applicationName, const WindowStart& start, WindowTrace& trace) {
  // One station per display: two would write the same boards.
  if (RaiseWindowWithTitle(kStationTitle)) {
    trace.Write("single-instance|raised the running station");
    return 0;
  }
  std::vector<Slot> slots;
  if (std::string error; start.options.slotsFile && !ReadSlotsFile(*start.options.slotsFile, slots, error)) {
    const std::string text = SlotsRefusedText(error);
    trace.Write("box|" + text + "|" + applicationName + "|error");
    ShowMessageBox(nullptr, text, applicationName, MessageIcon::kError);
    return kWindowRefusedStatus;
  }
  int status = 0;
  {
    StationWindow window(applicationName, start, std::move(slots), trace);
    status = window.Run();
    // The session goes with the window, after the station has returned: nothing of it runs on.
  }
  return status;
}

}  // namespace kt
