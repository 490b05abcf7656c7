#include "app/win32/dialog_host.h"

#include <dbt.h>

#include "app/win32/minimised_icon.h"
#include "app/win32/open_file_dialog.h"
#include "app/win32/resource.h"

namespace kt {
namespace {

// The resource script and the dialog class must agree on every control.
static_assert(IDD_MAIN_DIALOG == 102 && IDR_MAINFRAME == kApplicationIconId);
static_assert(IDC_FILE_NAME == ctl::kFileName && IDC_BROWSE == ctl::kBrowse &&
              IDC_WRITE_EEPROM == ctl::kWriteEeprom && IDC_PROGRESS == ctl::kProgress &&
              IDC_VENDOR_ID == ctl::kVendorId && IDC_PRODUCT_ID == ctl::kProductId &&
              IDC_FIRMWARE_VERSION == ctl::kFirmwareVersion &&
              IDC_EXPECTED_VERSION == ctl::kExpectedVersion && IDC_FILE_NAME_LABEL == ctl::kFileNameLabel &&
              IDC_EEPROM_WP == ctl::kEepromWp && IDC_STATUS_MARKER == ctl::kStatusMarker &&
              IDC_ERASE_EEPROM == ctl::kEraseEeprom && IDC_USE_EVB_IDS == ctl::kUseEvbIds &&
              IDC_VENDOR_LABEL == ctl::kVendorLabel && IDC_PRODUCT_LABEL == ctl::kProductLabel &&
              IDOK == ctl::kExit && IDCANCEL == kIdCancel);

// All USB devices, not only HID ones: a board being re-plugged shows up here first.
constexpr GUID kUsbDeviceInterfaceClass = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

bool ValidHandle(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

Win32DialogHost::Win32DialogHost(HINSTANCE instance, Win32DialogWindow& window,
                                 CKT701xWriteEepromMPDlg& dialog, bool simulatedBoard)
    : instance_(instance),
      window_(window),
      dialog_(dialog),
      // A failed load leaves the window without an icon; nothing to report.
      icon_(LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME))),
      simulatedBoard_(simulatedBoard) {}

Win32DialogHost::~Win32DialogHost() {
  // After the modal run: the label that used the font is gone with the dialog.
  if (boldFont_ != nullptr) DeleteObject(boldFont_);
}

INT_PTR Win32DialogHost::DoModal() {
  return DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr, &Win32DialogHost::DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Win32DialogHost::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
  auto* host = reinterpret_cast<Win32DialogHost*>(GetWindowLongPtrA(dialog, DWLP_USER));
  // Messages before WM_INITDIALOG (WM_SETFONT) go to the system's defaults.
  if (host == nullptr) return FALSE;
  return host->Handle(dialog, message, wParam, lParam);
}

INT_PTR Win32DialogHost::Answer(HWND dialog, LRESULT result) {
  SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR Win32DialogHost::Handle(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (Win32DialogWindow::HandleCall(message, lParam)) return Answer(dialog, 0);
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return TRUE;  // the system gives the focus to the first tab stop, "Exit"
    case WM_COMMAND:
      // Clicks only: the edit fields report their changes under their own IDs.
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      // Exit and Esc keep handling messages while the worker stops; the operator's clicks and keys must
      // not start anything new on a dialog that is about to end.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EnableWindow(dialog, FALSE);
      return dialog_.OnCommand(LOWORD(wParam)) ? TRUE : FALSE;
    case WM_PAINT:
      if (!IsIconic(dialog)) return FALSE;  // the system paints the controls
      PaintMinimised(dialog, icon_);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      // Red on the dialog's own background for the simulated-board label; every other static as usual.
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) != IDC_SIMULATED_BOARD) return FALSE;
      SetTextColor(reinterpret_cast<HDC>(wParam), RGB(204, 0, 0));
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_QUERYDRAGICON:
      // One of the few messages whose dialog-procedure result is the answer itself.
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_DEVICECHANGE: {
      const auto event = static_cast<std::uint32_t>(wParam);
      std::uint32_t deviceType = 0;
      // Only these events carry a broadcast header; the others' lParam is not to be read.
      if ((event == kDbtDeviceArrival || event == kDbtDeviceRemoveComplete) && lParam != 0) {
        deviceType = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam)->dbch_devicetype;
      }
      return Answer(dialog, dialog_.OnDeviceChange(event, deviceType));
    }
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    default:
      return FALSE;
  }
}

void Win32DialogHost::OnInitDialog(HWND dialog) {
  window_.Attach(dialog);
  if (simulatedBoard_) AddSimulatedBoardLabel(dialog);
  SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  dialog_.SetFileDialog([dialog](const std::string& filter) { return ShowOpenFileDialog(dialog, filter); });
  // Registered before the dialog's own initialisation rather than in the middle of it: notifications are
  // only handled once WM_INITDIALOG has returned, after the first probe, so the order does not show.
  RegisterUsbNotification(dialog);
  dialog_.OnInitDialog();
  if (afterInit_) afterInit_();
}

void Win32DialogHost::RegisterUsbNotification(HWND dialog) {
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kUsbDeviceInterfaceClass;
  // A failed registration is not reported: the board is then probed only at start.
  deviceNotification_ = RegisterDeviceNotificationA(dialog, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void Win32DialogHost::AddSimulatedBoardLabel(HWND dialog) {
  RECT rect = kSimulatedBoardRect;
  MapDialogRect(dialog, &rect);
  HWND label = CreateWindowExA(0, "STATIC", kSimulatedBoardText, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER,
                               rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, dialog,
                               reinterpret_cast<HMENU>(IDC_SIMULATED_BOARD), instance_, nullptr);
  if (label == nullptr) return;
  // The dialog's font in bold; without a font of its own the label would be drawn in the system font.
  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)), sizeof(font), &font);
  font.lfWeight = FW_BOLD;
  boldFont_ = CreateFontIndirectA(&font);
  SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_), FALSE);
}

void Win32DialogHost::OnDestroy() {
  if (ValidHandle(deviceNotification_)) {
    UnregisterDeviceNotification(deviceNotification_);
    deviceNotification_ = nullptr;
  }
  dialog_.DestroyWindow();
  window_.Detach();
}

}  // namespace kt
