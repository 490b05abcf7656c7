#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/write_eeprom_dialog.h"

namespace kt {

// The last word on one run or one station board: the single command's result object, each station
// board's, and each line of the record are made of exactly these fields.
struct JobOutcome {
  std::string command;
  std::string port;  // empty when not known
  std::string path;  // the interface the job opened, empty when none
  std::optional<UsbIds> ids;
  int exitStatus = 0;
  std::optional<int> result;  // 0 or the failure's -N, when a box or the job told it
  std::string stage;
  std::string text;
  std::string imageSha256;  // empty for a command that takes no image
  std::optional<std::uint8_t> chipId;
  std::optional<std::uint32_t> chipVersion;
  std::int64_t ms = 0;
  bool simulated = false;
  std::optional<bool> recorded;  // none without a record
};

// Every field of `outcome`, by its JSON name; null for what is not known or was not read.
nlohmann::json OutcomeFields(const JobOutcome& outcome);

// The one hexadecimal style of every ID and value in --json and the record: "0x", upper-case digits,
// two for a byte and four for a 16-bit value ("0x07", "0x3B7D").
std::string HexByte(unsigned value);
std::string HexWord(std::uint32_t value);
// "3B7D": four upper-case hexadecimal digits, as the ID fields and the plain lines show them.
std::string Hex4(std::uint16_t value);

}  // namespace kt
