#include "hid/sim/sim_enumeration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/chip_registers.h"

namespace kt {
namespace {

std::vector<std::uint8_t> WithDescriptorAt(std::size_t size, std::size_t at, std::uint16_t productId) {
  std::vector<std::uint8_t> eeprom(size, 0);
  eeprom[0] = 0x4B;  // any header that is neither all 0x00 nor all 0xFF
  const std::string tag = "KTHsDTag";
  std::copy(tag.begin(), tag.end(), eeprom.begin() + static_cast<std::ptrdiff_t>(at));
  if (at + 8 + 12 <= size) {
    eeprom[at + 8 + 10] = static_cast<std::uint8_t>(productId);
    eeprom[at + 8 + 11] = static_cast<std::uint8_t>(productId >> 8);
  }
  return eeprom;
}

TEST(SimEnumerationTest, ProgrammedHeaderEnumeratesUnderTheDescriptorsProductId) {
  EXPECT_EQ(EnumeratedProductId(WithDescriptorAt(4096, 4000, 0x7300)), 0x7300);
}

TEST(SimEnumerationTest, BlankWhenHeaderErasedOrTagMissingOrDescriptorCutOff) {
  std::vector<std::uint8_t> eeprom = WithDescriptorAt(4096, 100, 0x7310);
  std::fill(eeprom.begin(), eeprom.begin() + 8, 0x00);
  EXPECT_EQ(EnumeratedProductId(eeprom), kBlankProductId);
  std::fill(eeprom.begin(), eeprom.begin() + 8, 0xFF);
  EXPECT_EQ(EnumeratedProductId(eeprom), kBlankProductId);
  eeprom[3] = 0x12;  // header now valid
  EXPECT_EQ(EnumeratedProductId(eeprom), 0x7310);

  std::vector<std::uint8_t> noTag(4096, 0x5A);
  EXPECT_EQ(EnumeratedProductId(noTag), kBlankProductId);
  EXPECT_EQ(EnumeratedProductId(WithDescriptorAt(4096, 4096 - 15, 0x7310)), kBlankProductId);
  EXPECT_EQ(EnumeratedProductId({}), kBlankProductId);
}

}  // namespace
}  // namespace kt
