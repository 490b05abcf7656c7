#include "hid/report_protocol.h"

#include <algorithm>
#include <cstring>

namespace kt {
namespace {

// Request opcodes as the chip knows them.
constexpr std::uint8_t kBlockReadCommand[] = {0x12, 0xE4, 0xA0};
constexpr std::uint8_t kBlockWriteCommand[] = {0x11, 0xA0, 0xA0};
constexpr std::uint8_t kRegisterRead = 0x22;
constexpr std::uint8_t kRegisterWrite = 0x21;
constexpr std::uint8_t kEraseCommand[] = {0xF5, 0xAB, 0xCD};

// Answers echo the request's tag here; block read answers carry the length next and the data after it.
constexpr int kAnswerTagOffset = 7;
constexpr int kAnswerValueOffset = 8;
constexpr int kAnswerDataOffset = 9;
constexpr int kRequestDataOffset = 8;
constexpr std::uint8_t kMaxBlockWriteLength = 8;
// A block answer is looked at only from this length on, whatever the direction.
constexpr int kMinBlockAnswerLength = 10;
constexpr int kMinRegisterAnswerLength = kAnswerTagOffset + 1;

std::uint8_t HighByte(std::uint16_t value) {
  return static_cast<std::uint8_t>(value >> 8);
}
std::uint8_t LowByte(std::uint16_t value) {
  return static_cast<std::uint8_t>(value & 0xFF);
}

bool CanWrite(const HidLink& link) {
  return link.writeHandle && link.outputReportLength != 0;
}

std::size_t OutputLength(const HidLink& link) {
  return std::min<std::size_t>(link.outputReportLength, kMaxReportLength);
}

// The write's own result is not looked at: a request that did not go out shows up as a missing answer.
void WriteRequest(HidLink& link, const ReportBuffer& request) {
  if (!CanWrite(link)) return;
  std::size_t written = 0;
  link.writeHandle->WriteReport(request, OutputLength(link), written);
}

// Reads input reports until `matches` accepts one (true), a read times out or `limit` reads have passed
// (false). The whole answer buffer is cleared before each read so that a short report can never be
// matched on bytes an earlier one left behind.
template <typename Matches>
bool AwaitAnswer(HidLink& link, int limit, ReportBuffer& answer, Matches matches) {
  for (int attempt = 0; attempt < limit; ++attempt) {
    std::memset(answer, 0, sizeof(answer));
    const int received = ReadInputReport(link, answer);
    if (received == ReadTimedOut) return false;
    if (matches(received)) return true;
  }
  return false;
}

}  // namespace

bool TransferEepromBlock(HidLink& link, std::uint16_t address, TransferDirection direction,
                         std::uint8_t length, std::uint8_t* data, std::uint8_t tag) {
  const bool reading = direction == TransferDirection::kRead;
  if (data == nullptr) return false;
  // A read's data comes back from offset 9, so it has to fit in both the device's input report and our
  // buffer; a write carries at most 8 data bytes and at least one.
  if (reading && (kAnswerDataOffset + length > link.inputReportLength ||
                  kAnswerDataOffset + length > static_cast<int>(kMaxReportLength))) {
    return false;
  }
  if (!reading && (length == 0 || length > kMaxBlockWriteLength)) return false;

  ReportBuffer request = {};
  request[0] = link.reportId;
  request[1] = tag;
  std::memcpy(request + 2, reading ? kBlockReadCommand : kBlockWriteCommand, sizeof(kBlockReadCommand));
  request[5] = HighByte(address);
  request[6] = LowByte(address);
  request[7] = length;
  if (!reading) std::memcpy(request + kRequestDataOffset, data, length);
  WriteRequest(link, request);

  ReportBuffer answer;
  return AwaitAnswer(link, kBlockReadLimit, answer, [&](int received) {
    if (received < kMinBlockAnswerLength || answer[kAnswerTagOffset] != tag) return false;
    if (!reading) return true;  // the length byte of a write answer means nothing
    if (answer[kAnswerValueOffset] != length || received < kAnswerDataOffset + length) return false;
    std::memcpy(data, answer + kAnswerDataOffset, length);
    return true;
  });
}

bool TransferRegister(HidLink& link, std::uint8_t* value, TransferDirection direction, std::uint16_t reg,
                      std::uint8_t tag) {
  if (value == nullptr) return false;
  const bool reading = direction == TransferDirection::kRead;
  if (reading) *value = 0;

  ReportBuffer request = {};
  request[0] = link.reportId;
  request[1] = tag;
  request[2] = reading ? kRegisterRead : kRegisterWrite;
  request[3] = HighByte(reg);
  request[4] = LowByte(reg);
  request[5] = *value;
  WriteRequest(link, request);

  ReportBuffer answer;
  return AwaitAnswer(link, kRegisterReadLimit, answer, [&](int received) {
    if (received < kMinRegisterAnswerLength || answer[kAnswerTagOffset] != tag) return false;
    if (reading) {
      // An 8-byte answer ends before the value byte; taking it anyway would hand back a made-up value.
      if (received <= kAnswerValueOffset) return false;
      *value = answer[kAnswerValueOffset];
    } else {
      // The chip needs a moment after a register write before it takes the next request.
      Clock& clock = link.clock != nullptr ? *link.clock : SystemClock();
      clock.Sleep(kRegisterWritePauseMs);
    }
    return true;
  });
}

HResult SendEraseCommand(HidLink& link) {
  ReportBuffer request = {};
  request[0] = link.reportId;
  std::memcpy(request + 1, kEraseCommand, sizeof(kEraseCommand));
  if (!CanWrite(link)) return kEFail;
  std::size_t written = 0;
  const bool ok = link.writeHandle->WriteReport(request, OutputLength(link), written);
  return ok && written != 0 ? kSOk : kEFail;
}

int ReadInputReport(HidLink& link, ReportBuffer& buffer) {
  if (!link.readHandle || link.inputReportLength == 0) return 0;
  const std::size_t capacity = std::min<std::size_t>(link.inputReportLength, kMaxReportLength);
  // The backend cancels a timed-out read and waits for it, so nothing writes into `buffer` after this.
  const HidReadResult result = link.readHandle->ReadReport(buffer, capacity, kInputReportTimeoutMs);
  switch (result.status) {
    case HidReadResult::Status::kCompleted:
      // A count of 0 means the read was still pending when it was started; the report then fills the
      // whole input report length.
      if (result.byteCount == 0) return static_cast<int>(capacity);
      return static_cast<int>(std::min(result.byteCount, capacity));
    case HidReadResult::Status::kTimedOut:
      return ReadTimedOut;
    case HidReadResult::Status::kFailed:
      break;
  }
  return 0;
}

std::uint8_t AdvanceBlockTag(std::uint8_t tag) {
  return tag < 252 ? static_cast<std::uint8_t>(tag + 1) : 1;
}

std::uint8_t AdvanceRegisterTag(std::uint8_t tag) {
  return tag < 240 ? static_cast<std::uint8_t>(tag + 1) : 1;
}

}  // namespace kt
