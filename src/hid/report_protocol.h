#pragma once

#include <cstddef>
#include <cstdint>

#include "base/hresult.h"
#include "hid/hid_link.h"

namespace kt {

enum class TransferDirection { kRead, kWrite };

inline constexpr int ReadTimedOut = -1;
inline constexpr std::uint32_t kInputReportTimeoutMs = 5000;
inline constexpr int kBlockReadLimit = 300;
inline constexpr int kRegisterReadLimit = 1000;
inline constexpr std::uint32_t kRegisterWritePauseMs = 10;

using ReportBuffer = std::uint8_t[kMaxReportLength];

bool TransferEepromBlock(HidLink& link, std::uint16_t address, TransferDirection direction, std::uint8_t length,
                         std::uint8_t* data, std::uint8_t tag);
bool TransferRegister(HidLink& link, std::uint8_t* value, TransferDirection direction, std::uint16_t reg,
                      std::uint8_t tag);
HResult SendEraseCommand(HidLink& link);
// A positive byte count, 0 when no read could be made or the wait failed, ReadTimedOut after 5000 ms.
int ReadInputReport(HidLink& link, ReportBuffer& buffer);

std::uint8_t AdvanceBlockTag(std::uint8_t tag);
std::uint8_t AdvanceRegisterTag(std::uint8_t tag);

}  // namespace kt
