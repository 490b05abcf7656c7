// Every line a command prints under --json, and every line of a station's record, against the schema
// README.md gives: each object parses, has exactly its event's fields, and each field its type.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_run.h"

namespace kt {
namespace {

// s text, i integer, b true/false, h2/h4 "0x" and 2/4 upper-case hex digits; "?" after it: or null.
using Fields = std::map<std::string, std::string>;

const Fields kResultFields = {
    {"command", "s"},      {"port", "s?"},         {"path", "s?"},     {"vendor_id", "h4?"},
    {"product_id", "h4?"}, {"exit_status", "i"},   {"result", "i?"},   {"stage", "s"},
    {"text", "s"},         {"image_sha256", "s?"}, {"chip_id", "h2?"}, {"chip_version", "h4?"},
    {"ms", "i"},           {"simulated", "b"},     {"recorded", "b?"}};

Fields WithEvent(Fields fields) {
  fields["event"] = "s";
  return fields;
}

const std::map<std::string, Fields> kSchema = {
    {"box", WithEvent({{"port", "s?"}, {"text", "s"}, {"caption", "s"}, {"icon", "s"}})},
    {"progress", WithEvent({{"port", "s?"}, {"position", "i"}})},
    {"phase", WithEvent({{"phase", "s"}, {"ms", "i"}})},
    {"device", WithEvent({{"path", "s"},
                          {"port", "s"},
                          {"vendor_id", "h4"},
                          {"product_id", "h4"},
                          {"input_length", "i"},
                          {"output_length", "i"},
                          {"report_id", "i"},
                          {"simulated", "b"},
                          {"typed_vendor_id", "h4?"},
                          {"typed_product_id", "h4?"}})},
    {"interface", WithEvent({{"path", "s"},
                             {"port", "s"},
                             {"vendor_id", "h4?"},
                             {"product_id", "h4?"},
                             {"input_length", "i?"},
                             {"output_length", "i?"},
                             {"report_id", "i?"},
                             {"problem", "s?"}})},
    {"probe", WithEvent({{"found", "b"}})},
    {"read", WithEvent({{"bytes", "i"}, {"file", "s"}, {"sha256", "s"}})},
    {"verify",
     WithEvent(
         {{"bytes_differ", "i"}, {"first_address", "h4?"}, {"board_byte", "h2?"}, {"image_byte", "h2?"}})},
    {"info", WithEvent({{"path", "s"},
                        {"port", "s"},
                        {"vendor_id", "h4"},
                        {"product_id", "h4"},
                        {"input_length", "i"},
                        {"output_length", "i"},
                        {"report_id", "i"},
                        {"chip_id", "h2"},
                        {"chip_version", "h4"},
                        {"image_firmware", "h4?"},
                        {"expected_firmware", "h4"}})},
    {"result", WithEvent(kResultFields)},
    {"explain",
     WithEvent({{"number", "i"}, {"box", "s?"}, {"exit_status", "i"}, {"step", "s"}, {"next", "s"}})},
    {"summary",
     WithEvent({{"succeeded", "i"}, {"failed", "i"}, {"not_recorded", "i"}, {"exit_status", "i"}})},
};

// A record line: a result's fields without "recorded", with the time and the tool's version.
Fields RecordFields() {
  Fields fields = kResultFields;
  fields.erase("recorded");
  fields["time"] = "s";
  fields["tool_version"] = "s";
  return fields;
}

std::string TypeError(const nlohmann::json& value, std::string type) {
  if (type.ends_with("?")) {
    if (value.is_null()) return "";
    type.pop_back();
  }
  bool ok = false;
  if (type == "s") ok = value.is_string();
  if (type == "i") ok = value.is_number_integer();
  if (type == "b") ok = value.is_boolean();
  if (type == "h2" || type == "h4") {
    ok = value.is_string() &&
         std::regex_match(value.get<std::string>(), std::regex("0x[0-9A-F]{" + type.substr(1) + "}"));
  }
  return ok ? "" : "is " + value.dump() + ", not " + type;
}

// Every problem of one line against `fields`, empty when it fits.
std::string Check(const std::string& line, const Fields* fields) {
  const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
  if (object.is_discarded() || !object.is_object()) return "not a JSON object";
  if (fields == nullptr) {
    const auto event = kSchema.find(object.value("event", ""));
    if (event == kSchema.end()) return "unknown event";
    fields = &event->second;
  }
  std::string problems;
  for (const auto& [name, value] : object.items()) {
    const auto field = fields->find(name);
    if (field == fields->end()) {
      problems += " extra field " + name + ";";
    } else if (const std::string error = TypeError(value, field->second); !error.empty()) {
      problems += " " + name + " " + error + ";";
    }
  }
  for (const auto& [name, type] : *fields) {
    if (!object.contains(name)) problems += " missing " + name + ";";
  }
  return problems;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(JsonSchemaTest, EveryLineOfEveryCommandFitsTheSchema) {
  const std::string dump = test::TempPath("schema-dump.bin");
  const std::string record = test::TempPath("schema-record.jsonl");
  const struct {
    std::vector<std::string> args;
    int status;
    std::set<std::string> events;  // at least these
  } rows[] = {
      {{"write", "--simulate=blank,virtual-time", "-v"}, 0, {"phase", "device", "progress", "box", "result"}},
      {{"write", "--yes", "--simulate=virtual-time", "--vid", "1234"}, 0, {"box", "device", "result"}},
      {{"write", "--simulate=blank,virtual-time,chip-id=5"}, 2, {"box", "result"}},
      {{"write", "--simulate=virtual-time", "--device", "sim:none"}, 22, {"box", "result"}},
      {{"erase", "--yes", "--simulate=virtual-time"}, 0, {"box", "result"}},
      {{"read", "--simulate=virtual-time", "--output", dump}, 0, {"read", "result"}},
      {{"verify", "--simulate=virtual-time"}, 0, {"verify", "result"}},
      {{"verify", "--simulate=virtual-time,flip@0x1234:3"}, 12, {"verify", "result"}},
      {{"info", "--simulate=virtual-time"}, 0, {"info", "result"}},
      {{"probe", "--simulate=blank,virtual-time"}, 0, {"probe", "result"}},
      {{"list", "--simulate=boards=2,virtual-time"}, 0, {"interface", "result"}},
      {{"station", "--simulate=boards=3,virtual-time,board2.chip-id=5", "--record", record},
       30,
       {"box", "progress", "result", "summary"}},
      {{"write", "--bogus"}, 64, {"result"}},
      {{"explain", "-2"}, 0, {"explain"}},
      {{"explain", "99"}, 64, {"result"}},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = row.args;
    args.push_back("--json");
    const test::CliOutcome run = test::RunCliWith(args);
    const std::string name = args[0] + " " + args[1];
    EXPECT_EQ(run.status, row.status) << name << "\n" << run.err;
    std::set<std::string> seen;
    const std::vector<std::string> lines = Lines(run.out);
    for (const std::string& line : lines) {
      EXPECT_EQ(Check(line, nullptr), "") << name << ": " << line;
      seen.insert(nlohmann::json::parse(line, nullptr, false).value("event", ""));
    }
    for (const std::string& event : row.events) EXPECT_TRUE(seen.contains(event)) << name << ": " << event;
    // The last line is the run's result, whatever else came before.
    ASSERT_FALSE(lines.empty()) << name;
    const char* last = args[0] == "station"                      ? "summary"
                       : run.status == 0 && args[0] == "explain" ? "explain"
                                                                 : "result";
    EXPECT_EQ(nlohmann::json::parse(lines.back(), nullptr, false).value("event", ""), last) << name;
  }
  const Fields recordFields = RecordFields();
  const std::vector<std::string> recorded = Lines(test::ReadAll(record));
  EXPECT_EQ(recorded.size(), 3u);
  for (const std::string& line : recorded) EXPECT_EQ(Check(line, &recordFields), "") << line;
}

}  // namespace
}  // namespace kt
