// Feeds arbitrary input reports to the block and register transfers: answers come from whatever device
// is plugged in, and a broken or hostile one may send anything, of any length, in any number.
//
// Input layout:
//   byte 0, 1   input report length the device declares (little-endian, any value)
//   byte 2      output report length the device declares
//   byte 3      report ID
//   byte 4      number of transfers, 1..8 (low three bits + 1)
//   then 5 bytes per transfer: kind (bit 0 write, bit 1 register, bit 2 plain input read), address
//   (2 bytes), length, tag
//   the rest    the input reports, each: status byte (low two bits: 0/1 completed, 2 timed out, 3
//               failed; bit 2: report a byte count of its own), [reported count], length, bytes
// When the reports run out every further read times out, as a silent device's would.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "base/clock.h"
#include "hid/hid_link.h"
#include "hid/report_protocol.h"

namespace {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  std::uint8_t Next() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::size_t Take(std::size_t wanted, const std::uint8_t*& at) {
    at = data_ + pos_;
    const std::size_t n = std::min(wanted, size_ - pos_);
    pos_ += n;
    return n;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

struct Received {
  std::vector<std::uint8_t> bytes;  // what the caller's buffer showed of the report
  std::size_t count = 0;            // what the read said it got
};

// Reads hand out the next report of the input; writes are recorded.
class FuzzHandle final : public kt::HidDeviceHandle {
 public:
  explicit FuzzHandle(ByteReader& reports) : reports_(reports) {}

  bool GetAttributes(kt::HidAttributes&) override { return false; }
  bool GetCaps(kt::HidCaps&) override { return false; }
  bool WriteReport(const std::uint8_t* data, std::size_t length, std::size_t& written) override {
    // Touch every byte the caller claims to hand over, so a short buffer shows up under ASan.
    std::vector<std::uint8_t> copy(data, data + length);
    written = copy.size();
    lastWriteLength = length;
    ++writes;
    return true;
  }
  kt::HidReadResult ReadReport(std::uint8_t* buffer, std::size_t capacity, std::uint32_t) override {
    ++reads;
    if (reports_.Empty()) return {kt::HidReadResult::Status::kTimedOut, 0};
    const std::uint8_t status = reports_.Next();
    const std::uint8_t reported = (status & 4) != 0 ? reports_.Next() : 0;
    const std::uint8_t length = reports_.Next();
    const std::uint8_t* bytes = nullptr;
    const std::size_t available = reports_.Take(length, bytes);
    switch (status & 3) {
      case 2:
        return {kt::HidReadResult::Status::kTimedOut, 0};
      case 3:
        return {kt::HidReadResult::Status::kFailed, 0};
      default:
        break;
    }
    // A backend never writes past `capacity`; the count it reports may still be anything.
    const std::size_t copied = std::min(available, capacity);
    std::memcpy(buffer, bytes, copied);
    Received r;
    r.count = (status & 4) != 0 ? reported : copied;
    // What the caller may look at: a count of 0 stands for a whole report (a read that was pending when
    // it started), and what the backend did not fill is whatever the caller left in its buffer.
    const std::size_t visible = r.count == 0 ? capacity : std::min(r.count, capacity);
    r.bytes.assign(buffer, buffer + visible);
    received.push_back(r);
    return {kt::HidReadResult::Status::kCompleted, r.count};
  }
  void CancelRead() override {}
  void CancelWrite() override {}

  std::vector<Received> received;
  std::size_t reads = 0;
  std::size_t writes = 0;
  std::size_t lastWriteLength = 0;

 private:
  ByteReader& reports_;
};

// A read that succeeded must have copied the data of one answer that carried its tag and length.
bool FromSomeAnswer(const std::vector<Received>& received, std::uint8_t tag, const std::uint8_t* data,
                    std::size_t length) {
  return std::any_of(received.begin(), received.end(), [&](const Received& r) {
    return r.bytes.size() >= 9 + length && r.bytes[7] == tag && r.bytes[8] == length &&
           std::equal(data, data + length, r.bytes.begin() + 9);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kt::VirtualClock clock;
  if (size < 5) return 0;
  ByteReader header(data, size);
  const std::uint16_t inputLength = static_cast<std::uint16_t>(header.Next() | (header.Next() << 8));
  const std::uint8_t outputLength = header.Next();
  const std::uint8_t reportId = header.Next();
  const int transfers = (header.Next() & 7) + 1;
  struct Op {
    std::uint8_t kind, length, tag;
    std::uint16_t address;
  };
  std::vector<Op> ops;
  for (int i = 0; i < transfers; ++i) {
    Op op{};
    op.kind = header.Next();
    op.address = static_cast<std::uint16_t>(header.Next() << 8 | header.Next());
    op.length = header.Next();
    op.tag = header.Next();
    ops.push_back(op);
  }
  const std::size_t used = std::min<std::size_t>(size, 5 + 5 * static_cast<std::size_t>(transfers));
  ByteReader reports(data + used, size - used);

  kt::HidLink link;
  link.clock = &clock;
  auto write = std::make_unique<FuzzHandle>(reports);
  auto read = std::make_unique<FuzzHandle>(reports);
  FuzzHandle& reader = *read;
  FuzzHandle& writer = *write;
  link.writeHandle = std::move(write);
  link.readHandle = std::move(read);
  link.inputReportLength = inputLength;
  link.outputReportLength = outputLength;
  link.reportId = reportId;
  link.deviceOpen = true;

  for (const Op& op : ops) {
    reader.received.clear();
    const std::size_t readsBefore = reader.reads;
    const std::size_t writesBefore = writer.writes;
    const auto direction = (op.kind & 1) != 0 ? kt::TransferDirection::kWrite : kt::TransferDirection::kRead;
    if ((op.kind & 4) != 0) {
      kt::ReportBuffer buffer;
      const int n = kt::ReadInputReport(link, buffer);
      if (n != kt::ReadTimedOut && (n < 0 || n > static_cast<int>(kt::kMaxReportLength))) __builtin_trap();
      if (n > inputLength) __builtin_trap();
    } else if ((op.kind & 2) != 0) {
      // Exactly one byte: a transfer that stores more shows up under ASan.
      auto value = std::make_unique<std::uint8_t>(op.length);
      const bool ok = kt::TransferRegister(link, value.get(), direction, op.address, op.tag);
      if (reader.reads - readsBefore > static_cast<std::size_t>(kt::kRegisterReadLimit)) __builtin_trap();
      if (ok && direction == kt::TransferDirection::kRead) {
        const bool seen = std::any_of(reader.received.begin(), reader.received.end(), [&](const Received& r) {
          return r.bytes.size() >= 9 && r.bytes[7] == op.tag && r.bytes[8] == *value;
        });
        if (!seen) __builtin_trap();
      }
    } else {
      // Exactly `length` bytes, so a transfer that copies more than it was asked to is caught.
      std::vector<std::uint8_t> buffer(op.length);
      std::uint8_t* target = buffer.empty() ? nullptr : buffer.data();
      std::uint8_t none = 0;
      const bool ok = kt::TransferEepromBlock(link, op.address, direction, op.length,
                                              target != nullptr ? target : &none, op.tag);
      if (reader.reads - readsBefore > static_cast<std::size_t>(kt::kBlockReadLimit)) __builtin_trap();
      if (ok && direction == kt::TransferDirection::kRead &&
          !FromSomeAnswer(reader.received, op.tag, target != nullptr ? target : &none, op.length)) {
        __builtin_trap();
      }
    }
    if (writer.writes != writesBefore &&
        writer.lastWriteLength != std::min<std::size_t>(outputLength, kt::kMaxReportLength)) {
      __builtin_trap();
    }
  }
  kt::SendEraseCommand(link);
  return 0;
}
