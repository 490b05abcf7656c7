#include "app/cli/job_outcome.h"

#include <cstdio>

namespace kt {
namespace {

nlohmann::json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

template <typename T, typename Show>
nlohmann::json ValueOrNull(const std::optional<T>& value, Show show) {
  return value ? nlohmann::json(show(*value)) : nlohmann::json(nullptr);
}

}  // namespace

std::string HexByte(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", value & 0xFFu);
  return text;
}

std::string HexWord(std::uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof(text), "0x%04X", static_cast<unsigned>(value & 0xFFFFu));
  return text;
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof(text), "%04X", static_cast<unsigned>(value));
  return text;
}

nlohmann::json OutcomeFields(const JobOutcome& outcome) {
  const auto vendor = [](const UsbIds& ids) { return HexWord(ids.vendorId); };
  const auto product = [](const UsbIds& ids) { return HexWord(ids.productId); };
  return {
      {"command", outcome.command},
      {"port", TextOrNull(outcome.port)},
      {"path", TextOrNull(outcome.path)},
      {"vendor_id", ValueOrNull(outcome.ids, vendor)},
      {"product_id", ValueOrNull(outcome.ids, product)},
      {"exit_status", outcome.exitStatus},
      {"result", ValueOrNull(outcome.result, [](int n) { return n; })},
      {"stage", outcome.stage},
      {"text", outcome.text},
      {"image_sha256", TextOrNull(outcome.imageSha256)},
      {"chip_id", ValueOrNull(outcome.chipId, [](std::uint8_t v) { return HexByte(v); })},
      {"chip_version", ValueOrNull(outcome.chipVersion, [](std::uint32_t v) { return HexWord(v); })},
      {"ms", outcome.ms},
      {"simulated", outcome.simulated},
      {"recorded", ValueOrNull(outcome.recorded, [](bool b) { return b; })},
  };
}

}  // namespace kt
