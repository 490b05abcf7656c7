#include "app/cli/cli_output.h"

#include <cstdio>

namespace kt {
namespace {

constexpr char kProgramName[] = "kt7310-eeprom";

}  // namespace

CliOutput::CliOutput(std::ostream& out, std::ostream& err, bool errIsTerminal, bool json, Verbosity verbosity)
    : out_(out), err_(err), json_(json), verbosity_(verbosity), progress_(err, errIsTerminal) {}

void CliOutput::Emit(const std::string& jsonLine) {
  out_ << jsonLine << "\n" << std::flush;
}

void CliOutput::Box(const std::string& text, const std::string& caption, MessageIcon icon) {
  if (json_) {
    Emit(nlohmann::json{{"event", "box"},
                        {"port", nullptr},
                        {"text", text},
                        {"caption", caption},
                        {"icon", MessageIconName(icon)}}
             .dump());
    return;
  }
  progress_.Break();
  out_ << text << "\n" << std::flush;
}

void CliOutput::Progress(int position) {
  if (json_) {
    Emit(nlohmann::json{{"event", "progress"}, {"port", nullptr}, {"position", position}}.dump());
    return;
  }
  if (verbosity_ != Verbosity::kQuiet) progress_.Update(position);
}

void CliOutput::Note(const std::string& text) {
  if (verbosity_ == Verbosity::kQuiet) return;
  Error(text);
}

void CliOutput::Error(const std::string& text) {
  progress_.Break();
  err_ << kProgramName << ": " << text << "\n" << std::flush;
}

void CliOutput::Phase(const std::string& name, std::int64_t ms) {
  if (verbosity_ != Verbosity::kVerbose) return;
  if (json_) {
    Emit(nlohmann::json{{"event", "phase"}, {"phase", name}, {"ms", ms}}.dump());
    return;
  }
  char stamp[32];
  std::snprintf(stamp, sizeof(stamp), "[%lld.%03lld s] ", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  progress_.Break();
  err_ << stamp << name << "\n" << std::flush;
}

nlohmann::json DeviceFields(const OpenedDevice& device) {
  return {{"path", device.path},
          {"port", device.port},
          {"vendor_id", HexWord(device.vendorId)},
          {"product_id", HexWord(device.productId)},
          {"input_length", device.inputLength},
          {"output_length", device.outputLength},
          {"report_id", device.reportId}};
}

void CliOutput::Device(const OpenedDevice& device, bool simulated) {
  if (json_) {
    nlohmann::json object = DeviceFields(device);
    object["event"] = "device";
    object["simulated"] = simulated;
    object["typed_vendor_id"] = nullptr;
    object["typed_product_id"] = nullptr;
    if (device.typedIdsMissed) {
      object["typed_vendor_id"] = HexWord(device.typedIdsMissed->first);
      object["typed_product_id"] = HexWord(device.typedIdsMissed->second);
    }
    Emit(object.dump());
    return;
  }
  std::string text = "opened " + Hex4(device.vendorId) + ":" + Hex4(device.productId) + " at " + device.path;
  if (device.chosenByPath) text += " (--device)";
  if (device.typedIdsMissed) {
    text += ", after the typed " + Hex4(device.typedIdsMissed->first) + ":" +
            Hex4(device.typedIdsMissed->second) + " found nothing";
  }
  Note(text);
}

void CliOutput::Line(const std::string& event, const std::string& text, nlohmann::json fields) {
  if (!json_) {
    progress_.Break();
    out_ << text << "\n" << std::flush;
    return;
  }
  fields["event"] = event;
  Emit(fields.dump());
}

void CliOutput::Result(const JobOutcome& outcome) {
  progress_.Break();
  if (!json_) return;
  nlohmann::json object = OutcomeFields(outcome);
  object["event"] = "result";
  Emit(object.dump());
}

}  // namespace kt
