#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>

#include "app/cli/job_outcome.h"
#include "app/cli/progress_meter.h"
#include "programming/dialog_window.h"

namespace kt {

enum class Verbosity { kQuiet, kNormal, kVerbose };

// The device a job opened, as stderr and --json tell it.
struct OpenedDevice {
  std::string path;
  std::string port;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t inputLength = 0;
  std::uint16_t outputLength = 0;
  std::uint8_t reportId = 0;
  // The typed IDs when they found nothing and a fallback row opened the device.
  std::optional<std::pair<std::uint16_t, std::uint16_t>> typedIdsMissed;
  bool chosenByPath = false;
};

// The opened device as `device` and `info` give it in JSON: path, port, IDs, report lengths and ID.
nlohmann::json DeviceFields(const OpenedDevice& device);

// Everything the command line tells, in one of two forms: plain lines (boxes and results on stdout,
// progress, notes and errors on stderr) or, with --json, one JSON object per line on stdout (notes and
// errors stay plain on stderr). Called on the window's thread only.
class CliOutput {
 public:
  CliOutput(std::ostream& out, std::ostream& err, bool errIsTerminal, bool json, Verbosity verbosity);

  bool json() const { return json_; }
  Verbosity verbosity() const { return verbosity_; }

  void Box(const std::string& text, const std::string& caption, MessageIcon icon);
  void Progress(int position);
  // A line of information on stderr (not with --quiet).
  void Note(const std::string& text);
  // A line on stderr that is always shown.
  void Error(const std::string& text);
  // A step of the job as it starts, `ms` after the run began (only with --verbose).
  void Phase(const std::string& name, std::int64_t ms);
  void Device(const OpenedDevice& device, bool simulated);
  // A result line of read, verify or info on stdout: `text` in plain form, `fields` with "event": `event`
  // added with --json.
  void Line(const std::string& event, const std::string& text, nlohmann::json fields);
  // The run's last line: with --json its result object.
  void Result(const JobOutcome& outcome);

 private:
  void Emit(const std::string& jsonLine);

  std::ostream& out_;
  std::ostream& err_;
  bool json_;
  Verbosity verbosity_;
  ProgressMeter progress_;
};

}  // namespace kt
