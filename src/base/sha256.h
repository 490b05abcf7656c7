#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kt {

// The SHA-256 of `length` bytes as 64 lower-case hexadecimal digits; empty when the system's hash
// cannot be had. The platform's own implementation does the work (libcrypto on Linux, CNG on Windows).
std::string Sha256Hex(const std::uint8_t* data, std::size_t length);

}  // namespace kt
