#pragma once

#include <string>
#include <vector>

#include "app/station_window/station_tiles.h"

namespace kt {

// The most ports a station window shows.
inline constexpr std::size_t kMaxSlots = 64;

// --slots FILE: one slot a line, `PORT LABEL` (the label is the rest of the line); blank lines and lines
// starting with '#' are skipped. False with `error` (the file, the line and what is wrong) for a line
// without a label, a port named twice, more than kMaxSlots slots, or a file that is not a small regular
// file.
bool ReadSlotsFile(const std::string& path, std::vector<Slot>& slots, std::string& error);
bool ParseSlots(const std::string& text, std::vector<Slot>& slots, std::string& error);

}  // namespace kt
