#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kt {

// Bytes as lower-case hexadecimal digits, two per byte, nothing between them.
inline std::string HexText(const unsigned char* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

}  // namespace kt
