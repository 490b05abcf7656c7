// The dialog-thread half of a write job: image, erase path, write-protect release, target selection and
// the device probe, up to the hand-over to the worker.

#include <cstdio>

#include "app/write_eeprom_dialog.h"
#include "hid/chip_registers.h"
#include "hid/hid_link.h"
#include "hid/report_protocol.h"
#include "image/job_image.h"

namespace kt {
namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

std::uint16_t ParseHexField(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
  // Only the low 16 bits are kept, so wrapping as we go gives the same result as a wide parse would.
  std::uint16_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = HexDigitValue(text[i]);
    if (digit < 0) break;
    value = static_cast<std::uint16_t>((value << 4) | digit);
  }
  return value;
}

void CKT701xWriteEepromMPDlg::OnWriteEeprom() {
  // Once Exit has begun, no click (the Linux window still takes them during Exit's wait) starts a job.
  if (closing_) return;
  DialogWindow& w = dialogWindow_;
  w.EnableItem(ctl::kWriteEeprom, false);
  w.SetItemText(ctl::kStatusMarker, " ");
  LoadJobImage(
      image, w.IsChecked(ctl::kUseEvbIds), [&w] { w.SetProgressPos(ctl::kProgress, 0); }, imageSource_.get());

  image.firmwareInfoFound = 0;
  image.cidTagFound = 0;
  if (ScanImageTags(image) != kSOk) {
    // No caption of its own: the box shows the application's name.
    ShowResult({ResultStep::kImage, std::nullopt, prep_text::kInvalidImage}, "", MessageIcon::kNone);
    w.EnableItem(ctl::kWriteEeprom, true);
    return;
  }
  if (image.firmwareInfoFound == 1) {
    char version[8];
    std::snprintf(version, sizeof(version), "%04X", static_cast<unsigned>(image.firmwareVersion));
    w.SetItemText(ctl::kFirmwareVersion, version);
  }
  // A foreign firmware version is still programmed; the marker is the operator's only hint.
  if (image.firmwareInfoFound == 0 || image.firmwareVersion != expectedFirmwareVersion) {
    w.SetItemText(ctl::kStatusMarker, ".");
  }

  if (probeDeviceAbsent == 1 && (EraseEeprom() != kSOk || (replugWait_ && !replugWait_()))) {
    w.EnableItem(ctl::kWriteEeprom, true);
    SetFlag(writeRequested, 0);
    return;
  }
  if (ReleaseWriteProtect() != kSOk || OpenTargetDevice() != kSOk) {
    w.EnableItem(ctl::kWriteEeprom, true);
    return;
  }
  // From here the link is the job's until the worker's FinishJob has been carried back to this thread.
  ++jobsHandedOver_;
  SetFlag(writeRequested, 1);
}

void CKT701xWriteEepromMPDlg::OnEraseEeprom() {
  if (closing_) return;
  EraseEeprom();
}

void CKT701xWriteEepromMPDlg::OnReadEeprom(bool identifyOnly) {
  if (closing_) return;
  DialogWindow& w = dialogWindow_;
  w.EnableItem(ctl::kWriteEeprom, false);
  image.imageLength = kProgrammedLength;
  if (OpenTargetDevice() != kSOk) {
    w.EnableItem(ctl::kWriteEeprom, true);
    return;
  }
  ++jobsHandedOver_;
  SetFlag(readRequested, identifyOnly ? kIdentifyOnly : kReadEeprom);
}

HResult CKT701xWriteEepromMPDlg::OpenTargetDevice() {
  DialogWindow& w = dialogWindow_;
  targetVendorId = ParseHexField(w.GetItemText(ctl::kVendorId).substr(0, kIdFieldTextLimit));
  targetProductId = ParseHexField(w.GetItemText(ctl::kProductId).substr(0, kIdFieldTextLimit));
  image.readbackBuffer.fill(0);

  // The typed IDs come first even when they equal a fallback row; that row is then simply tried again.
  hidLink.deviceOpen = OpenHidLink(hidLink, targetVendorId, targetProductId);
  if (hidLink.deviceOpen) return kSOk;
  for (const UsbIds& row : fallbackTargets) {
    targetVendorId = row.vendorId;
    targetProductId = row.productId;
    hidLink.deviceOpen = OpenHidLink(hidLink, targetVendorId, targetProductId);
    if (hidLink.deviceOpen) return kSOk;
  }
  targetVendorId = 0xFFFF;
  targetProductId = 0xFFFF;
  ShowResult(probeDeviceAbsent == 1 ? ShownResult{ResultStep::kFind, -1, prep_text::kNotFoundAbsent}
                                    : ShownResult{ResultStep::kFind, -2, prep_text::kNotFoundPresent},
             prep_text::kNotFoundCaption, MessageIcon::kError);
  return kEFail;
}

HResult CKT701xWriteEepromMPDlg::EraseEeprom() {
  if (phaseObserver()) phaseObserver()("erase");
  const HResult opened = OpenTargetDevice();
  if (opened != kSOk) {
    ShowResult({ResultStep::kErase, -2, prep_text::kEraseNotOpened}, prep_text::kEraseCaption,
               MessageIcon::kError);
    CloseHidLink(hidLink);
    return opened;
  }
  // The link stays open over the message boxes below; a device change meanwhile must not touch it.
  preparationHoldsLink_ = true;
  // The erase command carries no tag, so sequenceTag stays as it is. Each command gets its pause
  // whether or not it went out.
  HResult result = SendEraseCommand(hidLink);
  clock().Sleep(kPreparationPauseMs);
  if (result == kSOk) {
    result = SendEraseCommand(hidLink);
    clock().Sleep(kPreparationPauseMs);
  }
  if (result == kSOk) {
    ShowResult({ResultStep::kErase, 0, prep_text::kReplug}, prep_text::kEraseCaption,
               MessageIcon::kInformation);
  } else {
    ShowResult({ResultStep::kErase, -1, prep_text::kEraseNotSent}, prep_text::kEraseCaption,
               MessageIcon::kError);
    result = kEFail;
  }
  ReleasePreparationLink();
  return result;
}

HResult CKT701xWriteEepromMPDlg::ReleaseWriteProtect() {
  if (phaseObserver()) phaseObserver()("release the write protection");
  const HResult opened = OpenTargetDevice();
  if (opened != kSOk) {
    CloseHidLink(hidLink);
    return opened;
  }
  preparationHoldsLink_ = true;
  sequenceTag = AdvanceRegisterTag(sequenceTag);
  std::uint8_t value = 0;
  if (TransferRegister(hidLink, &value, TransferDirection::kRead, kWriteProtectRegister, sequenceTag)) {
    value &= 0xFE;
    sequenceTag = AdvanceRegisterTag(sequenceTag);
    TransferRegister(hidLink, &value, TransferDirection::kWrite, kWriteProtectRegister, sequenceTag);
  }
  // A failed read or write is not a reason to stop: the job itself will tell whether the EEPROM took it.
  clock().Sleep(kPreparationPauseMs);
  ReleasePreparationLink();
  return kSOk;
}

void CKT701xWriteEepromMPDlg::ReleasePreparationLink() {
  CloseHidLink(hidLink);
  preparationHoldsLink_ = false;
  if (probePending_) ProbeWhenLinkFree();
}

void CKT701xWriteEepromMPDlg::ProbeDevice() {
  probeDeviceAbsent = 1;
  for (const UsbIds& ids : probeTargets) {
    hidLink.deviceOpen = OpenHidLink(hidLink, ids.vendorId, ids.productId);
    if (hidLink.deviceOpen) {
      probeDeviceAbsent = 0;
      break;
    }
  }
  CloseHidLink(hidLink);
  if (probeObserver_) probeObserver_(probeDeviceAbsent);
}

void CKT701xWriteEepromMPDlg::ProbeWhenLinkFree() {
  if (closing_) return;
  if (LinkHeld()) {
    // Opening a link that is already open "succeeds" at once and the probe's close would take the link
    // from its holder; the probe waits instead and runs once the link is free.
    probePending_ = true;
    return;
  }
  probePending_ = false;
  ProbeDevice();
}

int CKT701xWriteEepromMPDlg::OnDeviceChange(std::uint32_t eventType, std::uint32_t deviceType) {
  if ((eventType == kDbtDeviceArrival || eventType == kDbtDeviceRemoveComplete) &&
      deviceType == kDbtDevtypDeviceInterface) {
    ProbeWhenLinkFree();
  }
  return 0;
}

}  // namespace kt
