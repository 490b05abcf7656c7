#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kt::test {

// Random fault sets for the simulated board, as option text ("blank,silent@20,flip@0x0005:3"), so a
// failing job can be replayed from the command line as well as from its seed.
//
// Request numbers count from the board's plug-in. After an erase the board re-plugs, so on either start
// state the session that runs the job begins with the write-protect read and write (requests 1 and 2);
// the job's own requests follow from 3. The programmed start adds an erase session of two requests
// before that, which request numbers 1 and 2 hit as well.
namespace soak {

inline constexpr std::uint32_t kPreparationRequests = 2;
inline constexpr std::uint32_t kJobRequests = 4122;
inline constexpr std::uint32_t kSessionRequests = kPreparationRequests + kJobRequests;
inline constexpr std::uint32_t kFirstReadBack = kPreparationRequests + 2069;
inline constexpr std::uint32_t kTailWrite = kPreparationRequests + 4118;
inline constexpr std::uint32_t kEepromSize = 32768;
inline constexpr std::uint32_t kProgrammedLength = 16400;

enum class FaultKind {
  kSilent,
  kStray,
  kShort,
  kBadLength,
  kFlip,
  kLie,
  kUnplug,
  kChipId,
  kChipVersion,
  kWpStuck
};
inline constexpr int kFaultKinds = 10;

inline int Draw(std::mt19937& rng, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(rng);
}

// Half the positions anywhere in the session (and a little past it), the rest where the job changes
// step: preparation and identification, the header clear, the turn to the read-back, the header pieces.
inline std::uint32_t DrawRequest(std::mt19937& rng) {
  const int where = Draw(rng, 0, 9);
  if (where < 5) return static_cast<std::uint32_t>(Draw(rng, 1, kSessionRequests + 6));
  if (where < 7) return static_cast<std::uint32_t>(Draw(rng, 1, 24));
  if (where < 8) return static_cast<std::uint32_t>(Draw(rng, kFirstReadBack - 8, kFirstReadBack + 8));
  return static_cast<std::uint32_t>(Draw(rng, kTailWrite - 4, kSessionRequests + 2));
}

// Mostly inside the programmed range, with the header and both ends of the body weighted up.
inline std::uint32_t DrawAddress(std::mt19937& rng) {
  const int where = Draw(rng, 0, 9);
  if (where < 6) return static_cast<std::uint32_t>(Draw(rng, 0, kProgrammedLength - 1));
  if (where < 8) return static_cast<std::uint32_t>(Draw(rng, 0, 15));
  if (where < 9) return static_cast<std::uint32_t>(Draw(rng, kProgrammedLength - 16, kProgrammedLength + 7));
  return static_cast<std::uint32_t>(Draw(rng, 0, kEepromSize - 1));
}

inline std::string Hex(std::uint32_t value) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (int shift = 12; shift >= 0; shift -= 4) text += digits[(value >> shift) & 0xF];
  return "0x" + text;
}

inline std::string DrawFault(std::mt19937& rng, FaultKind kind) {
  switch (kind) {
    case FaultKind::kSilent:
      return "silent@" + std::to_string(DrawRequest(rng));
    case FaultKind::kStray: {
      // Mostly a few; sometimes a flood past the read limits of block (300) and register (1000) answers.
      const int size = Draw(rng, 0, 9);
      const int count = size < 7 ? Draw(rng, 1, 4) : size < 9 ? Draw(rng, 5, 50) : Draw(rng, 290, 1100);
      return "stray@" + std::to_string(DrawRequest(rng)) + ":" + std::to_string(count);
    }
    case FaultKind::kShort:
      return "short@" + std::to_string(DrawRequest(rng));
    case FaultKind::kBadLength:
      return "badlen@" + std::to_string(DrawRequest(rng));
    case FaultKind::kFlip:
      return "flip@" + Hex(DrawAddress(rng)) + ":" + std::to_string(Draw(rng, 0, 7));
    case FaultKind::kLie:
      return "lie@" + Hex(DrawAddress(rng));
    case FaultKind::kUnplug:
      return "unplug@" + std::to_string(DrawRequest(rng));
    case FaultKind::kChipId:
      return "chip-id=" + std::to_string(Draw(rng, 0, 255));
    case FaultKind::kChipVersion: {
      // Half of them differ only in the bits the check ignores.
      const int version = Draw(rng, 0, 1) == 0 ? 0x7380 | Draw(rng, 0, 15) : Draw(rng, 0, 0xFFFF);
      return "chip-version=" + Hex(static_cast<std::uint32_t>(version));
    }
    case FaultKind::kWpStuck:
      return "wp-stuck";
  }
  return {};
}

// The whole option text of one job: start state, zero to three faults, now and then a small latency.
inline std::string DrawOptions(std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> items;
  items.push_back(Draw(rng, 0, 1) == 0 ? "blank" : "programmed");
  const int size = Draw(rng, 0, 19);
  const int faults = size < 3 ? 0 : size < 13 ? 1 : size < 17 ? 2 : 3;
  for (int i = 0; i < faults; ++i) {
    items.push_back(DrawFault(rng, static_cast<FaultKind>(Draw(rng, 0, kFaultKinds - 1))));
  }
  if (Draw(rng, 0, 19) < 3) items.push_back("latency=" + std::to_string(Draw(rng, 1, 3)));
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ",") + item;
  return text;
}

}  // namespace soak
}  // namespace kt::test
