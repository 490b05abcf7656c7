#include "app/fltk/x11_windows.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>
#include <optional>

namespace kt {
namespace {

// Frames of reparenting window managers sit between the root and the client window, sometimes two
// deep; three levels find every client without walking whole toolkits' child windows.
constexpr int kSearchDepth = 3;

struct XFreeDeleter {
  void operator()(void* p) const {
    if (p != nullptr) XFree(p);
  }
};

std::optional<std::string> NetWmName(Display* display, Window window) {
  const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8, &type, &format, &count, &after,
                         &data) != Success) {
    return std::nullopt;
  }
  std::unique_ptr<unsigned char, XFreeDeleter> owned(data);
  if (type != utf8 || format != 8 || data == nullptr) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(data), count);
}

std::optional<std::string> WmName(Display* display, Window window) {
  if (std::optional<std::string> name = NetWmName(display, window)) return name;
  char* name = nullptr;
  if (XFetchName(display, window, &name) == 0 || name == nullptr) return std::nullopt;
  std::unique_ptr<char, XFreeDeleter> owned(name);
  return std::string(name);
}

std::optional<Window> FindByTitle(Display* display, Window parent, const std::string& title, int depth) {
  Window root = None, parentOut = None;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display, parent, &root, &parentOut, &children, &count) == 0) return std::nullopt;
  std::unique_ptr<Window, XFreeDeleter> owned(children);
  for (unsigned int i = 0; i < count; ++i) {
    if (WmName(display, children[i]) == title) return children[i];
  }
  if (depth > 1) {
    for (unsigned int i = 0; i < count; ++i) {
      if (std::optional<Window> found = FindByTitle(display, children[i], title, depth - 1)) return found;
    }
  }
  return std::nullopt;
}

}  // namespace

void RemoveCloseAndMinimiseBoxes(Fl_Window& window) {
  if (!window.shown()) return;
  // The Motif hints record: flags, functions, decorations, input mode, status.
  constexpr long kHintsFunctions = 1L << 0;
  constexpr long kHintsDecorations = 1L << 1;
  constexpr long kFuncMove = 1L << 2;
  constexpr long kDecorBorder = 1L << 1;
  constexpr long kDecorTitle = 1L << 3;
  long hints[5] = {kHintsFunctions | kHintsDecorations, kFuncMove, kDecorBorder | kDecorTitle, 0, 0};
  const Atom motif = XInternAtom(fl_display, "_MOTIF_WM_HINTS", False);
  XChangeProperty(fl_display, fl_xid(&window), motif, motif, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(hints), 5);
  XFlush(fl_display);
}

bool RaiseWindowWithTitle(const std::string& title) {
  fl_open_display();
  Display* display = fl_display;
  if (display == nullptr) return false;
  const Window root = DefaultRootWindow(display);
  const std::optional<Window> found = FindByTitle(display, root, title, kSearchDepth);
  if (!found) return false;
  // What SetForegroundWindow does, in EWMH terms; a window manager that ignores it still gets the raise.
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = *found;
  event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = 1;  // from an application
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XRaiseWindow(display, *found);
  XFlush(display);
  return true;
}

}  // namespace kt
