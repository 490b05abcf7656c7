#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "hid/chip_registers.h"

namespace kt {

// How the simulated board starts and which faults it injects. Requests are the output reports the board
// receives, counted from 1 since it was last plugged in; a fault tied to request N fires in every plug
// session that reaches N.
struct SimStray {
  std::uint32_t request = 0;
  std::uint32_t count = 0;
};

struct SimFlip {
  std::uint16_t address = 0;
  std::uint8_t bit = 0;  // 0..7
};

struct SimOptions {
  enum class StartState { kProgrammed, kBlank };

  StartState start = StartState::kProgrammed;  // `programmed` (the default image) / `blank`
  std::vector<std::uint32_t> silent;           // silent@N: no answer to request N
  std::vector<SimStray> stray;                 // stray@N:K: K reports with another tag before the answer
  std::vector<std::uint32_t> shortAnswer;      // short@N: the answer is cut to 7 bytes
  std::vector<std::uint32_t> badLength;        // badlen@N: a block answer carries another length byte
  std::vector<SimFlip> flip;                   // flip@ADDR:BIT: reads of ADDR return BIT flipped
  std::vector<std::uint16_t> lie;              // lie@ADDR: writes covering ADDR are acked, not stored
  std::vector<std::uint32_t> unplug;           // unplug@N: the board disappears when request N arrives
  // hang@N: the board stops taking output reports at request N: its write does not come back until the
  // host cancels it (then it fails) or the board is unplugged.
  std::vector<std::uint32_t> hang;
  // wedge@N: as hang@N, but the write never comes back at all, cancelled or not (a driver that ignores
  // cancellation). Only a process that ends gets away from it.
  std::vector<std::uint32_t> wedge;
  std::uint8_t chipId = kExpectedChipId;     // chip-id=V
  std::uint16_t chipVersion = kChipVersion;  // chip-version=V
  bool wpStuck = false;                      // wp-stuck: bit 0 of 0x0400 cannot be cleared
  std::uint32_t latencyMs = 0;               // latency=MS: every answer comes MS ms after its request
  bool manualReplug = false;                 // manual-replug: no re-plug by itself after an erase
  // virtual-time: the run's pauses and time-outs pass in virtual time. The front-end acts on it by
  // handing the board (and everything else) a VirtualClock; the board itself uses the clock it is given.
  bool virtualTime = false;
  std::string eepromFile;  // eeprom=FILE: load the EEPROM from FILE if it exists, save it back at the end

  // A station of boards=N boards, each independent; options without a prefix apply to every board,
  // boardK.OPTION only to board K (1..N). The items are kept as text for SimOptionsForBoard.
  std::uint32_t boards = 1;
  std::string sharedItems;
  std::map<std::uint32_t, std::string> boardItems;
};

// Board K's own options (1..boards): the shared ones, then its own on top.
SimOptions SimOptionsForBoard(const SimOptions& station, std::uint32_t board);

// Parses a comma-separated option list (spaces around items are ignored; empty text gives the defaults).
// Numbers are decimal, or hexadecimal with a 0x prefix. Options may repeat; for the value options the
// last one counts. On failure returns false with a message naming the offending option and leaves `out`
// unchanged.
bool ParseSimOptions(std::string_view text, SimOptions& out, std::string& error);

}  // namespace kt
