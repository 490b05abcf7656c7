#include "hid/linux/hidraw_device.h"

#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <utility>

#include "hid/linux/system_error.h"

namespace kt {
namespace {

// The kernel never hands out a report longer than HID_MAX_BUFFER_SIZE (4096); one more byte leaves room
// for the report-ID byte we put in front of unnumbered reports.
constexpr std::size_t kMaxHidrawReport = 4096 + 1;

}  // namespace

HidrawDevice::HidrawDevice(UniqueFd fd, std::string path, HidrawNodeInfo info,
                           std::shared_ptr<LinuxHidDiagnostics> diagnostics, HidrawReadCalls calls)
    : fd_(std::move(fd)),
      path_(std::move(path)),
      info_(std::move(info)),
      diagnostics_(std::move(diagnostics)),
      calls_(calls) {
  CompleteInfoFromDevice();
  if (info_.hasDescriptor) {
    std::string error;
    descriptorParsed_ =
        ParseReportDescriptor(info_.descriptor.data(), info_.descriptor.size(), descriptor_, error);
    if (!descriptorParsed_) diagnostics_->Record("report descriptor of " + path_ + ": " + error);
  }
}

void HidrawDevice::CompleteInfoFromDevice() {
  if (!info_.hasIds) {
    hidraw_devinfo devinfo{};
    if (::ioctl(fd_.Get(), HIDIOCGRAWINFO, &devinfo) == 0) {
      info_.hasIds = true;
      info_.vendorId = static_cast<std::uint16_t>(devinfo.vendor);
      info_.productId = static_cast<std::uint16_t>(devinfo.product);
    } else {
      diagnostics_->Record(SystemErrorMessage("HIDIOCGRAWINFO", path_, errno));
    }
  }
  if (!info_.hasDescriptor) {
    int size = 0;
    hidraw_report_descriptor rdesc{};
    if (::ioctl(fd_.Get(), HIDIOCGRDESCSIZE, &size) == 0 && size >= 0 &&
        static_cast<std::size_t>(size) <= sizeof rdesc.value) {
      rdesc.size = static_cast<std::uint32_t>(size);
      if (::ioctl(fd_.Get(), HIDIOCGRDESC, &rdesc) == 0) {
        info_.hasDescriptor = true;
        info_.descriptor.assign(rdesc.value, rdesc.value + rdesc.size);
        return;
      }
    }
    diagnostics_->Record(SystemErrorMessage("HIDIOCGRDESC", path_, errno));
  }
}

bool HidrawDevice::GetAttributes(HidAttributes& out) {
  if (!info_.hasIds) return false;
  out.vendorId = info_.vendorId;
  out.productId = info_.productId;
  return true;
}

bool HidrawDevice::GetCaps(HidCaps& out) {
  if (!descriptorParsed_) return false;
  out = descriptor_.ToHidCaps();
  return true;
}

bool HidrawDevice::WriteReport(const std::uint8_t* data, std::size_t length, std::size_t& written) {
  written = 0;
  if (data == nullptr || length == 0) return false;
  if (writesCancelled_.load(std::memory_order_acquire)) {
    diagnostics_->Record("write " + path_ + ": cancelled by Exit");
    return false;
  }
  // hidraw takes byte 0 as the report ID, and a 0 there as "no ID" (it is dropped before the device
  // sees the report): exactly the buffer layout above the backend, so it goes out as it is.
  ssize_t n;
  do {
    n = ::write(fd_.Get(), data, length);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    diagnostics_->Record(SystemErrorMessage("write", path_, errno));
    return false;
  }
  written = static_cast<std::size_t>(n);
  return true;
}

HidReadResult HidrawDevice::ReadReport(std::uint8_t* buffer, std::size_t capacity, std::uint32_t timeoutMs) {
  HidReadResult result;
  if (buffer == nullptr || capacity == 0) return result;

  // One deadline for the whole read: a signal, or a report another reader took between our poll and our
  // read (EAGAIN), sends us back to poll for the time that is left, not for a new time-out.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const std::size_t prefix = descriptor_.usesReportIds ? 0 : 1;
  std::array<std::uint8_t, kMaxHidrawReport> report{};
  ssize_t n = -1;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const int timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
    pollfd pfd{fd_.Get(), POLLIN, 0};
    const int ready = calls_.poll(&pfd, 1, timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      diagnostics_->Record(SystemErrorMessage("poll", path_, errno));
      return result;
    }
    if (ready == 0) {
      result.status = HidReadResult::Status::kTimedOut;
      return result;
    }
    // The kernel raises these when the device has been unplugged; reading on would only spin.
    if ((pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      diagnostics_->Record("read " + path_ + ": the device has gone away");
      return result;
    }
    // hidraw hands over unnumbered reports without a report-ID byte; a 0 goes in front so that byte 0 is
    // the report ID (and byte 7 the tag) on every platform.
    do {
      n = calls_.read(fd_.Get(), report.data() + prefix, report.size() - prefix);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    break;
  }
  if (n <= 0) {
    // ENODEV or EIO: unplugged between poll and read. 0: no report at all, which hidraw never sends.
    diagnostics_->Record(n < 0 ? SystemErrorMessage("read", path_, errno) : "read " + path_ + ": no data");
    return result;
  }
  const std::size_t length = std::min(capacity, static_cast<std::size_t>(n) + prefix);
  std::memcpy(buffer, report.data(), length);
  result.status = HidReadResult::Status::kCompleted;
  result.byteCount = length;
  return result;
}

}  // namespace kt
