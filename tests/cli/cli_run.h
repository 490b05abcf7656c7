#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli_app.h"

namespace kt::test {

// What a run of the command line printed, and its exit status.
struct CliOutcome {
  int status = -1;
  std::string out;
  std::string err;
};

// kt7310-eeprom in-process, with no terminal and nothing on its input.
inline CliOutcome RunCliWith(const std::vector<std::string>& args, CliHooks hooks = {}) {
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in;
  ConsoleIo io{out, err, in, false, false};
  CliOutcome run;
  run.status = RunCli(args, io, std::move(hooks));
  run.out = out.str();
  run.err = err.str();
  return run;
}

// A file name of this process's own: test cases run as processes side by side.
inline std::string TempPath(const std::string& name) {
  static const std::string tag = std::to_string(std::random_device{}());
  return ::testing::TempDir() + "cli_" + tag + "_" + name;
}

// How often `needle` stands in `text`.
inline std::size_t CountOf(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

}  // namespace kt::test
