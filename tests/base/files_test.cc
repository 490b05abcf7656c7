// The file functions as both platforms must keep them: what is refused, what a replaced file and a record
// hold afterwards, and paths outside ASCII.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/atomic_file.h"
#include "base/durable_append.h"
#include "base/regular_file.h"

namespace kt {
namespace {

namespace fs = std::filesystem;

// The functions take UTF-8; the tests reach the same files through the library's own paths.
fs::path FsPath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}
std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Outside ASCII and outside any single ANSI code page.
constexpr char kWideName[] =
    "Pr\xC3\xBC"
    "fstand-\xC3\xA4\xC3\xB6\xC3\xBC-\xE6\x97\xA5\xE6\x9C\xAC";

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("kt_files_" + std::to_string(std::random_device{}()));
    fs::create_directories(folder_ / "folder");
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Path(const std::string& name) const { return Utf8(folder_ / FsPath(name)); }
  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(folder_ / FsPath(name), std::ios::binary) << bytes;
  }
  std::optional<std::string> Get(const std::string& name) const {
    std::ifstream file(folder_ / FsPath(name), std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  // Every name in the test's folder: a temporary file left behind shows here.
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_))
      names.insert(Utf8(entry.path().filename()));
    return names;
  }

  fs::path folder_;
};

TEST_F(FilesTest, ReadRegularFileReadsAtMostOneByteBeyondTheLimit) {
  struct Row {
    std::string name;
    std::optional<std::string> content;  // none: no such file
    std::size_t limit;
    bool ok;
    std::size_t size;
  };
  const Row rows[] = {
      {"empty", "", 10, true, 0},
      {"exact", std::string(10, 'x'), 10, true, 10},
      {"one-more", std::string(11, 'x'), 10, true, 11},
      {"far-more", std::string(1000, 'x'), 10, true, 11},
      {kWideName, "wide", 10, true, 4},
      {"missing", std::nullopt, 10, false, 0},
      {"folder", std::nullopt, 10, false, 0},
  };
  for (const Row& row : rows) {
    if (row.content) Put(row.name, *row.content);
    std::vector<std::uint8_t> bytes{1, 2, 3};
    std::string error;
    EXPECT_EQ(ReadRegularFile(Path(row.name), row.limit, bytes, error), row.ok) << row.name << ": " << error;
    if (row.ok) {
      ASSERT_EQ(bytes.size(), row.size) << row.name;
      EXPECT_EQ(std::string(bytes.begin(), bytes.end()), row.content->substr(0, row.size)) << row.name;
    } else {
      EXPECT_NE(error.find(Path(row.name)), std::string::npos) << "the error names the path: " << error;
    }
  }
}

TEST_F(FilesTest, CheckReplaceableFileWantsAFolderAndARegularFileOrNone) {
  Put("present", "old");
  const struct {
    std::string path;
    bool ok;
  } rows[] = {
      {Path("absent"), true},   // a new file
      {Path("present"), true},  // a file to replace
      {Path(kWideName), true},
      {Path("folder/absent"), true},
      {Path("folder"), false},               // never replaced by a file
      {Path("no-such-folder/file"), false},  // nowhere to put it
      {Path("present/file"), false},         // its "folder" is a file
  };
  for (const auto& row : rows) {
    std::string error;
    EXPECT_EQ(CheckReplaceableFile(row.path, error), row.ok) << row.path << ": " << error;
    EXPECT_EQ(error.empty(), row.ok) << row.path << ": " << error;
  }
  EXPECT_EQ(Names(), (std::set<std::string>{"folder", "present"})) << "a check writes nothing";
}

TEST_F(FilesTest, WriteFileAtomicallyLeavesTheWholeNewFileOrTheOldOne) {
  const std::string fresh = "new bytes";
  const struct {
    std::string name;
    std::optional<std::string> before;  // none: no such file
    bool ok;
  } rows[] = {
      {"created", std::nullopt, true},
      {"replaced", std::string(1000, 'o'), true},  // longer than the new bytes: nothing of it may stay
      {kWideName, "old", true},
      {"folder", std::nullopt, false},
      {"no-such-folder/file", std::nullopt, false},
  };
  std::set<std::string> expected = Names();
  for (const auto& row : rows) {
    if (row.before) Put(row.name, *row.before);
    std::string error;
    const bool ok = WriteFileAtomically(Path(row.name), reinterpret_cast<const std::uint8_t*>(fresh.data()),
                                        fresh.size(), error);
    EXPECT_EQ(ok, row.ok) << row.name << ": " << error;
    EXPECT_EQ(error.empty(), row.ok) << row.name << ": " << error;
    if (row.ok) {
      EXPECT_EQ(Get(row.name), fresh) << row.name;
      expected.insert(row.name);
    }
    EXPECT_EQ(Names(), expected) << row.name << ": nothing left beside it, and a refused path untouched";
  }
  EXPECT_TRUE(fs::is_directory(folder_ / "folder"));
}

TEST_F(FilesTest, ARecordGetsWholeLinesAfterAMendedTornOne) {
  const struct {
    std::string name;
    std::optional<std::string> before;  // none: created by Open
    std::optional<std::string> after;   // none: refused
  } rows[] = {
      {"new.jsonl", std::nullopt, "one\ntwo\n"},
      {"empty.jsonl", "", "one\ntwo\n"},
      {"whole.jsonl", "zero\n", "zero\none\ntwo\n"},
      // The process was killed inside its last line: that line keeps what it has, the next starts anew.
      {"torn.jsonl", "zero\n{\"ti", "zero\n{\"ti\none\ntwo\n"},
      {kWideName, "zero", "zero\none\ntwo\n"},
      {"folder", std::nullopt, std::nullopt},
      {"no-such-folder/r.jsonl", std::nullopt, std::nullopt},
  };
  for (const auto& row : rows) {
    if (row.before) Put(row.name, *row.before);
    std::string error;
    const std::unique_ptr<DurableAppendFile> record = DurableAppendFile::Open(Path(row.name), error);
    ASSERT_EQ(record != nullptr, row.after.has_value()) << row.name << ": " << error;
    if (!record) {
      EXPECT_NE(error.find(Path(row.name)), std::string::npos) << "the error names the path: " << error;
      continue;
    }
    EXPECT_TRUE(record->AppendLine("one", error)) << error;
    EXPECT_TRUE(record->AppendLine("two", error)) << error;
    EXPECT_EQ(Get(row.name), row.after) << row.name;
  }
  EXPECT_TRUE(fs::is_directory(folder_ / "folder"));
}

TEST_F(FilesTest, LinesFromSeveralThreadsNeverInterleave) {
  std::string error;
  const std::unique_ptr<DurableAppendFile> record = DurableAppendFile::Open(Path("threads.jsonl"), error);
  ASSERT_NE(record, nullptr) << error;
  constexpr int kThreads = 4;
  constexpr int kLines = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&record, t] {
      // Long enough to be more than one write where the system splits writes.
      const std::string line(3000, static_cast<char>('a' + t));
      std::string why;
      for (int i = 0; i < kLines; ++i) record->AppendLine(line, why);
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::istringstream lines(*Get("threads.jsonl"));
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    ASSERT_EQ(line.size(), 3000u) << "line " << count;
    EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos) << "line " << count << " is mixed";
  }
  EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
}  // namespace kt
