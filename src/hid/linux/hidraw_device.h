#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>

#include "hid/hid_backend.h"
#include "hid/linux/diagnostics.h"
#include "hid/linux/hidraw_sysfs.h"
#include "hid/linux/unique_fd.h"
#include "hid/report_descriptor.h"

namespace kt {

// The two system calls a read makes. Another reader can take a report between them, and a signal can end
// either one; on a real node that happens only by chance, so tests bring their own calls to make it happen.
struct HidrawReadCalls {
  int (*poll)(pollfd* fds, nfds_t count, int timeoutMs) = ::poll;
  ssize_t (*read)(int fd, void* buffer, std::size_t length) = ::read;
};

// One open /dev/hidrawN. Reads are synchronous (poll, then read), so nothing is ever left pending when
// ReadReport returns and CancelRead has nothing to do.
class HidrawDevice final : public HidDeviceHandle {
 public:
  // `info` is what sysfs knew; what it lacked is asked of the device itself (HIDIOCGRAWINFO and
  // HIDIOCGRDESC), which works on a real node only.
  HidrawDevice(UniqueFd fd, std::string path, HidrawNodeInfo info,
               std::shared_ptr<LinuxHidDiagnostics> diagnostics, HidrawReadCalls calls = {});

  bool GetAttributes(HidAttributes& out) override;
  bool GetCaps(HidCaps& out) override;
  bool WriteReport(const std::uint8_t* data, std::size_t length, std::size_t& written) override;
  HidReadResult ReadReport(std::uint8_t* buffer, std::size_t capacity, std::uint32_t timeoutMs) override;
  void CancelRead() override {}
  // A hidraw write cannot be interrupted (usbhid waits for the transfer uninterruptibly), but the kernel
  // bounds it: a USB report that the device does not take times out after 5 s, and uhid only queues.
  // So all there is to do is to refuse the writes that would follow.
  void CancelWrite() override { writesCancelled_.store(true, std::memory_order_release); }

 private:
  void CompleteInfoFromDevice();

  UniqueFd fd_;
  std::string path_;
  HidrawNodeInfo info_;
  std::shared_ptr<LinuxHidDiagnostics> diagnostics_;
  std::atomic<bool> writesCancelled_{false};
  bool descriptorParsed_ = false;
  ReportDescriptorInfo descriptor_;
  HidrawReadCalls calls_;
};

}  // namespace kt
