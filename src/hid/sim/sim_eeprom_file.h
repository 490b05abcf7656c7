#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kt {

enum class EepromFileLoad { kLoaded, kMissing, kFailed };

// Reads a saved EEPROM, which must be exactly `size` bytes long (anything else is refused, so a wrong
// file is never half-loaded).
EepromFileLoad LoadEepromFile(const std::string& path, std::size_t size, std::vector<std::uint8_t>& out,
                              std::string& error);
// Writes beside the file and renames over it, so that a failed save never leaves a truncated EEPROM.
bool SaveEepromFile(const std::string& path, const std::vector<std::uint8_t>& eeprom, std::string& error);

}  // namespace kt
