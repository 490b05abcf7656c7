// README and the man page carry the results table for those who never run `explain`: every row the
// program explains must stand in both, and nothing else.
#include "app/cli/result_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace kt {
namespace {

constexpr bool kSourceTreeReachable = KT_SOURCE_TREE_REACHABLE;

std::vector<std::string> Lines(const std::string& file) {
  std::ifstream in(std::string(KT_SOURCE_DIR) + "/" + file);
  EXPECT_TRUE(in.good()) << file;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Unquoted(std::string text, std::string_view prefix, char quote) {
  text = text.substr(prefix.size());
  if (text.size() >= 2 && text.front() == quote && text.back() == quote)
    text = text.substr(1, text.size() - 2);
  return text;
}

// README: the table headed "| Result | Box |", a heading and the box (in backticks) a row.
std::map<std::string, std::string> ReadmeRows() {
  std::map<std::string, std::string> rows;
  bool inTable = false;
  for (const std::string& line : Lines("README.md")) {
    if (line.starts_with("| Result | Box |")) {
      inTable = true;
      continue;
    }
    if (!inTable || line.starts_with("|---")) continue;
    if (!line.starts_with("| ")) break;
    std::vector<std::string> cells;
    std::istringstream split(line.substr(2));
    for (std::string cell; std::getline(split, cell, '|');) {
      cells.push_back(Trimmed(cell));
    }
    EXPECT_GE(cells.size(), 2u) << line;
    if (cells.size() >= 2) rows[cells[0]] = cells[1].empty() ? "" : Unquoted(cells[1], "", '`');
  }
  return rows;
}

// The man page's EXIT STATUS: ".TP", the heading in bold, then the box in bold when there is one.
std::map<std::string, std::string> ManRows() {
  std::vector<std::string> lines = Lines("packaging/linux/kt7310-eeprom.1");
  for (std::string& line : lines) {
    for (std::size_t at = line.find("\\-"); at != std::string::npos; at = line.find("\\-", at))
      line.erase(at, 1);
  }
  std::map<std::string, std::string> rows;
  bool inSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].starts_with(".SH")) inSection = lines[i] == ".SH EXIT STATUS";
    if (!inSection || lines[i] != ".TP" || i + 2 >= lines.size()) continue;
    const std::string heading = Unquoted(lines[i + 1], ".B ", '"');
    rows[heading] = lines[i + 2].starts_with(".B ") ? Unquoted(lines[i + 2], ".B ", '"') : "";
  }
  return rows;
}

TEST(ResultTableTest, ReadmeAndTheManPageListEveryResult) {
  if (!kSourceTreeReachable) GTEST_SKIP() << "source tree paths do not reach the Windows test run";
  const std::map<std::string, std::string> readme = ReadmeRows();
  const std::map<std::string, std::string> man = ManRows();
  for (const ResultRow& row : ResultTable()) {
    const std::string heading = ResultHeading(row);
    const std::string box = row.box.value_or("");
    EXPECT_TRUE(readme.contains(heading) && readme.at(heading) == box) << "README.md lacks " << heading;
    EXPECT_TRUE(man.contains(heading) && man.at(heading) == box) << "the man page lacks " << heading;
  }
  EXPECT_EQ(readme.size(), ResultTable().size()) << "README.md lists a result the program does not know";
  EXPECT_EQ(man.size(), ResultTable().size()) << "the man page lists a result the program does not know";
}

}  // namespace
}  // namespace kt
