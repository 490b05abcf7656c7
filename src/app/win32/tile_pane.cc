#include "app/win32/tile_pane.h"

#include <algorithm>
#include <iterator>

#include "app/station_window/station_texts.h"
#include "app/win32/owned_window.h"
#include "app/win32/ui_font.h"

namespace kt {
namespace {

constexpr char kPaneClass[] = "KtStationTilePane";
// Large enough to read from a step back from the bench; the smaller pair where a tile is too small for it.
constexpr int kLabelPixels[] = {20, 16};
constexpr int kWordsPixels[] = {16, 13};
constexpr int kTextInset = 6;
constexpr int kReplugWidth = 64;
constexpr int kReplugHeight = 22;
constexpr int kReplugInset = 4;

bool IsSimulatedPort(const std::string& port) {
  return port.rfind("sim-", 0) == 0;
}

// DrawText's height for `text` in `width`, wrapped at words.
int TextHeight(HDC dc, HFONT font, const std::string& text, int width) {
  if (text.empty()) return 0;
  SelectObject(dc, font);
  RECT rect = {0, 0, width, 0};
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rect,
            DT_CALCRECT | DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
  return rect.bottom - rect.top;
}

}  // namespace

bool TilePane::Register(HINSTANCE instance) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &OwnedWindowProc<TilePane>;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kPaneClass;
  return RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

TilePane::TilePane(HINSTANCE instance, std::function<void(const std::string& port)> replug)
    : instance_(instance), replug_(std::move(replug)), buttonFont_(CreateUiFont(0, FW_NORMAL)) {
  for (std::size_t size = 0; size < std::size(fonts_); ++size) {
    fonts_[size] = {CreateUiFont(kLabelPixels[size], FW_BOLD), CreateUiFont(kWordsPixels[size], FW_BOLD)};
  }
}

TilePane::~TilePane() {
  // The pane and its tiles go with their parent, before this.
  for (HFONT font : {fonts_[0].label, fonts_[0].words, fonts_[1].label, fonts_[1].words, buttonFont_}) {
    if (font != nullptr) DeleteObject(font);
  }
  for (const auto& [colour, brush] : brushes_) DeleteObject(brush);
}

bool TilePane::Create(HWND parent, int id) {
  // Control parent: Tab reaches the re-plug buttons inside it.
  pane_ = CreateWindowExA(WS_EX_CONTROLPARENT, kPaneClass, "",
                          WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_CLIPCHILDREN, 0, 0, 0, 0, parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, this);
  return pane_ != nullptr;
}

LRESULT TilePane::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DRAWITEM:
      Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_COMMAND: {
      const int index = LOWORD(wParam) - station_ctl::kReplugBase;
      if (HIWORD(wParam) == BN_CLICKED && index >= 0 && index < static_cast<int>(shown_.size())) {
        replug_(shown_[static_cast<std::size_t>(index)].port);
      }
      return 0;
    }
    case WM_VSCROLL: {
      const int line = grid_.grid.tileHeight + kTileGap;
      SCROLLINFO info{};
      info.cbSize = sizeof(info);
      info.fMask = SIF_TRACKPOS;
      GetScrollInfo(window, SB_VERT, &info);
      switch (LOWORD(wParam)) {
        case SB_LINEUP:
          ScrollTo(scroll_ - line);
          break;
        case SB_LINEDOWN:
          ScrollTo(scroll_ + line);
          break;
        case SB_PAGEUP:
          ScrollTo(scroll_ - std::max(line, height_ - line));
          break;
        case SB_PAGEDOWN:
          ScrollTo(scroll_ + std::max(line, height_ - line));
          break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
          ScrollTo(info.nTrackPos);
          break;
        case SB_TOP:
          ScrollTo(0);
          break;
        case SB_BOTTOM:
          ScrollTo(grid_.maxScroll);
          break;
        default:
          break;
      }
      return 0;
    }
    case WM_MOUSEWHEEL:
      Wheel(GET_WHEEL_DELTA_WPARAM(wParam));
      return 0;
    case WM_NCDESTROY:
      pane_ = nullptr;
      shown_.clear();
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void TilePane::Show(const std::vector<Tile>& tiles, bool simulated) {
  // A new port may take its place between older ones: a control shows whichever tile is at its index now.
  bool move = false;
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    if (i == shown_.size()) {
      Add();
      move = true;
    }
    Shown& shown = shown_[i];
    shown.port = tiles[i].port;
    const std::string text = TileText(tiles[i]);
    const bool changed = shown.text != text || shown.state != tiles[i].state;
    if (shown.text != text) {
      shown.text = text;
      SetWindowTextA(shown.tile, text.c_str());
    }
    shown.state = tiles[i].state;
    if (changed) InvalidateRect(shown.tile, nullptr, FALSE);
    // The header tells that the boards are simulated only once the station runs; a slot's tile is older.
    const bool replug = simulated && IsSimulatedPort(shown.port);
    if (replug && shown.replug == nullptr) {
      AddReplugButton(i);
      move = true;
    }
    if (shown.replug != nullptr && shown.replugShown != replug) {
      shown.replugShown = replug;
      ShowWindow(shown.replug, replug ? SW_SHOWNA : SW_HIDE);
      InvalidateRect(shown.tile, nullptr, FALSE);  // its words move into the button's room, or out of it
    }
  }
  if (move) LayOut();
}

void TilePane::Add() {
  const int id = station_ctl::kTileBase + static_cast<int>(shown_.size());
  Shown shown;
  // Clipped by its siblings: the re-plug button above it stays visible when the tile is redrawn.
  shown.tile =
      CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_OWNERDRAW, 0, 0, 0, 0,
                      pane_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  shown_.push_back(shown);
}

void TilePane::AddReplugButton(std::size_t index) {
  Shown& shown = shown_[index];
  const int id = station_ctl::kReplugBase + static_cast<int>(index);
  shown.replug =
      CreateWindowExA(0, "BUTTON", kReplugButtonText, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0,
                      0, 0, 0, pane_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  if (shown.replug == nullptr) return;
  shown.replugShown = true;
  SendMessageA(shown.replug, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_), FALSE);
  // A new child goes below its siblings: lift the button just above its own tile.
  HWND above = GetWindow(shown.tile, GW_HWNDPREV);
  SetWindowPos(shown.replug, above != nullptr ? above : HWND_TOP, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TilePane::Place(int x, int y, int width, int height) {
  MoveWindow(pane_, x, y, width, height, TRUE);
  width_ = width;
  height_ = height;
  LayOut();
}

void TilePane::Wheel(int delta) {
  const int row = grid_.grid.tileHeight + kTileGap;
  ScrollTo(scroll_ - MulDiv(delta, row, WHEEL_DELTA));
}

void TilePane::LayOut() {
  if (pane_ == nullptr) return;
  grid_ = LayOutPane(static_cast<int>(shown_.size()), width_, height_, GetSystemMetrics(SM_CXVSCROLL));
  scroll_ = ClampScroll(scroll_, grid_);
  SCROLLINFO info{};
  info.cbSize = sizeof(info);
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  // A range no larger than the page hides the bar.
  info.nMax = grid_.scrolls ? grid_.grid.Height() - 1 : 0;
  info.nPage = grid_.scrolls ? static_cast<UINT>(height_) : 0;
  info.nPos = scroll_;
  SetScrollInfo(pane_, SB_VERT, &info, TRUE);
  MoveTiles();
}

void TilePane::ScrollTo(int position) {
  position = ClampScroll(position, grid_);
  if (position == scroll_) return;
  scroll_ = position;
  SetScrollPos(pane_, SB_VERT, scroll_, TRUE);
  MoveTiles();
}

void TilePane::MoveTiles() {
  const TileGrid& grid = grid_.grid;
  HDWP moves = BeginDeferWindowPos(static_cast<int>(shown_.size() * 2));
  const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  for (std::size_t i = 0; i < shown_.size() && moves != nullptr; ++i) {
    const int x = grid.X(static_cast<int>(i));
    const int y = grid.Y(static_cast<int>(i)) - scroll_;
    moves = DeferWindowPos(moves, shown_[i].tile, nullptr, x, y, grid.tileWidth, grid.tileHeight, flags);
    if (shown_[i].replug != nullptr && moves != nullptr) {
      moves = DeferWindowPos(
          moves, shown_[i].replug, nullptr, x + grid.tileWidth - kReplugWidth - kReplugInset,
          y + grid.tileHeight - kReplugHeight - kReplugInset, kReplugWidth, kReplugHeight, flags);
    }
  }
  if (moves != nullptr) EndDeferWindowPos(moves);
}

void TilePane::Draw(const DRAWITEMSTRUCT& item) {
  const int index = static_cast<int>(item.CtlID) - station_ctl::kTileBase;
  if (index < 0 || index >= static_cast<int>(shown_.size())) return;
  const Shown& shown = shown_[static_cast<std::size_t>(index)];
  HDC dc = item.hDC;
  RECT rect = item.rcItem;
  FillRect(dc, &rect, Brush(shown.state));
  FrameRect(dc, &rect, GetSysColorBrush(COLOR_3DSHADOW));

  // The label in large letters over the state's words, the two centred together in the room the re-plug
  // button leaves; in smaller ones when they would run into the button.
  RECT room = rect;
  InflateRect(&room, -kTextInset, -kTextInset);
  if (shown.replugShown) room.bottom -= kReplugHeight;
  const std::size_t lineBreak = shown.text.find('\n');
  const std::string label = shown.text.substr(0, lineBreak);
  const std::string words = lineBreak == std::string::npos ? std::string() : shown.text.substr(lineBreak + 1);
  const int width = room.right - room.left;
  const int roomHeight = room.bottom - room.top;
  HGDIOBJ oldFont = SelectObject(dc, fonts_[0].label);
  const TileFonts* fonts = &fonts_[0];
  int labelHeight = 0;
  int wordsHeight = 0;
  for (const TileFonts& candidate : fonts_) {
    fonts = &candidate;
    labelHeight = TextHeight(dc, fonts->label, label, width);
    wordsHeight = TextHeight(dc, fonts->words, words, width);
    if (labelHeight + wordsHeight <= roomHeight) break;
  }
  const int top = room.top + std::max(0, (roomHeight - labelHeight - wordsHeight) / 2);

  const int oldMode = SetBkMode(dc, TRANSPARENT);
  const COLORREF oldColour = SetTextColor(dc, RGB(0, 0, 0));
  SelectObject(dc, fonts->label);
  RECT line = {room.left, top, room.right, static_cast<LONG>(top + labelHeight)};
  DrawTextA(dc, label.c_str(), static_cast<int>(label.size()), &line, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, fonts->words);
  line = {room.left, top + labelHeight, room.right,
          std::max<LONG>(room.bottom, top + labelHeight + wordsHeight)};
  DrawTextA(dc, words.c_str(), static_cast<int>(words.size()), &line, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, oldFont);
  SetTextColor(dc, oldColour);
  SetBkMode(dc, oldMode);
}

HBRUSH TilePane::Brush(TileState state) {
  const Rgb rgb = TileColour(state);
  const COLORREF colour = RGB(rgb.r, rgb.g, rgb.b);
  auto found = brushes_.find(colour);
  if (found == brushes_.end()) found = brushes_.emplace(colour, CreateSolidBrush(colour)).first;
  return found->second;
}

}  // namespace kt
