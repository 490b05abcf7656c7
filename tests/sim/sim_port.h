#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "hid/sim/sim_board.h"

namespace kt::test {

// Raw requests, built byte by byte as the chip expects them, so the board is tested on its own.
inline std::vector<std::uint8_t> EmptyRequest() {
  return std::vector<std::uint8_t>(SimBoard::kOutputReportLength, 0);
}

inline std::vector<std::uint8_t> BlockReadRequest(std::uint8_t tag, std::uint16_t address,
                                                  std::uint8_t length) {
  std::vector<std::uint8_t> r = EmptyRequest();
  r[1] = tag;
  r[2] = 0x12;
  r[3] = 0xE4;
  r[4] = 0xA0;
  r[5] = static_cast<std::uint8_t>(address >> 8);
  r[6] = static_cast<std::uint8_t>(address);
  r[7] = length;
  return r;
}

inline std::vector<std::uint8_t> BlockWriteRequest(std::uint8_t tag, std::uint16_t address,
                                                   const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> r = BlockReadRequest(tag, address, static_cast<std::uint8_t>(data.size()));
  r[2] = 0x11;
  r[3] = 0xA0;
  for (std::size_t i = 0; i < data.size() && 8 + i < r.size(); ++i) r[8 + i] = data[i];
  return r;
}

inline std::vector<std::uint8_t> RegisterRequest(std::uint8_t tag, std::uint16_t reg, bool write = false,
                                                 std::uint8_t value = 0) {
  std::vector<std::uint8_t> r = EmptyRequest();
  r[1] = tag;
  r[2] = write ? 0x21 : 0x22;
  r[3] = static_cast<std::uint8_t>(reg >> 8);
  r[4] = static_cast<std::uint8_t>(reg);
  r[5] = value;
  return r;
}

inline std::vector<std::uint8_t> EraseRequest() {
  std::vector<std::uint8_t> r = EmptyRequest();
  r[1] = 0xF5;
  r[2] = 0xAB;
  r[3] = 0xCD;
  return r;
}

// A write handle and a read handle on the simulated board, as the device link holds them.
class SimPort {
 public:
  explicit SimPort(HidBackend& backend)
      : write_(backend.Open(SimBackend::kDevicePath, HidOpenMode::kPlain)),
        read_(backend.Open(SimBackend::kDevicePath, HidOpenMode::kOverlappedRead)) {}

  bool open() const { return write_ && read_; }

  bool Send(const std::vector<std::uint8_t>& report) {
    std::size_t written = 0;
    return write_->WriteReport(report.data(), report.size(), written) && written == report.size();
  }

  // The next input report, or nothing when the read timed out.
  std::optional<std::vector<std::uint8_t>> Receive(std::uint32_t timeoutMs = 5000) {
    std::vector<std::uint8_t> buffer(64, 0);
    const HidReadResult result = read_->ReadReport(buffer.data(), buffer.size(), timeoutMs);
    if (result.status != HidReadResult::Status::kCompleted) return std::nullopt;
    buffer.resize(result.byteCount);
    return buffer;
  }

  // Sends and expects an answer echoing the request's tag.
  std::vector<std::uint8_t> Exchange(const std::vector<std::uint8_t>& request) {
    EXPECT_TRUE(Send(request));
    std::optional<std::vector<std::uint8_t>> answer = Receive();
    if (!answer) {
      ADD_FAILURE() << "no answer";
      return std::vector<std::uint8_t>(SimBoard::kInputReportLength, 0);
    }
    EXPECT_EQ((*answer)[7], request[1]);
    return *answer;
  }

  void CancelWrite() { write_->CancelWrite(); }

  void Close() {
    write_.reset();
    read_.reset();
  }

 private:
  std::unique_ptr<HidDeviceHandle> write_;
  std::unique_ptr<HidDeviceHandle> read_;
};

}  // namespace kt::test
