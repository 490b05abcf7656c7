#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "base/clock.h"
#include "hid/hid_backend.h"
#include "hid/report_trace.h"
#include "hid/sim/sim_options.h"

namespace kt {

// A KT7310 board on a USB port: the chip's EEPROM, registers, write protect and access sequences, its
// plug state, and the faults asked for in SimOptions. It parses the request reports it receives and
// answers as the chip does, so every layer above runs unchanged.
//
// Choices where the chip's inner working is not known:
// - EEPROM of kEepromSize bytes; the erase command fills it with kErasedByte. A request that touches
//   an address at or beyond kEepromSize (or has a length the chip cannot serve: 0, over 8 for writes,
//   over input length - 9 for reads) is refused: it gets no answer at all.
// - Enumeration is decided at plug-in: product ID kBlankProductId when EEPROM bytes 0..7 are all 0x00
//   or all 0xFF, or when no "KTHsDTag" is found; else the idProduct of the device descriptor that
//   follows "KTHsDTag" (little-endian, descriptor offset 10). Vendor ID is always kKtVendorId.
// - Register space is 16 bits; every register reads 0 until written, except the write-protect register,
//   whose bit 0 is set at every plug-in. The identification registers are read-only and answer only
//   after their access sequences (see chip_registers.h); Register() shows 0 for them.
// - A write answer echoes the length (block) or the stored value (register) in byte 8.
// - After an erase the board re-plugs itself (unplug, plug in) when the last handle opened in this plug
//   session is closed, unless options.manualReplug.
class SimBoard {
 public:
  static constexpr std::size_t kEepromSize = 32768;
  static constexpr std::uint8_t kErasedByte = 0xFF;
  static constexpr std::uint16_t kInputReportLength = 33;   // report-ID byte included
  static constexpr std::uint16_t kOutputReportLength = 17;  // report-ID byte included
  static constexpr std::uint16_t kOutputUsagePage = 0x0C;
  static constexpr std::uint8_t kReportId = 0;
  static constexpr std::size_t kShortAnswerLength = 7;
  static constexpr std::size_t kRequestLogLimit = 1 << 20;

  // Starts plugged in, with options.start's contents (the default image's first kEepromSize bytes, or
  // erased).
  SimBoard(const SimOptions& options, Clock& clock, ReportTrace* trace = nullptr);
  // Starts plugged in with these EEPROM contents instead (erased beyond them); options.start is unused.
  SimBoard(const SimOptions& options, Clock& clock, ReportTrace* trace, std::span<const std::uint8_t> eeprom);

  SimBoard(const SimBoard&) = delete;
  SimBoard& operator=(const SimBoard&) = delete;

  std::vector<std::uint8_t> Eeprom() const;
  // Overwrites EEPROM bytes from `offset` on; bytes that would fall beyond the EEPROM are dropped.
  void SetEeprom(std::span<const std::uint8_t> bytes, std::size_t offset = 0);
  std::uint8_t Register(std::uint16_t address) const;
  bool writeProtected() const;

  bool plugged() const;
  // The product ID the board enumerated under at its last plug-in (0 while unplugged).
  std::uint16_t productId() const;
  // Output reports received since the last plug-in.
  std::uint32_t requestCount() const;
  // Every output report received since construction or ClearRequests (across plug sessions), in order;
  // only the last kRequestLogLimit are kept, so that a long simulated session does not grow without end.
  std::vector<std::vector<std::uint8_t>> requests() const;
  void ClearRequests();
  // Handles open on the current plug session.
  std::uint32_t openHandles() const;
  // An erase command has arrived since the last plug-in (the board re-plugs once the host lets go).
  bool erasedThisSession() const;

  // Unplugging kills every open handle (writes and reads fail) and drops answers
  // not yet read. Plugging in starts a new session: request count 0, write protect set, enumeration
  // from the EEPROM. Each raises the device-change listener (outside the board's lock). No-ops when
  // already in that state.
  void Unplug();
  void Plug();
  void SetDeviceChangeListener(HidBackend::DeviceChangeListener listener);

  // The USB side, used by SimBackend's handles. A handle belongs to the plug session it was opened in
  // and is dead once that session is over. As the HID class driver does, the board keeps a queue of
  // input reports for every handle opened for reading, from the moment it was opened; other handles
  // get no input reports.
  // Returns the new handle's id, or 0 while unplugged.
  std::uint64_t OpenHandle(bool forReading);
  void CloseHandle(std::uint64_t handle);
  // False once the handle's plug session is over.
  bool HandleAlive(std::uint64_t handle) const;
  // One output report; false when the handle is dead, or the report is not one output report long or
  // carries another report ID.
  bool Receive(std::uint64_t handle, const std::uint8_t* data, std::size_t length);
  // The handle's next input report due, waiting on the clock; kTimedOut after timeoutMs when none comes,
  // or when CancelRead is called for the handle meanwhile; kFailed at once on a dead handle (the board
  // unplugged), as the real HID stacks fail a read on a device that has gone.
  HidReadResult Deliver(std::uint64_t handle, std::uint8_t* buffer, std::size_t capacity,
                        std::uint32_t timeoutMs);
  void CancelRead(std::uint64_t handle);
  // A write of the handle held by hang@N fails now; later writes of the handle fail at once.
  void CancelWrite(std::uint64_t handle);
  // For tests: waits (real time, at most boundMs) until a write is held by hang@N or wedge@N.
  bool WaitForHeldWrite(std::uint32_t boundMs);

 private:
  struct Answer {
    std::uint64_t dueMicros = 0;
    std::vector<std::uint8_t> bytes;
  };
  struct HandleState {
    std::uint64_t session = 0;
    bool forReading = false;
    std::deque<Answer> answers;
    std::uint64_t queued = 0;  // answers ever queued, so a waiter sees new ones without polling
    std::uint64_t cancels = 0;
    bool writesCancelled = false;
  };
  enum class Unlock { kNone, kChipId, kVersionHigh, kVersionLow };
  using Listener = HidBackend::DeviceChangeListener;

  SimBoard(const SimOptions& options, Clock& clock, ReportTrace* trace, std::span<const std::uint8_t> eeprom,
           bool useEeprom);
  // Each returns the listener to call (outside the lock) or an empty one.
  // Both return the listener to tell (empty when there is nothing to tell), counted as a call under way
  // until Notify has made it.
  Listener UnplugLocked();
  Listener PlugLocked();
  // Calls a listener the two above returned, outside the lock.
  void Notify(const Listener& listener, bool arrived);
  void HandleRequest(const std::vector<std::uint8_t>& request);
  bool AnswerBlockRead(const std::vector<std::uint8_t>& request, std::vector<std::uint8_t>& answer);
  bool AnswerBlockWrite(const std::vector<std::uint8_t>& request, std::vector<std::uint8_t>& answer);
  void AnswerRegister(const std::vector<std::uint8_t>& request, Unlock unlocked,
                      std::vector<std::uint8_t>& answer);
  std::uint8_t ReadRegister(std::uint16_t address, Unlock unlocked) const;
  Unlock StepAccessSequences(const std::vector<std::uint8_t>& request);
  void Queue(std::vector<std::uint8_t> answer);
  void Trace(const std::string& text);
  bool Faulted(const std::vector<std::uint32_t>& requests) const;

  const SimOptions options_;
  Clock& clock_;
  VirtualClock* virtualClock_;  // the clock, when it is a virtual one: answers then never cost real time
  ReportTrace* trace_;

  mutable std::mutex mutex_;
  std::condition_variable answered_;
  std::condition_variable writeReleased_;  // a held write (hang@N) may go: cancelled, or unplugged
  std::condition_variable writeHeld_;
  std::uint32_t heldWrites_ = 0;
  std::vector<std::uint8_t> eeprom_;
  std::vector<std::uint8_t> registers_;
  int idStep_ = 0;
  int versionStep_ = 0;
  Unlock pendingUnlock_ = Unlock::kNone;
  std::uint64_t session_ = 0;  // 0 while unplugged
  std::uint64_t sessionsStarted_ = 0;
  std::uint64_t handlesOpened_ = 0;
  std::map<std::uint64_t, HandleState> handles_;
  std::uint16_t productId_ = 0;
  std::uint32_t requestCount_ = 0;
  bool erasedThisSession_ = false;
  std::deque<std::array<std::uint8_t, kOutputReportLength>> requests_;
  Listener listener_;
  // Listener calls under way: a listener replaced or removed is not called any more once
  // SetDeviceChangeListener returns, so its owner may go.
  int notifying_ = 0;
  std::condition_variable notified_;
};

// `listener`, told every change at `port` (a board knows nothing of where it is plugged); empty for an
// empty listener.
HidBackend::DeviceChangeListener ListenerAtPort(HidBackend::DeviceChangeListener listener, std::string port);

// The simulated board as a HID backend: one interface, kDevicePath, while the board is plugged in.
// It writes event lines (plug, unplug, faults) to the trace; the reports themselves are traced by
// wrapping it in a TracingBackend, as for every other backend.
class SimBackend final : public HidBackend {
 public:
  static constexpr const char* kDevicePath = "sim:kt7310";

  // With options.eepromFile, loads the EEPROM from that file when it exists (see loadError()). The
  // board's one interface is at `path`.
  SimBackend(const SimOptions& options, Clock& clock, ReportTrace* trace = nullptr,
             std::string path = kDevicePath);
  // With options.eepromFile, saves the EEPROM there, unless loading it failed (the file is then left
  // alone rather than overwritten with a board the user never had).
  ~SimBackend() override;

  SimBoard& board() { return *board_; }
  // Empty when the EEPROM file was loaded, or did not exist yet; else why it could not be used.
  const std::string& loadError() const { return loadError_; }
  bool SaveEeprom(std::string& error);

  std::string Name() const override { return "simulated KT7310"; }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override;
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override;
  void SetDeviceChangeListener(DeviceChangeListener listener) override;
  bool ReportsDeviceChanges() const override { return true; }

 private:
  std::shared_ptr<SimBoard> board_;  // shared with the open handles, which may outlive the backend
  std::string path_;
  std::string eepromFile_;
  std::string loadError_;
};

}  // namespace kt
