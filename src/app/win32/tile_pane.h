#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/station_window/station_tiles.h"
#include "app/win32/owned_window.h"
#include "app/win32/tile_pane_grid.h"
#include "app/win32/windows_api.h"

namespace kt {

// The station window's tiles: a child window holding one owner-drawn static per port (ID kTileBase + i,
// its text TileText, so a check or a screen reader reads it) on its state's colour, laid out by
// LayOutTiles, scrolled when they do not fit. With simulated boards a sim- port's tile carries a re-plug
// button (ID kReplugBase + i) in its corner.
class TilePane {
 public:
  // Registers the pane's window class; false when it could not.
  static bool Register(HINSTANCE instance);

  // `replug` is called on the window thread with the port of a re-plug button pressed.
  TilePane(HINSTANCE instance, std::function<void(const std::string& port)> replug);
  ~TilePane();
  TilePane(const TilePane&) = delete;
  TilePane& operator=(const TilePane&) = delete;

  // The pane as a child of `parent`, at first without a size; false when it could not be made.
  bool Create(HWND parent, int id);
  HWND handle() const { return pane_; }

  // Shows `tiles` (never fewer than before): tile i in control kTileBase + i.
  void Show(const std::vector<Tile>& tiles, bool simulated);
  // The pane's place in its parent's client area.
  void Place(int x, int y, int width, int height);
  // A turn of the mouse wheel over the window, in WHEEL_DELTA units.
  void Wheel(int delta);

 private:
  struct Shown {
    std::string port;
    std::string text;
    TileState state = TileState::kEmpty;
    HWND tile = nullptr;
    HWND replug = nullptr;
    bool replugShown = false;
  };

  friend LRESULT CALLBACK OwnedWindowProc<TilePane>(HWND, UINT, WPARAM, LPARAM);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Add();
  void AddReplugButton(std::size_t index);
  void LayOut();
  void ScrollTo(int position);
  void MoveTiles();
  void Draw(const DRAWITEMSTRUCT& item);
  HBRUSH Brush(TileState state);

  HINSTANCE instance_;
  std::function<void(const std::string&)> replug_;
  HWND pane_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  std::vector<Shown> shown_;
  PaneGrid grid_;
  int scroll_ = 0;
  struct TileFonts {
    HFONT label = nullptr;
    HFONT words = nullptr;
  };
  TileFonts fonts_[2];  // large, then small
  HFONT buttonFont_ = nullptr;
  std::map<COLORREF, HBRUSH> brushes_;
};

}  // namespace kt
