#include "app/station_window/station_texts.h"

namespace kt {

std::string ImageLine(const StationHeader& header) {
  return "Image: " + header.image + (header.evbIds ? " (EVB IDs)" : "") + "  SHA-256 " + header.sha12 +
         "  firmware " + header.firmware;
}

std::string RecordLine(const StationHeader& header) {
  return "Record: " + header.record;
}

std::string CountsLine(const StationHeader& header) {
  std::string line = "Succeeded: " + std::to_string(header.succeeded) + "  Failed: " + std::to_string(header.failed);
  if (header.notRecorded > 0) line += "  Not recorded: " + std::to_string(header.notRecorded);
  return line;
}

std::string TileText(const Tile& tile) {
  return tile.label + "\n" + tile.text;
}

std::string ExitQuestion(int running) {
  return std::to_string(running) + (running == 1 ? " board is" : " boards are") +
         " being written. Stop " + (running == 1 ? "it" : "them") +
         " and exit?\n\nA board stopped is not written: write it again.";
}

std::string StationEndedText(const std::string& errors, const StationHeader& header, int status) {
  std::string why = errors.empty() ? header.message : errors;
  return why + (why.empty() ? "" : "\n\n") + "The station ended with exit status " + std::to_string(status) +
         ".";
}

std::string SlotsRefusedText(const std::string& reason) { return "--slots " + reason; }

Rgb TileColour(TileState state) {
  switch (state) {
    case TileState::kEmpty:
      return {0xC8, 0xC8, 0xC8};
    case TileState::kWriting:
    case TileState::kReplug:
      return {0x9C, 0xC3, 0xE6};
    case TileState::kOk:
      return {0x3C, 0xB0, 0x4A};
    case TileState::kFailed:
    case TileState::kNotRecorded:
    case TileState::kStuck:
      break;
  }
  return {0xE0, 0x3C, 0x31};
}

}  // namespace kt
