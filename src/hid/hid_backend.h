#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kt {

// What the tool needs from a platform's HID stack, and nothing more. The discovery and protocol logic
// above it (hid_link, report_protocol) is written once. Byte 0 of every report buffer that crosses this
// interface is the report ID, on every platform; backends normalise it.

// A board's interface arriving or leaving. `port` is where, as PortOf names it ("1-1.3"), taken from the
// notice itself: a board that left may be back by the time the notice is handled, and a look at what is
// present then cannot tell that it ever left. Empty when the notice does not say.
struct DeviceChange {
  bool arrived = false;
  std::string port;
};

struct HidAttributes {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
};

struct HidValueCaps {
  std::uint16_t usagePage = 0;
  std::uint8_t reportId = 0;
};

struct HidCaps {
  std::uint16_t inputReportByteLength = 0;    // largest input report, report-ID byte included
  std::uint16_t outputReportByteLength = 0;   // largest output report, report-ID byte included
  std::vector<HidValueCaps> outputValueCaps;  // in the device's order
};

enum class HidOpenMode {
  kPlain,           // synchronous handle, used for attributes, capabilities and writes
  kOverlappedRead,  // handle for input-report reads with a time-out
};

struct HidReadResult {
  enum class Status {
    kCompleted,  // a report arrived; byteCount as the system reported it (see below)
    kTimedOut,   // nothing within the time-out; the read has been cancelled AND has finished
    kFailed,     // the wait itself failed
  };
  Status status = Status::kFailed;
  // On Windows this is the count the ReadFile call itself reported, 0 when the read was still pending
  // when the call returned; the protocol layer then takes the input report length.
  std::size_t byteCount = 0;
};

// One open handle on a device path. Destroying it closes the handle; a read still pending is cancelled
// and waited for first, so it can never write into a buffer after ReadReport has returned.
class HidDeviceHandle {
 public:
  virtual ~HidDeviceHandle() = default;

  virtual bool GetAttributes(HidAttributes& out) = 0;
  // False when the capabilities (or the output value capabilities) cannot be had.
  virtual bool GetCaps(HidCaps& out) = 0;
  // Writes one output report of `length` bytes; data[0] is the report ID. `written` gets the byte count.
  virtual bool WriteReport(const std::uint8_t* data, std::size_t length, std::size_t& written) = 0;
  // Reads one input report into `buffer` (never more than `capacity` bytes), waiting at most timeoutMs.
  virtual HidReadResult ReadReport(std::uint8_t* buffer, std::size_t capacity, std::uint32_t timeoutMs) = 0;
  // Cancels a pending read, if any, and waits until it can no longer touch its buffer.
  virtual void CancelRead() = 0;
  // For Exit, from another thread than the writer's: a write stuck in this handle (a board that stopped
  // taking output reports) fails now where the system can cancel it, and every later write fails at once.
  // Safe to call at any time while the handle exists.
  virtual void CancelWrite() = 0;
};

enum class HidEnumStep {
  kInterface,  // `path` names the interface at this index
  kSkip,       // this index cannot be used; go on with the next
  kEnd,        // the list has ended, or an error ends the search
};

// The present HID interfaces, in the system's order. Destroying it releases the system's list.
class HidInterfaceList {
 public:
  virtual ~HidInterfaceList() = default;
  virtual HidEnumStep Next(std::uint32_t index, std::string& path) = 0;
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;

  virtual std::string Name() const = 0;
  // Null when the system's list cannot be obtained.
  virtual std::unique_ptr<HidInterfaceList> ListInterfaces() = 0;
  // Null when the path cannot be opened in that mode.
  virtual std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) = 0;

  // Device arrival or removal of a USB device interface, as the platform reports it. May be called on
  // any thread; the window layer carries it to its own thread.
  using DeviceChangeListener = std::function<void(const DeviceChange& change)>;
  virtual void SetDeviceChangeListener(DeviceChangeListener listener) { (void)listener; }
  // True when the listener set last hears arrivals and removals from this backend itself (on Windows
  // they reach the dialog through its window instead).
  virtual bool ReportsDeviceChanges() const { return false; }
  // The physical place of the interface at `path`, stable across re-plugs of the board there (on Linux
  // the USB port path, "1-1.3"); the path itself where the backend knows no better.
  virtual std::string PortOf(const std::string& path) { return path; }
};

// The platform's real backend (Windows: SetupAPI + HID; Linux: hidraw + libudev).
std::unique_ptr<HidBackend> CreatePlatformHidBackend();

}  // namespace kt
