#include "hid/hid_link.h"

#include <string>

namespace kt {
namespace {

// Output values on the Consumer page carry the report ID the chip expects in byte 0 of every request.
constexpr std::uint16_t kConsumerUsagePage = 0x0C;

bool UsableReportLength(std::uint16_t length) {
  return length != 0 && length <= kMaxReportLength;
}

// One candidate interface. Returns true with both handles open on `path`; on false the search goes on,
// and whatever this candidate left in the link is replaced by the next one or cleared when the search
// ends without a device.
bool TryOpenInterface(HidLink& link, const std::string& path, std::uint16_t vendorId,
                      std::uint16_t productId) {
  link.writeHandle.reset();
  link.writeHandle = link.backend->Open(path, HidOpenMode::kPlain);
  if (!link.writeHandle) return false;

  HidAttributes attributes;
  if (!link.writeHandle->GetAttributes(attributes) || attributes.vendorId != vendorId ||
      attributes.productId != productId) {
    return false;
  }

  // Every report buffer is kMaxReportLength bytes, so a device with longer reports is refused here
  // rather than letting a read or write run past a buffer later.
  HidCaps caps;
  if (!link.writeHandle->GetCaps(caps) || !UsableReportLength(caps.inputReportByteLength) ||
      !UsableReportLength(caps.outputReportByteLength)) {
    return false;
  }

  link.reportId = 0;
  for (const HidValueCaps& value : caps.outputValueCaps) {
    if (value.usagePage == kConsumerUsagePage) link.reportId = value.reportId;  // the last one wins
  }
  link.inputReportLength = caps.inputReportByteLength;
  link.outputReportLength = caps.outputReportByteLength;

  link.readHandle.reset();
  link.readHandle = link.backend->Open(path, HidOpenMode::kOverlappedRead);
  return link.readHandle != nullptr;
}

}  // namespace

void CreateHidLink(HidLink& link, HidBackend& backend, Clock& clock) {
  link.backend = &backend;
  link.clock = &clock;
  link.writeHandle.reset();
  link.readHandle.reset();
  link.inputReportLength = 0;
  link.outputReportLength = 0;
  link.reportId = 0;
  link.readEventOpen = true;
  link.deviceOpen = false;
}

bool OpenHidLink(HidLink& link, std::uint16_t vendorId, std::uint16_t productId) {
  // Deliberately no check that the open device has these IDs: callers rely on an open link staying put.
  if (link.writeHandle && link.readHandle) return true;
  if (link.backend == nullptr) return false;

  std::unique_ptr<HidInterfaceList> interfaces = link.backend->ListInterfaces();
  if (!interfaces) return false;

  bool opened = false;
  for (std::uint32_t index = 0; !opened && index < kMaxHidInterfaces; ++index) {
    std::string path;
    const HidEnumStep step = interfaces->Next(index, path);
    if (step == HidEnumStep::kEnd) break;
    if (step == HidEnumStep::kSkip) continue;
    opened = TryOpenInterface(link, path, vendorId, productId);
    if (opened) link.openedPath = path;
  }
  interfaces.reset();

  if (!opened) {
    link.inputReportLength = 0;
    link.outputReportLength = 0;
    link.writeHandle.reset();
    link.readHandle.reset();
  }
  return opened;
}

void CloseHidLink(HidLink& link) {
  if (!link.deviceOpen) return;
  link.writeHandle.reset();
  link.readHandle.reset();
  link.deviceOpen = false;
}

void DestroyHidLink(HidLink& link) {
  link.readEventOpen = false;
  link.writeHandle.reset();
  link.readHandle.reset();
}

}  // namespace kt
