#pragma once

#include <array>
#include <cstdint>

namespace kt {

// What the KT7310 answers to, as one table for the tool and for the simulated board.

inline constexpr std::uint16_t kKtVendorId = 0x3B7D;
// A board whose EEPROM holds no valid header enumerates under this product ID.
inline constexpr std::uint16_t kBlankProductId = 0x72F7;

inline constexpr std::uint16_t kChipIdRegister = 0x00B1;
inline constexpr std::uint16_t kChipVersionHighRegister = 0x00B9;
inline constexpr std::uint16_t kChipVersionLowRegister = 0x00B8;
// Bit 0 set: EEPROM writes are acknowledged but not stored. Set again at every plug-in.
inline constexpr std::uint16_t kWriteProtectRegister = 0x0400;

inline constexpr std::uint8_t kExpectedChipId = 7;
inline constexpr std::uint16_t kChipVersion = 0x7381;

// The identification registers are hidden behind access sequences of seven register reads each
// (one-byte addresses, answers meaningless). How the chip (and the simulated board) holds them:
//
// - Every output report the chip receives is one step. A register read of the next address of a
//   sequence moves that sequence on; a register read of the sequence's first address starts it again
//   at step one; any other report (another register, a register write, an EEPROM request, the erase
//   command, an unknown report) drops it back to the start. Whether the read was answered does not
//   matter: the chip saw it.
// - Chip ID: when all seven reads of kChipIdAccessSequence came in order, the very next report, if it
//   is a read of kChipIdRegister, answers the chip ID. Any other read of kChipIdRegister answers 0.
// - Version: when all seven reads of kChipVersionAccessSequence came in order, the very next report, if
//   it is a read of kChipVersionHighRegister, answers the high byte, and the report right after that,
//   if it is a read of kChipVersionLowRegister, answers the low byte. Any other read of the two answers
//   0. Each unlock serves exactly these reads once.
inline constexpr std::array<std::uint16_t, 7> kChipIdAccessSequence = {0x0012, 0x0034, 0x0056, 0x0078,
                                                                       0x009A, 0x00BC, 0x00DE};
inline constexpr std::array<std::uint16_t, 7> kChipVersionAccessSequence = {0x00E1, 0x00C3, 0x00A5, 0x0087,
                                                                            0x0069, 0x004B, 0x002D};

}  // namespace kt
