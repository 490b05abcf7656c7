#include "app/win32/station_window.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "app/cli/exit_status.h"
#include "app/station_window/slots_file.h"
#include "app/station_window/station_session.h"
#include "app/station_window/station_texts.h"
#include "app/station_window/station_tiles.h"
#include "app/win32/coalesced_notice.h"
#include "app/win32/owned_window.h"
#include "app/win32/resource.h"
#include "app/win32/tile_pane.h"
#include "app/win32/ui_font.h"

namespace kt {
namespace {

constexpr char kWindowClass[] = "KtStationWindow";
constexpr int kTilePaneId = 4090;
// Private messages: something changed in the tiles; the station has returned.
constexpr UINT kTilesChanged = WM_APP + 0x20;
constexpr UINT kStationFinished = WM_APP + 0x21;

constexpr int kMargin = 8;
constexpr int kCountsPixels = 26;
constexpr int kExitWidth = 96;
constexpr int kExitHeight = 28;
constexpr int kMinWidth = 520;
constexpr int kMinHeight = 420;

// The header's lines, top to bottom; the simulated-boards line only with simulated boards.
constexpr int kHeaderLines[] = {station_ctl::kImage, station_ctl::kRecord, station_ctl::kCounts,
                                station_ctl::kSimulated, station_ctl::kMessage};

bool ValidWindow(HWND window) {
  return window != nullptr && window != reinterpret_cast<HWND>(INVALID_HANDLE_VALUE);
}

int LineHeight(HWND window, HFONT font) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return metrics.tmHeight + 2;
}

class StationWindow {
 public:
  StationWindow(HINSTANCE instance, const WindowOptions& options, StationTiles& tiles,
                std::string applicationName)
      : instance_(instance),
        options_(options),
        tiles_(tiles),
        applicationName_(std::move(applicationName)),
        notice_([this] {
          HWND window = target_.load();
          return window != nullptr && PostMessageA(window, kTilesChanged, 0, 0) != FALSE;
        }),
        pane_(instance, [this](const std::string& port) { session_.ReplugSimulated(port); }),
        normalFont_(CreateUiFont(0, FW_NORMAL)),
        boldFont_(CreateUiFont(0, FW_BOLD)),
        countsFont_(CreateUiFont(kCountsPixels, FW_BOLD)),
        session_(options, tiles) {}

  ~StationWindow() {
    for (HFONT font : {normalFont_, boldFont_, countsFont_}) {
      if (font != nullptr) DeleteObject(font);
    }
  }
  StationWindow(const StationWindow&) = delete;
  StationWindow& operator=(const StationWindow&) = delete;

  // The window, shown; false when it could not be made.
  bool Create();
  // Starts the station and runs the window until it has closed behind it; the station's exit status.
  int Run();

 private:
  friend LRESULT CALLBACK OwnedWindowProc<StationWindow>(HWND, UINT, WPARAM, LPARAM);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void OnCreate(HWND window);
  HWND AddLine(int id, HFONT font);
  void Refresh();
  void LayOut();
  void SetText(int id, const std::string& text);
  void AskToExit();
  void OnFinished();

  HINSTANCE instance_;
  const WindowOptions& options_;
  StationTiles& tiles_;
  const std::string applicationName_;
  HWND window_ = nullptr;
  // The window the station's threads post to; cleared as the window goes.
  std::atomic<HWND> target_{nullptr};
  CoalescedNotice notice_;
  TilePane pane_;
  HFONT normalFont_;
  HFONT boldFont_;
  HFONT countsFont_;
  bool asking_ = false;    // the Exit question is on screen
  bool stopping_ = false;  // the operator has exited: the station is stopping
  bool finished_ = false;  // the station has returned
  // Last, so that it goes first: its threads call into the members above until it has stopped them.
  StationSession session_;
};

bool StationWindow::Create() {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &OwnedWindowProc<StationWindow>;
  windowClass.hInstance = instance_;
  windowClass.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(IDR_MAINFRAME));
  windowClass.hIconSm = windowClass.hIcon;
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kWindowClass;
  if (RegisterClassExA(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  if (!TilePane::Register(instance_)) return false;

  // Four fifths of the work area, in its middle: room for a bench of boards without hiding the taskbar.
  RECT work = {0, 0, 1024, 768};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const int width = std::max(kMinWidth, static_cast<int>(work.right - work.left) * 4 / 5);
  const int height = std::max(kMinHeight, static_cast<int>(work.bottom - work.top) * 4 / 5);
  const int x = work.left + (work.right - work.left - width) / 2;
  const int y = work.top + (work.bottom - work.top - height) / 2;
  window_ =
      CreateWindowExA(WS_EX_CONTROLPARENT, kWindowClass, kStationTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                      x, y, width, height, nullptr, nullptr, instance_, this);
  if (window_ == nullptr) return false;
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  return true;
}

int StationWindow::Run() {
  target_.store(window_);
  tiles_.SetChangeHandler([this] { notice_.Notify(); });
  // MessageBeep only queues the sound: it may be called from the boards' threads.
  if (!options_.quiet) tiles_.SetResultHandler([](bool ok) { MessageBeep(ok ? MB_OK : MB_ICONHAND); });
  session_.Start([this] {
    HWND window = target_.load();
    if (window != nullptr) PostMessageA(window, kStationFinished, 0, 0);
  });
  Refresh();

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    // Tab between the buttons, Esc and Enter as in a dialog.
    if (window_ != nullptr && IsDialogMessageA(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return session_.ExitStatus();
}

LRESULT StationWindow::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate(window);
      return 0;
    case WM_SIZE:
      LayOut();
      return 0;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMinTrackSize = {kMinWidth, kMinHeight};
      return 0;
    }
    case WM_COMMAND:
      // Exit, Esc and Enter.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) AskToExit();
      return 0;
    case WM_CLOSE:
      AskToExit();
      return 0;
    case WM_CTLCOLORSTATIC:
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) != station_ctl::kSimulated) break;
      // Red on the window's own background: no one takes a simulated run for a real one.
      SetTextColor(reinterpret_cast<HDC>(wParam), RGB(204, 0, 0));
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_MOUSEWHEEL:
      // The wheel goes to the window with the focus (Exit, here); the tiles are what scrolls.
      pane_.Wheel(GET_WHEEL_DELTA_WPARAM(wParam));
      return 0;
    case kTilesChanged:
      Refresh();
      return 0;
    case kStationFinished:
      OnFinished();
      return 0;
    case WM_DESTROY:
      target_.store(nullptr);
      window_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void StationWindow::OnCreate(HWND window) {
  window_ = window;
  AddLine(station_ctl::kImage, normalFont_);
  AddLine(station_ctl::kRecord, normalFont_);
  AddLine(station_ctl::kCounts, countsFont_);
  AddLine(station_ctl::kMessage, normalFont_);
  pane_.Create(window, kTilePaneId);
  HWND exit = CreateWindowExA(0, "BUTTON", "Exit", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0,
                              0, 0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(station_ctl::kExit)),
                              instance_, nullptr);
  SendMessageA(exit, WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_), FALSE);
  SetFocus(exit);
}

HWND StationWindow::AddLine(int id, HFONT font) {
  // No prefix: a record file's name may hold an '&'. One line each, cut with an ellipsis when it is long.
  HWND line = CreateWindowExA(
      0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_ENDELLIPSIS, 0, 0, 0, 0,
      window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  if (line != nullptr) SendMessageA(line, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return line;
}

void StationWindow::Refresh() {
  if (window_ == nullptr) return;
  // Before the snapshot: a change made while it is read posts again.
  notice_.Taken();
  const StationTiles::Snapshot now = tiles_.Take();
  SetText(station_ctl::kImage, ImageLine(now.header));
  SetText(station_ctl::kRecord, RecordLine(now.header));
  SetText(station_ctl::kCounts, CountsLine(now.header));
  SetText(station_ctl::kMessage, stopping_ && !finished_ ? kStoppingText : now.header.message);
  if (now.header.simulated && GetDlgItem(window_, station_ctl::kSimulated) == nullptr) {
    AddLine(station_ctl::kSimulated, boldFont_);
    SetText(station_ctl::kSimulated, kSimulatedBoardsText);
    LayOut();
  }
  pane_.Show(now.tiles, now.header.simulated);
}

void StationWindow::SetText(int id, const std::string& text) {
  HWND control = GetDlgItem(window_, id);
  if (control == nullptr) return;
  // Only a text that changed: every WM_SETTEXT redraws the control, and progress comes often.
  const int length = GetWindowTextLengthA(control);
  std::string shown(static_cast<std::size_t>(length) + 1, '\0');
  shown.resize(static_cast<std::size_t>(GetWindowTextA(control, shown.data(), length + 1)));
  if (shown != text) SetWindowTextA(control, text.c_str());
}

void StationWindow::LayOut() {
  if (window_ == nullptr) return;
  RECT client;
  GetClientRect(window_, &client);
  const int width = client.right - client.left - 2 * kMargin;
  int y = kMargin;
  for (int id : kHeaderLines) {
    HWND line = GetDlgItem(window_, id);
    if (line == nullptr) continue;
    const int height = LineHeight(line, reinterpret_cast<HFONT>(SendMessageA(line, WM_GETFONT, 0, 0)));
    MoveWindow(line, kMargin, y, width, height, TRUE);
    y += height + 2;
  }
  const int exitTop = client.bottom - kMargin - kExitHeight;
  MoveWindow(GetDlgItem(window_, station_ctl::kExit), client.right - kMargin - kExitWidth, exitTop,
             kExitWidth, kExitHeight, TRUE);
  const int paneTop = y + kMargin / 2;
  pane_.Place(0, paneTop, client.right - client.left, std::max(0, exitTop - kMargin - paneTop));
}

void StationWindow::AskToExit() {
  if (asking_ || stopping_) return;
  const int running = tiles_.Take().running;
  if (running > 0) {
    // Boards stopped half-written must be written again: the operator says so knowingly.
    asking_ = true;
    const int answer = MessageBoxA(window_, ExitQuestion(running).c_str(), applicationName_.c_str(),
                                   MB_YESNO | MB_ICONQUESTION);
    asking_ = false;
    // The station ended by itself while the question was up.
    if (finished_) {
      OnFinished();
      return;
    }
    if (answer != IDYES) return;
  }
  stopping_ = true;
  EnableWindow(GetDlgItem(window_, station_ctl::kExit), FALSE);
  SetText(station_ctl::kMessage, kStoppingText);
  // The window closes when the station has returned: its last results are still being recorded.
  session_.Stop();
}

void StationWindow::OnFinished() {
  finished_ = true;
  if (asking_ || window_ == nullptr) return;
  if (!stopping_) {
    // Nobody asked it to stop: it could not start, or it ended on its own. Say why before closing.
    const std::string why = StationEndedText(session_.Errors(), tiles_.Take().header, session_.ExitStatus());
    MessageBoxA(window_, why.c_str(), applicationName_.c_str(), MB_OK | MB_ICONHAND);
  }
  if (window_ != nullptr) DestroyWindow(window_);
}

}  // namespace

int RunStationWindow(HINSTANCE instance, const WindowStart& start, const std::string& applicationName) {
  // One station per machine: two would write to the same boards.
  HWND running = FindWindowA(nullptr, kStationTitle);
  if (ValidWindow(running)) {
    SetForegroundWindow(running);
    return kExitOk;
  }

  std::vector<Slot> slots;
  if (start.options.slotsFile) {
    if (std::string error; !ReadSlotsFile(*start.options.slotsFile, slots, error)) {
      MessageBoxA(nullptr, SlotsRefusedText(error).c_str(), applicationName.c_str(), MB_OK | MB_ICONHAND);
      return kWindowRefusedStatus;
    }
  }

  StationTiles tiles(slots);
  StationWindow window(instance, start.options, tiles, applicationName);
  if (!window.Create()) {
    MessageBoxA(nullptr, "The station window could not be created.", applicationName.c_str(),
                MB_OK | MB_ICONHAND);
    return 1;
  }
  return window.Run();
}

}  // namespace kt
