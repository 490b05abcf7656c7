#include "hid/sim/linux/uhid_transport.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "hid/chip_registers.h"
#include "hid/linux/system_error.h"

namespace kt {
namespace {

template <std::size_t N>
void CopyText(__u8 (&field)[N], const std::string& text) {
  const std::size_t length = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), length);
  field[length] = 0;
}

}  // namespace

UhidTransport::UhidTransport(std::vector<std::uint8_t> reportDescriptor, std::string uniq,
                             std::string devicePath)
    : reportDescriptor_(std::move(reportDescriptor)),
      uniq_(std::move(uniq)),
      devicePath_(std::move(devicePath)) {}

UhidTransport::~UhidTransport() {
  Unplug();
}

bool UhidTransport::WriteEvent(const void* event, std::size_t length, std::string& error) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  ssize_t written;
  do {
    written = ::write(fd_.Get(), event, length);
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(length)) return true;
  error = written < 0 ? SystemErrorMessage("write", devicePath_, errno)
                      : "write " + devicePath_ + ": short write of " + std::to_string(written) + " bytes";
  return false;
}

bool UhidTransport::Plug(std::uint16_t productId, std::string& error) {
  if (created_) return true;
  if (reportDescriptor_.size() > HID_MAX_DESCRIPTOR_SIZE) {
    error = "the report descriptor is longer than uhid takes";
    return false;
  }
  // One open of /dev/uhid is one device: a fresh descriptor per plug-in keeps each session's events apart.
  fd_.Reset(::open(devicePath_.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd_.Valid()) {
    error = SystemErrorMessage("open", devicePath_, errno);
    return false;
  }
  uhid_event event{};
  event.type = UHID_CREATE2;
  uhid_create2_req& create = event.u.create2;
  CopyText(create.name, "KT7310 simulated board");
  CopyText(create.phys, "kt7310-board/uhid");
  CopyText(create.uniq, uniq_);
  create.rd_size = static_cast<__u16>(reportDescriptor_.size());
  create.bus = 0x03;  // BUS_USB: the tool looks for USB HID devices
  create.vendor = kKtVendorId;
  create.product = productId;
  create.version = 0x0100;
  std::memcpy(create.rd_data, reportDescriptor_.data(), reportDescriptor_.size());
  if (!WriteEvent(&event, sizeof(event), error)) {
    fd_.Reset();
    return false;
  }
  created_ = true;
  return true;
}

void UhidTransport::Unplug() {
  if (!created_) return;
  uhid_event event{};
  event.type = UHID_DESTROY;
  std::string ignored;
  // Closing the descriptor destroys the device as well; the explicit destroy makes it happen now.
  WriteEvent(&event, sizeof(event), ignored);
  std::lock_guard<std::mutex> lock(writeMutex_);
  fd_.Reset();
  created_ = false;
}

HostEvent UhidTransport::Receive() {
  HostEvent result;
  uhid_event event{};
  ssize_t got;
  do {
    got = ::read(fd_.Get(), &event, sizeof(event));
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    result.kind = HostEvent::Kind::kFailed;
    result.error = got < 0 ? SystemErrorMessage("read", devicePath_, errno) : devicePath_ + " closed";
    return result;
  }
  switch (event.type) {
    case UHID_OPEN:
      result.kind = HostEvent::Kind::kOpened;
      break;
    case UHID_CLOSE:
      result.kind = HostEvent::Kind::kClosed;
      break;
    case UHID_OUTPUT: {
      // hidraw hands an unnumbered report on with its report-ID byte 0 still in front.
      const std::size_t size = std::min<std::size_t>(event.u.output.size, UHID_DATA_MAX);
      result.kind = HostEvent::Kind::kOutput;
      result.report.assign(event.u.output.data, event.u.output.data + size);
      break;
    }
    case UHID_GET_REPORT:
    case UHID_SET_REPORT: {
      // The chip has no get-report or set-report traffic: refuse it, as a device that stalls the request.
      uhid_event reply{};
      if (event.type == UHID_GET_REPORT) {
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply = {event.u.get_report.id, EIO, 0, {}};
      } else {
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply = {event.u.set_report.id, EIO};
      }
      std::string error;
      if (!WriteEvent(&reply, sizeof(reply), error)) return {HostEvent::Kind::kFailed, {}, error};
      break;
    }
    default:  // UHID_START, UHID_STOP: the kernel's own bookkeeping
      break;
  }
  return result;
}

bool UhidTransport::Send(std::span<const std::uint8_t> report, std::uint32_t timeoutMs, std::string& error) {
  (void)timeoutMs;  // the kernel takes an input event at once
  if (report.empty()) return true;
  uhid_event event{};
  event.type = UHID_INPUT2;
  // No report IDs: the report goes up without the ID byte, as a USB device sends it.
  const std::size_t size = std::min<std::size_t>(report.size() - 1, UHID_DATA_MAX);
  event.u.input2.size = static_cast<__u16>(size);
  std::memcpy(event.u.input2.data, report.data() + 1, size);
  std::lock_guard<std::mutex> lock(writeMutex_);
  if (!fd_.Valid()) {
    error = "the board is unplugged";
    return false;
  }
  const std::size_t length = offsetof(uhid_event, u) + offsetof(uhid_input2_req, data) + size;
  const ssize_t written = ::write(fd_.Get(), &event, length);
  if (written == static_cast<ssize_t>(length)) return true;
  error = SystemErrorMessage("write", devicePath_, errno);
  return false;
}

}  // namespace kt
