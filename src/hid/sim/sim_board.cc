#include "hid/sim/sim_board.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "hid/chip_registers.h"
#include "hid/sim/sim_enumeration.h"
#include "image/default_image.h"

namespace kt {
namespace {

// Request layouts: byte 1 tag, byte 2 command.
constexpr std::size_t kTagByte = 1;
constexpr std::uint8_t kBlockRead[3] = {0x12, 0xE4, 0xA0};
constexpr std::uint8_t kBlockWrite[3] = {0x11, 0xA0, 0xA0};
constexpr std::uint8_t kRegisterRead = 0x22;
constexpr std::uint8_t kRegisterWrite = 0x21;
constexpr std::uint8_t kErase[3] = {0xF5, 0xAB, 0xCD};
constexpr std::size_t kBlockDataByte = 8;
constexpr std::size_t kRegisterValueByte = 5;
constexpr std::size_t kMaxWriteLength = 8;

// Answer layout: byte 7 tag, byte 8 length or register value, data from byte 9.
constexpr std::size_t kAnswerTagByte = 7;
constexpr std::size_t kAnswerValueByte = 8;
constexpr std::size_t kAnswerDataByte = 9;

constexpr std::uint8_t kWriteProtectBit = 0x01;
constexpr std::size_t kRegisterSpace = 0x10000;

enum class RequestKind { kBlockRead, kBlockWrite, kRegisterRead, kRegisterWrite, kErase, kUnknown };

bool Matches(const std::vector<std::uint8_t>& request, std::size_t at, const std::uint8_t (&bytes)[3]) {
  return std::equal(std::begin(bytes), std::end(bytes), request.begin() + static_cast<std::ptrdiff_t>(at));
}

RequestKind Classify(const std::vector<std::uint8_t>& request) {
  if (Matches(request, 1, kErase)) return RequestKind::kErase;
  if (Matches(request, 2, kBlockRead)) return RequestKind::kBlockRead;
  if (Matches(request, 2, kBlockWrite)) return RequestKind::kBlockWrite;
  if (request[2] == kRegisterRead) return RequestKind::kRegisterRead;
  if (request[2] == kRegisterWrite) return RequestKind::kRegisterWrite;
  return RequestKind::kUnknown;
}

std::uint16_t AddressAt(const std::vector<std::uint8_t>& request, std::size_t at) {
  return static_cast<std::uint16_t>((request[at] << 8) | request[at + 1]);
}

std::string Hex(unsigned value, int digits = 4) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

std::uint64_t MillisToMicros(std::uint32_t ms) {
  return static_cast<std::uint64_t>(ms) * 1000;
}

std::uint32_t MicrosToMillisUp(std::uint64_t micros) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>((micros + 999) / 1000, UINT32_MAX));
}

}  // namespace

SimBoard::SimBoard(const SimOptions& options, Clock& clock, ReportTrace* trace)
    : SimBoard(options, clock, trace, {}, false) {}

SimBoard::SimBoard(const SimOptions& options, Clock& clock, ReportTrace* trace,
                   std::span<const std::uint8_t> eeprom)
    : SimBoard(options, clock, trace, eeprom, true) {}

SimBoard::SimBoard(const SimOptions& options, Clock& clock, ReportTrace* trace,
                   std::span<const std::uint8_t> eeprom, bool useEeprom)
    : options_(options),
      clock_(clock),
      virtualClock_(dynamic_cast<VirtualClock*>(&clock)),
      trace_(trace),
      eeprom_(kEepromSize, kErasedByte),
      registers_(kRegisterSpace, 0) {
  if (useEeprom) {
    std::copy_n(eeprom.begin(), std::min(kEepromSize, eeprom.size()), eeprom_.begin());
  } else if (options.start == SimOptions::StartState::kProgrammed) {
    std::copy_n(defaultImage.begin(), std::min(kEepromSize, defaultImage.size()), eeprom_.begin());
  }
  std::lock_guard<std::mutex> lock(mutex_);
  PlugLocked();  // nobody can be listening yet
}

std::vector<std::uint8_t> SimBoard::Eeprom() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return eeprom_;
}

void SimBoard::SetEeprom(std::span<const std::uint8_t> bytes, std::size_t offset) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (offset >= eeprom_.size()) return;
  const std::size_t length = std::min(bytes.size(), eeprom_.size() - offset);
  std::copy_n(bytes.begin(), length, eeprom_.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::uint8_t SimBoard::Register(std::uint16_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return registers_[address];
}

bool SimBoard::writeProtected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return (registers_[kWriteProtectRegister] & kWriteProtectBit) != 0;
}

bool SimBoard::plugged() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return session_ != 0;
}

std::uint16_t SimBoard::productId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return productId_;
}

std::uint32_t SimBoard::requestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requestCount_;
}

std::vector<std::vector<std::uint8_t>> SimBoard::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::vector<std::uint8_t>> requests;
  requests.reserve(requests_.size());
  for (const auto& request : requests_) requests.emplace_back(request.begin(), request.end());
  return requests;
}

void SimBoard::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

std::uint32_t SimBoard::openHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<std::uint32_t>(
      std::count_if(handles_.begin(), handles_.end(),
                    [this](const auto& entry) { return session_ != 0 && entry.second.session == session_; }));
}

bool SimBoard::erasedThisSession() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return session_ != 0 && erasedThisSession_;
}

void SimBoard::Unplug() {
  Listener listener;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    listener = UnplugLocked();
  }
  Notify(listener, false);
}

void SimBoard::Plug() {
  Listener listener;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    listener = PlugLocked();
  }
  Notify(listener, true);
}

void SimBoard::SetDeviceChangeListener(HidBackend::DeviceChangeListener listener) {
  std::unique_lock<std::mutex> lock(mutex_);
  listener_ = std::move(listener);
  notified_.wait(lock, [this] { return notifying_ == 0; });
}

void SimBoard::Notify(const Listener& listener, bool arrived) {
  if (!listener) return;
  listener(DeviceChange{arrived, {}});
  std::lock_guard<std::mutex> lock(mutex_);
  --notifying_;
  notified_.notify_all();
}

SimBoard::Listener SimBoard::UnplugLocked() {
  if (session_ == 0) return {};
  session_ = 0;
  productId_ = 0;
  for (auto& [id, handle] : handles_) handle.answers.clear();
  answered_.notify_all();
  writeReleased_.notify_all();
  Trace("unplugged");
  if (!listener_) return {};
  ++notifying_;
  return listener_;
}

SimBoard::Listener SimBoard::PlugLocked() {
  if (session_ != 0) return {};
  session_ = ++sessionsStarted_;
  requestCount_ = 0;
  erasedThisSession_ = false;
  idStep_ = 0;
  versionStep_ = 0;
  pendingUnlock_ = Unlock::kNone;
  registers_[kWriteProtectRegister] |= kWriteProtectBit;
  productId_ = EnumeratedProductId(eeprom_);
  Trace("plugged in as " + Hex(kKtVendorId) + ":" + Hex(productId_) +
        (productId_ == kBlankProductId ? " (blank)" : ""));
  if (!listener_) return {};
  ++notifying_;
  return listener_;
}

std::uint64_t SimBoard::OpenHandle(bool forReading) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (session_ == 0) return 0;
  const std::uint64_t id = ++handlesOpened_;
  HandleState& handle = handles_[id];
  handle.session = session_;
  handle.forReading = forReading;
  return id;
}

void SimBoard::CloseHandle(std::uint64_t id) {
  Listener gone;
  Listener back;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = handles_.find(id);
    if (it == handles_.end()) return;
    const bool current = session_ != 0 && it->second.session == session_;
    handles_.erase(it);
    const bool lastClosed = std::none_of(handles_.begin(), handles_.end(), [this](const auto& entry) {
      return entry.second.session == session_;
    });
    // The chip restarts after an erase only when the host lets go of it.
    if (current && lastClosed && erasedThisSession_ && !options_.manualReplug) {
      Trace("last handle closed after the erase: re-plugging");
      gone = UnplugLocked();
      back = PlugLocked();
    }
  }
  Notify(gone, false);
  Notify(back, true);
}

bool SimBoard::HandleAlive(std::uint64_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = handles_.find(id);
  return it != handles_.end() && session_ != 0 && it->second.session == session_;
}

bool SimBoard::Receive(std::uint64_t id, const std::uint8_t* data, std::size_t length) {
  Listener gone;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto it = handles_.find(id);
    if (it == handles_.end() || session_ == 0 || it->second.session != session_) return false;
    if (it->second.writesCancelled) return false;
    // Windows takes exactly one output report of the declared length, with a declared report ID.
    if (data == nullptr || length != kOutputReportLength || data[0] != kReportId) return false;
    std::vector<std::uint8_t> request(data, data + length);
    if (requests_.size() == kRequestLogLimit) requests_.pop_front();
    requests_.emplace_back();
    std::copy_n(data, kOutputReportLength, requests_.back().begin());
    ++requestCount_;
    if (Faulted(options_.wedge)) {
      Trace("fault wedge@" + std::to_string(requestCount_) + ": the write never comes back");
      ++heldWrites_;
      writeHeld_.notify_all();
      // Nothing wakes this: the thread stays here until its process ends.
      writeReleased_.wait(lock, [] { return false; });
    }
    if (Faulted(options_.hang)) {
      Trace("fault hang@" + std::to_string(requestCount_) + ": the write does not come back");
      const std::uint64_t session = session_;
      ++heldWrites_;
      writeHeld_.notify_all();
      writeReleased_.wait(lock, [&] {
        const auto handle = handles_.find(id);
        return session_ != session || handle == handles_.end() || handle->second.writesCancelled;
      });
      Trace("the held write fails");
      return false;
    }
    if (!Faulted(options_.unplug)) {
      HandleRequest(request);
      return true;
    }
    Trace("fault unplug@" + std::to_string(requestCount_) + ": the board disappears");
    gone = UnplugLocked();
  }
  Notify(gone, false);
  return false;
}

void SimBoard::HandleRequest(const std::vector<std::uint8_t>& request) {
  const std::uint32_t number = requestCount_;
  const Unlock unlocked = StepAccessSequences(request);
  const RequestKind kind = Classify(request);
  std::vector<std::uint8_t> answer(kInputReportLength, 0);
  answer[0] = kReportId;
  bool answers = false;
  switch (kind) {
    case RequestKind::kBlockRead:
      answers = AnswerBlockRead(request, answer);
      break;
    case RequestKind::kBlockWrite:
      answers = AnswerBlockWrite(request, answer);
      break;
    case RequestKind::kRegisterRead:
    case RequestKind::kRegisterWrite:
      AnswerRegister(request, unlocked, answer);
      answers = true;
      break;
    case RequestKind::kErase:
      std::fill(eeprom_.begin(), eeprom_.end(), kErasedByte);
      erasedThisSession_ = true;
      Trace("erase: EEPROM cleared");
      break;
    case RequestKind::kUnknown:
      Trace("unknown request " + std::to_string(number) + " ignored");
      break;
  }

  for (const SimStray& stray : options_.stray) {
    if (stray.request != number) continue;
    Trace("fault stray@" + std::to_string(number) + ":" + std::to_string(stray.count));
    std::vector<std::uint8_t> other(kInputReportLength, 0);
    other[kAnswerTagByte] = static_cast<std::uint8_t>(request[kTagByte] ^ 0x80);
    for (std::uint32_t i = 0; i < stray.count; ++i) Queue(other);
  }
  if (!answers) return;
  if (Faulted(options_.silent)) {
    Trace("fault silent@" + std::to_string(number) + ": no answer");
    return;
  }
  if (Faulted(options_.badLength)) {
    if (kind == RequestKind::kBlockRead || kind == RequestKind::kBlockWrite) {
      answer[kAnswerValueByte] = static_cast<std::uint8_t>(answer[kAnswerValueByte] + 1);
      Trace("fault badlen@" + std::to_string(number) + ": length byte " +
            std::to_string(answer[kAnswerValueByte]));
    } else {
      Trace("fault badlen@" + std::to_string(number) + ": not a block request, answer unchanged");
    }
  }
  if (Faulted(options_.shortAnswer)) {
    answer.resize(kShortAnswerLength);
    Trace("fault short@" + std::to_string(number) + ": answer cut to " + std::to_string(kShortAnswerLength) +
          " bytes");
  }
  Queue(std::move(answer));
}

bool SimBoard::AnswerBlockRead(const std::vector<std::uint8_t>& request, std::vector<std::uint8_t>& answer) {
  const std::uint16_t address = AddressAt(request, 5);
  const std::size_t length = request[7];
  if (length == 0 || length > kInputReportLength - kAnswerDataByte || address + length > eeprom_.size()) {
    Trace("block read of " + std::to_string(length) + " bytes at " + Hex(address) + " refused");
    return false;
  }
  answer[kAnswerTagByte] = request[kTagByte];
  answer[kAnswerValueByte] = static_cast<std::uint8_t>(length);
  std::copy_n(eeprom_.begin() + address, length, answer.begin() + kAnswerDataByte);
  for (const SimFlip& flip : options_.flip) {
    if (flip.address < address || flip.address >= address + length) continue;
    answer[kAnswerDataByte + (flip.address - address)] ^= static_cast<std::uint8_t>(1u << flip.bit);
    Trace("fault flip@" + Hex(flip.address) + ":" + std::to_string(flip.bit));
  }
  return true;
}

bool SimBoard::AnswerBlockWrite(const std::vector<std::uint8_t>& request, std::vector<std::uint8_t>& answer) {
  const std::uint16_t address = AddressAt(request, 5);
  const std::size_t length = request[7];
  if (length == 0 || length > kMaxWriteLength || address + length > eeprom_.size()) {
    Trace("block write of " + std::to_string(length) + " bytes at " + Hex(address) + " refused");
    return false;
  }
  answer[kAnswerTagByte] = request[kTagByte];
  answer[kAnswerValueByte] = static_cast<std::uint8_t>(length);
  if ((registers_[kWriteProtectRegister] & kWriteProtectBit) != 0) {
    Trace("write-protected: block write at " + Hex(address) + " not stored");
    return true;
  }
  for (const std::uint16_t lie : options_.lie) {
    if (lie >= address && lie < address + length) {
      Trace("fault lie@" + Hex(lie) + ": block write at " + Hex(address) + " not stored");
      return true;
    }
  }
  std::copy_n(request.begin() + kBlockDataByte, length, eeprom_.begin() + address);
  return true;
}

void SimBoard::AnswerRegister(const std::vector<std::uint8_t>& request, Unlock unlocked,
                              std::vector<std::uint8_t>& answer) {
  const std::uint16_t address = AddressAt(request, 3);
  answer[kAnswerTagByte] = request[kTagByte];
  if (request[2] == kRegisterRead) {
    answer[kAnswerValueByte] = ReadRegister(address, unlocked);
    return;
  }
  const bool identification =
      address == kChipIdRegister || address == kChipVersionHighRegister || address == kChipVersionLowRegister;
  if (!identification) {
    std::uint8_t value = request[kRegisterValueByte];
    if (address == kWriteProtectRegister && options_.wpStuck && (value & kWriteProtectBit) == 0) {
      value |= kWriteProtectBit;
      Trace("fault wp-stuck: write protect stays set");
    }
    registers_[address] = value;
  }
  answer[kAnswerValueByte] = registers_[address];
}

std::uint8_t SimBoard::ReadRegister(std::uint16_t address, Unlock unlocked) const {
  if (address == kChipIdRegister) return unlocked == Unlock::kChipId ? options_.chipId : 0;
  if (address == kChipVersionHighRegister) {
    return unlocked == Unlock::kVersionHigh ? static_cast<std::uint8_t>(options_.chipVersion >> 8) : 0;
  }
  if (address == kChipVersionLowRegister) {
    return unlocked == Unlock::kVersionLow ? static_cast<std::uint8_t>(options_.chipVersion & 0xFF) : 0;
  }
  return registers_[address];
}

SimBoard::Unlock SimBoard::StepAccessSequences(const std::vector<std::uint8_t>& request) {
  const Unlock unlocked = pendingUnlock_;
  pendingUnlock_ = Unlock::kNone;
  const bool registerRead = Classify(request) == RequestKind::kRegisterRead;
  const std::uint16_t address = registerRead ? AddressAt(request, 3) : 0;
  if (registerRead && unlocked == Unlock::kVersionHigh && address == kChipVersionHighRegister) {
    pendingUnlock_ = Unlock::kVersionLow;
  }
  const auto step = [&](const std::array<std::uint16_t, 7>& sequence, int& position) {
    if (!registerRead) {
      position = 0;
      return false;
    }
    if (address == sequence[static_cast<std::size_t>(position)]) {
      ++position;
    } else {
      position = address == sequence[0] ? 1 : 0;
    }
    if (position < static_cast<int>(sequence.size())) return false;
    position = 0;
    return true;
  };
  if (step(kChipIdAccessSequence, idStep_)) pendingUnlock_ = Unlock::kChipId;
  if (step(kChipVersionAccessSequence, versionStep_)) pendingUnlock_ = Unlock::kVersionHigh;
  return unlocked;
}

void SimBoard::Queue(std::vector<std::uint8_t> answer) {
  const std::uint64_t due = clock_.NowMicros() + MillisToMicros(options_.latencyMs);
  for (auto& [id, handle] : handles_) {
    if (!handle.forReading || handle.session != session_) continue;
    handle.answers.push_back({due, answer});
    ++handle.queued;
  }
  answered_.notify_all();
}

bool SimBoard::Faulted(const std::vector<std::uint32_t>& requests) const {
  return std::find(requests.begin(), requests.end(), requestCount_) != requests.end();
}

void SimBoard::Trace(const std::string& text) {
  if (trace_ != nullptr) trace_->Event("sim: " + text);
}

HidReadResult SimBoard::Deliver(std::uint64_t id, std::uint8_t* buffer, std::size_t capacity,
                                std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto it = handles_.find(id);
  if (it == handles_.end()) return {HidReadResult::Status::kFailed, 0};
  HandleState& handle = it->second;
  const std::uint64_t deadline = clock_.NowMicros() + MillisToMicros(timeoutMs);
  const std::uint64_t cancels = handle.cancels;
  const auto live = [&] { return session_ != 0 && handle.session == session_; };
  const auto cancelled = [&] { return handle.cancels != cancels; };

  while (!cancelled()) {
    // A vanished board fails the read at once, as hidraw (POLLHUP) and the Windows HID driver (a read
    // that ends in an error) both do; nobody waits out the time-out for a board that is gone.
    if (!live()) return {HidReadResult::Status::kFailed, 0};
    const std::uint64_t now = clock_.NowMicros();
    if (!handle.answers.empty()) {
      Answer& next = handle.answers.front();
      if (next.dueMicros <= now) {
        const std::size_t length = std::min(capacity, next.bytes.size());
        std::copy_n(next.bytes.begin(), length, buffer);
        handle.answers.pop_front();
        return {HidReadResult::Status::kCompleted, length};
      }
      if (next.dueMicros <= deadline) {
        if (virtualClock_ != nullptr) {
          virtualClock_->AdvanceTo(next.dueMicros);
        } else {
          // The answer is on its way: wait for it unless the board goes or the read is cancelled.
          const std::uint64_t session = handle.session;
          clock_.WaitFor(lock, answered_, MicrosToMillisUp(next.dueMicros - now),
                         [&] { return cancelled() || session_ != session; });
        }
        continue;
      }
    }
    if (now >= deadline) break;
    // Nothing will come before the deadline unless someone writes meanwhile. In virtual time nobody
    // can (the tool's threads take turns), so the time-out passes at once.
    if (virtualClock_ != nullptr) {
      virtualClock_->AdvanceTo(deadline);
      break;
    }
    const std::uint64_t queued = handle.queued;
    clock_.WaitFor(lock, answered_, MicrosToMillisUp(deadline - now),
                   [&] { return cancelled() || handle.queued != queued || !live(); });
  }
  return {HidReadResult::Status::kTimedOut, 0};
}

void SimBoard::CancelWrite(std::uint64_t id) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = handles_.find(id);
    if (it == handles_.end()) return;
    it->second.writesCancelled = true;
  }
  writeReleased_.notify_all();
}

bool SimBoard::WaitForHeldWrite(std::uint32_t boundMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return writeHeld_.wait_for(lock, std::chrono::milliseconds(boundMs), [this] { return heldWrites_ > 0; });
}

void SimBoard::CancelRead(std::uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = handles_.find(id);
  if (it == handles_.end()) return;
  ++it->second.cancels;
  answered_.notify_all();
}

}  // namespace kt
