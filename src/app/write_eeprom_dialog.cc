#include "app/write_eeprom_dialog.h"

#include <utility>

#include "hid/hid_link.h"

namespace kt {

CKT701xWriteEepromMPDlg::CKT701xWriteEepromMPDlg(DialogWindow& window, HidBackend& backend, Clock& clock)
    : Programmer(backend, clock), dialogWindow_(window) {
  // The link itself was created by Programmer's constructor (CreateHidLink): closed, lengths 0.
  AttachWindow(&window);
  windowIcon = kApplicationIconId;
}

CKT701xWriteEepromMPDlg::~CKT701xWriteEepromMPDlg() {
  *alive_ = false;
  // Every way out of the dialog must have stopped the worker; this catches the ones that did not (a
  // host that never ran Exit), before the worker could call into a half-destroyed object.
  StopWorker();
  if (!windowDestroyed_) DestroyWindow();
  DestroyHidLink(hidLink);
}

bool CKT701xWriteEepromMPDlg::OnInitDialog() {
  notifyWindow = &dialogWindow_;
  // The icon itself (big, then small) is set by the window from windowIcon.
  dialogWindow_.SetWindowTitle(kWindowTitle);
  dialogWindow_.SetItemText(ctl::kExpectedVersion, kExpectedFirmwareVersionText);
  expectedFirmwareVersion = ParseHexField(kExpectedFirmwareVersionText);
  dialogWindow_.SetItemText(ctl::kVendorId, kDefaultVendorIdText);
  dialogWindow_.SetItemText(ctl::kProductId, kDefaultProductIdText);
  dialogWindow_.SetProgressRange(ctl::kProgress, 0, 100);
  dialogWindow_.SetCheck(ctl::kEepromWp, true);
  for (int id : {ctl::kFileNameLabel, ctl::kFileName, ctl::kBrowse, ctl::kUseEvbIds}) {
    dialogWindow_.ShowItem(id, false);
  }
  sequenceTag = kInitialSequenceTag;
  image.firmwareInfoFound = 0;
  image.cidTagFound = 0;
  StartWorker();
  RegisterUsbNotification();
  // Last, so that whether the board must be erased is known before any button can be pressed.
  ProbeDevice();
  return true;
}

int CKT701xWriteEepromMPDlg::RegisterUsbNotification() {
  if (notifyWindow == nullptr) return 0;
  // The backend may report from any thread; the notification is carried to the window's thread as
  // WM_DEVICECHANGE would be, and dropped there if the dialog has gone in the meantime.
  DialogWindow* recipient = notifyWindow;
  std::weak_ptr<bool> alive = alive_;
  backend().SetDeviceChangeListener([this, recipient, alive](const DeviceChange& change) {
    recipient->PostToWindowThread([this, alive, arrived = change.arrived] {
      const auto token = alive.lock();
      if (!token || !*token) return;
      OnDeviceChange(arrived ? kDbtDeviceArrival : kDbtDeviceRemoveComplete, kDbtDevtypDeviceInterface);
    });
  });
  deviceNotification = true;
  return 1;
}

bool CKT701xWriteEepromMPDlg::DestroyWindow() {
  if (deviceNotification) {
    backend().SetDeviceChangeListener(nullptr);
    deviceNotification = false;
  }
  windowDestroyed_ = true;
  return true;
}

void CKT701xWriteEepromMPDlg::UseImageFile(const std::string& path, std::shared_ptr<const ImageBytes> source) {
  SetImageSource(std::move(source));
  dialogWindow_.SetItemText(ctl::kFileName, path);
  dialogWindow_.EnableItem(ctl::kFileName, false);
  dialogWindow_.ShowItem(ctl::kFileNameLabel, true);
  dialogWindow_.ShowItem(ctl::kFileName, true);
}

void CKT701xWriteEepromMPDlg::OnBrowse() {
  if (!fileDialog_) return;
  std::optional<std::string> path = fileDialog_(kBrowseFilter);
  if (!path) return;
  if (path->size() >= kBrowsePathLimit) path->resize(kBrowsePathLimit - 1);
  dialogWindow_.SetItemText(ctl::kFileName, *path);
}

void CKT701xWriteEepromMPDlg::OnExit() {
  EndAfterStop(kIdOk);
}

void CKT701xWriteEepromMPDlg::OnCancel() {
  EndAfterStop(kIdCancel);
}

void CKT701xWriteEepromMPDlg::EndAfterStop(int result) {
  // Exit's wait keeps the messages flowing, so a second Exit or Esc can arrive inside it. The first one
  // ends the dialog; a nested one must not cut the worker off before it has shown the job's last boxes.
  if (closing_) return;
  // No probe from here on: the link is closed for good below and must stay so.
  closing_ = true;
  StopWorker();
  CloseHidLink(hidLink);
  dialogWindow_.EndDialog(result);
}

bool CKT701xWriteEepromMPDlg::OnCommand(int id) {
  switch (id) {
    case kIdOk:
      OnExit();
      return true;
    case kIdCancel:
      OnCancel();
      return true;
    case ctl::kWriteEeprom:
      OnWriteEeprom();
      return true;
    case ctl::kEraseEeprom:
      OnEraseEeprom();
      return true;
    case ctl::kBrowse:
      OnBrowse();
      return true;
    default:
      return false;
  }
}

void CKT701xWriteEepromMPDlg::PostToSelf(std::function<void()> fn) {
  std::weak_ptr<bool> alive = alive_;
  dialogWindow_.PostToWindowThread([alive, fn = std::move(fn)] {
    const auto token = alive.lock();
    if (token && *token) fn();
  });
}

void CKT701xWriteEepromMPDlg::OnJobFinished() {
  // Worker thread, the link closed and counted (jobsEnded): a probe that waited for it runs on the
  // window's thread. Should the post be lost, the count still frees the link for the next probe.
  PostToSelf([this] {
    if (probePending_) ProbeWhenLinkFree();
  });
}

}  // namespace kt
