#include "hid/sim/sim_enumeration.h"

#include <algorithm>
#include <string_view>

#include "hid/chip_registers.h"

namespace kt {
namespace {

constexpr std::size_t kHeaderLength = 8;
constexpr std::string_view kHighSpeedDescriptorTag = "KTHsDTag";
constexpr std::size_t kIdProductOffset = 10;

}  // namespace

std::uint16_t EnumeratedProductId(std::span<const std::uint8_t> eeprom) {
  if (eeprom.size() < kHeaderLength) return kBlankProductId;
  const auto header = eeprom.first(kHeaderLength);
  const auto all = [&](std::uint8_t value) {
    return std::all_of(header.begin(), header.end(), [value](std::uint8_t b) { return b == value; });
  };
  if (all(0x00) || all(0xFF)) return kBlankProductId;

  const auto tag = std::search(eeprom.begin(), eeprom.end(), kHighSpeedDescriptorTag.begin(),
                               kHighSpeedDescriptorTag.end(),
                               [](std::uint8_t b, char c) { return b == static_cast<std::uint8_t>(c); });
  if (tag == eeprom.end()) return kBlankProductId;
  const std::size_t idProduct =
      static_cast<std::size_t>(tag - eeprom.begin()) + kHighSpeedDescriptorTag.size() + kIdProductOffset;
  if (idProduct + 2 > eeprom.size()) return kBlankProductId;
  return static_cast<std::uint16_t>(eeprom[idProduct] | (eeprom[idProduct + 1] << 8));
}

}  // namespace kt
