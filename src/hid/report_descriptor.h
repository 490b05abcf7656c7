#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hid/hid_backend.h"

namespace kt {

// A HID report descriptor reduced to what the tool needs: the size of every report and the value
// capabilities, the same figures Windows' HidP_GetCaps and HidP_GetValueCaps give for the device. The
// Linux backend only has the raw descriptor bytes from the kernel, so it computes them here.

enum class HidReportType : std::uint8_t { kInput, kOutput, kFeature };

// Hard limits. A descriptor beyond any of them is refused rather than half understood: the bytes come
// from the device, and a hostile or broken one must not make the tool allocate or loop without bound.
inline constexpr std::size_t kMaxReportDescriptorBytes = 4096;  // the kernel's HID_MAX_DESCRIPTOR_SIZE
inline constexpr std::size_t kMaxCollectionDepth = 32;
inline constexpr std::size_t kMaxPushDepth = 16;
inline constexpr std::size_t kMaxMainItems = 1024;
inline constexpr std::size_t kMaxUsagesPerMainItem = 1024;
// Report byte lengths are 16-bit in HidP_GetCaps, and they include the report-ID byte.
inline constexpr std::uint64_t kMaxReportBits = (UINT64_C(0xFFFF) - 1) * 8;

// One report: its type, ID (0 when the device declares no IDs) and length in bits, ID byte excluded.
struct HidReportLayout {
  HidReportType type = HidReportType::kInput;
  std::uint8_t reportId = 0;
  std::uint64_t bits = 0;

  std::uint16_t ByteLength() const;  // whole bytes, rounded up, plus the report-ID byte
};

struct ReportDescriptorInfo {
  bool usesReportIds = false;
  std::vector<HidReportLayout> reports;  // in order of first appearance
  // Value capabilities per report type, in the order of the descriptor's main items.
  std::vector<HidValueCaps> inputValueCaps;
  std::vector<HidValueCaps> outputValueCaps;
  std::vector<HidValueCaps> featureValueCaps;

  // Length of the largest report of that type including the report-ID byte; 0 when there is none.
  std::uint16_t ReportByteLength(HidReportType type) const;
  HidCaps ToHidCaps() const;
};

// Parses `size` bytes. On failure returns false with a short reason in `error` ("truncated item at
// byte 12", ...) and leaves `out` unspecified. Never reads outside the given bytes.
//
// Value or button: like Windows, a main item yields value capabilities when it is a Variable (not Array)
// data item with a report size above 1 bit; 1-bit variables and arrays are buttons, constant items are
// padding and yield nothing. A value item yields one capability per usage it lists (the last usage
// repeats for the remaining count, as HID says, and adds no capability of its own), one for a usage range,
// and one on the current usage page when it lists no usage at all.
bool ParseReportDescriptor(const std::uint8_t* data, std::size_t size, ReportDescriptorInfo& out,
                           std::string& error);

}  // namespace kt
