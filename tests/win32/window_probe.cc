// kt-window-probe: reads the program's windows from outside, for the GUI check under Wine. xdotool sees
// only X windows and their titles; the text of a control or a message box needs the Win32 side.
//
//   kt-window-probe count TITLE       number of top-level windows whose whole title is TITLE
//   kt-window-probe text TITLE ID     text of control ID in that window (or in a child window of it)
//   kt-window-probe center TITLE ID   screen position of the middle of control ID: "X Y"
//   kt-window-probe shown TITLE ID    exit status 0 when control ID is there and visible
//   kt-window-probe enabled TITLE ID  "yes" (status 0) when control ID is there and takes input, else "no"
//   kt-window-probe boxes             one line per message box: "CAPTION|TEXT|X Y" (X Y: its OK button),
//                                     then "|X Y|X Y" (its Yes and No buttons) for a box that asks
//   kt-window-probe hid VID PID       how many present HID interfaces have these IDs (hex); status 0 if any
#include <windows.h>
// clang-format off
#include <setupapi.h>
// clang-format on

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The text static of a message box.
constexpr int kBoxTextId = 0xFFFF;

std::string TextOf(HWND window) {
  // WM_GETTEXT, not GetWindowText: only the message is carried across to the other process.
  char text[1024] = "";
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                           5000, &length)) {
    return std::string();
  }
  return std::string(text);
}

// One line per box: a line break in a box's text is written as \\n.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      line += "\\n";
    } else {
      line += c;
    }
  }
  return line;
}

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof(name));
  return name;
}

// A named function: a lambda does not convert to the stdcall callback of 32-bit Windows.
BOOL CALLBACK CollectVisible(HWND window, LPARAM param) {
  if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
  return TRUE;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(&CollectVisible, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::vector<HWND> WindowsTitled(const std::string& title) {
  std::vector<HWND> found;
  for (HWND window : TopLevelWindows()) {
    if (TextOf(window) == title) found.push_back(window);
  }
  return found;
}

struct ControlSearch {
  int id;
  HWND found;
};

BOOL CALLBACK MatchId(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<ControlSearch*>(param);
  if (GetDlgCtrlID(window) != search->id) return TRUE;
  search->found = window;
  return FALSE;
}

// Control `id` of `window`: a direct child first, else one inside a child window (the station's tiles).
HWND FindControl(HWND window, int id) {
  if (HWND control = GetDlgItem(window, id)) return control;
  ControlSearch search = {id, nullptr};
  EnumChildWindows(window, &MatchId, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool PrintCenter(HWND control) {
  RECT rect;
  if (control == nullptr || !GetWindowRect(control, &rect)) return false;
  std::printf("%ld %ld", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  return true;
}

int HidInterfacesAt(const std::string& vendor, const std::string& product) {
  // The HID class's interface GUID.
  const GUID hidClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  HDEVINFO list = SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (list == INVALID_HANDLE_VALUE) return 0;
  std::string want = "vid_" + vendor + "&pid_" + product;
  for (char& c : want) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  int found = 0;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof(data);
  for (DWORD index = 0; SetupDiEnumDeviceInterfaces(list, nullptr, &hidClass, index, &data); ++index) {
    std::vector<char> buffer(4096);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(list, &data, detail, static_cast<DWORD>(buffer.size()), nullptr, nullptr)) continue;
    std::string path = detail->DevicePath;
    for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (path.find(want) != std::string::npos) ++found;
  }
  SetupDiDestroyDeviceInfoList(list);
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "count" && argc == 3) {
    std::printf("%u\n", static_cast<unsigned>(WindowsTitled(argv[2]).size()));
    return 0;
  }
  if ((command == "text" || command == "center" || command == "shown" || command == "enabled") && argc == 4) {
    const std::vector<HWND> windows = WindowsTitled(argv[2]);
    if (windows.size() != 1) return 1;
    HWND control = FindControl(windows.front(), std::atoi(argv[3]));
    if (control == nullptr) return 1;
    if (command == "shown") return IsWindowVisible(control) ? 0 : 1;
    if (command == "enabled") {
      // Printed too: a caller that reads the probe through a pipe sees the pipe's status, not ours.
      const bool enabled = IsWindowEnabled(control) != FALSE;
      std::printf("%s\n", enabled ? "yes" : "no");
      return enabled ? 0 : 1;
    }
    if (command == "text") {
      std::printf("%s\n", TextOf(control).c_str());
      return 0;
    }
    const bool ok = PrintCenter(control);
    std::printf("\n");
    return ok ? 0 : 1;
  }
  if (command == "hid" && argc == 4) {
    const int found = HidInterfacesAt(argv[2], argv[3]);
    std::printf("%d\n", found);
    return found > 0 ? 0 : 1;
  }
  if (command == "boxes" && argc == 2) {
    for (HWND window : TopLevelWindows()) {
      HWND text = GetDlgItem(window, kBoxTextId);
      if (ClassOf(window) != "#32770" || text == nullptr) continue;
      std::printf("%s|%s|", OneLine(TextOf(window)).c_str(), OneLine(TextOf(text)).c_str());
      PrintCenter(GetDlgItem(window, IDOK));
      if (HWND yes = GetDlgItem(window, IDYES)) {
        std::printf("|");
        PrintCenter(yes);
        std::printf("|");
        PrintCenter(GetDlgItem(window, IDNO));
      }
      std::printf("\n");
    }
    return 0;
  }
  std::fprintf(
      stderr,
      "usage: kt-window-probe count TITLE | text TITLE ID | center TITLE ID | shown TITLE ID | enabled TITLE ID | "
      "boxes | hid VID PID\n");
  return 2;
}
