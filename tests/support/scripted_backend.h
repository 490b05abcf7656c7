#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "hid/hid_backend.h"

namespace kt::test {

// A HID backend whose devices and input reports a test writes down beforehand. Unlike the simulated
// board it understands nothing of the protocol: it enumerates the interfaces it was given, opens them
// (or refuses to), records every output report written and hands out input reports from a queue. That
// makes it the tool for hostile and broken devices: wrong capabilities, stray or truncated answers,
// silence, failing opens, odd enumeration.
//
// Use:
//   ScriptedBackend backend(&virtualClock);
//   backend.AddInterface(ScriptedBackend::Device("a", 0x3B7D, 0x7310));
//   backend.QueueRead(ScriptedRead::Report(ScriptedBackend::Answer(/*tag=*/1, /*length=*/64, {0x07})));
//   backend.OnWrite([&](const WrittenReport& r, ScriptedBackend& b) { ... b.QueueRead(...); });
//
// Every member may be called from any thread; the write callback runs without the backend's lock held,
// so it may call back into the backend. The backend must outlive every list and handle it gave out.

// One HID interface as the enumeration presents it.
struct ScriptedInterface {
  std::string path;
  HidAttributes attributes;
  HidCaps caps;
  bool attributesFail = false;       // GetAttributes returns false
  bool capsFail = false;             // GetCaps returns false
  bool plainOpenFails = false;       // Open(path, kPlain) returns null
  bool overlappedOpenFails = false;  // Open(path, kOverlappedRead) returns null
};

// What one ReadReport call does.
struct ScriptedRead {
  HidReadResult::Status status = HidReadResult::Status::kTimedOut;
  std::vector<std::uint8_t> bytes;  // copied into the caller's buffer, cut at its capacity
  // The byte count reported; by default the number of bytes copied. Windows reports 0 when the read was
  // still pending when it was started: ReportedAs(0) plays that.
  std::optional<std::size_t> reportedCount;

  static ScriptedRead Report(std::vector<std::uint8_t> bytes);
  static ScriptedRead TimeOut();
  static ScriptedRead Failure();
  ScriptedRead ReportedAs(std::size_t count) &&;
};

struct WrittenReport {
  std::string path;
  std::vector<std::uint8_t> bytes;
};

class ScriptedBackend final : public HidBackend {
 public:
  // `clock`, when given, is moved on by the full time-out of every read that times out (a virtual clock
  // then shows the time the tool would have waited).
  explicit ScriptedBackend(Clock* clock = nullptr) : clock_(clock) {}

  // --- Set-up -------------------------------------------------------------------------------------
  // A well-behaved device: 64-byte input and output reports, no output value capabilities.
  static ScriptedInterface Device(std::string path, std::uint16_t vendorId, std::uint16_t productId);
  // An input report of `length` bytes, zero but for `tag` at offset 7 and `from8` from offset 8 on.
  static std::vector<std::uint8_t> Answer(std::uint8_t tag, std::size_t length,
                                          std::vector<std::uint8_t> from8 = {});

  // Interfaces are enumerated in the order they were added; index i is the i-th one.
  void AddInterface(ScriptedInterface interface);
  // Lets a test change an interface after adding it (e.g. make its opens fail from now on).
  void EditInterface(std::size_t index, const std::function<void(ScriptedInterface&)>& edit);
  // Next(index) answers `step` instead of kInterface/kEnd at that index (the path is still filled).
  void OverrideStep(std::uint32_t index, HidEnumStep step);
  // ListInterfaces returns null, as when the system's list cannot be had.
  void SetListUnavailable(bool unavailable);

  void QueueRead(ScriptedRead read);
  // What a read does once the queue is empty; a time-out unless set otherwise.
  void SetReadWhenEmpty(ScriptedRead read);
  // Called after every WriteReport with the report written; the usual place to queue its answer.
  void OnWrite(std::function<void(const WrittenReport&, ScriptedBackend&)> callback);
  // WriteReport fails (false, 0 bytes written) from now on; the report is still recorded.
  void SetWritesFail(bool fail);

  // --- Observation --------------------------------------------------------------------------------
  struct Counters {
    int listsTaken = 0;     // ListInterfaces calls that returned a list
    int listsReleased = 0;  // lists destroyed
    int plainOpens = 0;     // successful opens, by mode
    int overlappedOpens = 0;
    int plainCloses = 0;  // handles destroyed, by mode
    int overlappedCloses = 0;
    int reads = 0;    // ReadReport calls
    int cancels = 0;  // CancelRead calls
  };
  Counters counters() const;
  int OpenHandles() const;
  // Every index Next was asked for, in order, across all lists.
  std::vector<std::uint32_t> EnumeratedIndices() const;
  std::vector<WrittenReport> Writes() const;
  // The capacity and time-out of every ReadReport call, in order.
  struct ReadCall {
    std::string path;
    std::size_t capacity = 0;
    std::uint32_t timeoutMs = 0;
  };
  std::vector<ReadCall> ReadCalls() const;
  std::size_t PendingReads() const;

  // --- HidBackend ---------------------------------------------------------------------------------
  std::string Name() const override { return "scripted"; }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override;
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override;

 private:
  class List;
  class Handle;

  HidEnumStep Next(std::uint32_t index, std::string& path);
  const ScriptedInterface* FindLocked(const std::string& path) const;
  void HandleClosed(HidOpenMode mode);
  void ListReleased();
  bool Attributes(const std::string& path, HidAttributes& out);
  bool Caps(const std::string& path, HidCaps& out);
  bool Write(const std::string& path, const std::uint8_t* data, std::size_t length, std::size_t& written);
  HidReadResult Read(const std::string& path, std::uint8_t* buffer, std::size_t capacity,
                     std::uint32_t timeoutMs);
  void Cancel();

  Clock* clock_;
  mutable std::mutex mutex_;
  std::vector<ScriptedInterface> interfaces_;
  std::map<std::uint32_t, HidEnumStep> stepOverrides_;
  bool listUnavailable_ = false;
  bool writesFail_ = false;
  std::deque<ScriptedRead> reads_;
  ScriptedRead readWhenEmpty_;
  std::function<void(const WrittenReport&, ScriptedBackend&)> onWrite_;
  Counters counters_;
  std::vector<std::uint32_t> enumerated_;
  std::vector<WrittenReport> writes_;
  std::vector<ReadCall> readCalls_;
};

}  // namespace kt::test
