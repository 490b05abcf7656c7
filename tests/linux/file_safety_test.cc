// The files the tool reads and writes, attacked as a full disk, a planted link, a FIFO and a device would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "base/durable_append.h"
#include "base/regular_file.h"

namespace kt {
namespace {

// A fresh folder per test: nothing two runs share.
class FileSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "files_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
  }
  void TearDown() override { (void)!std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string Path(const std::string& name) const { return dir_ + name; }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string dir_;
};

// Each path that is not a regular file is refused, by each function, without blocking on it (a FIFO
// with nobody at the other end would hold an ordinary open for ever).
TEST_F(FileSafetyTest, WhatIsNotARegularFileIsRefusedWithoutBlocking) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  Write(Path("victim"), "precious\n");
  ASSERT_EQ(symlink(Path("victim").c_str(), Path("link").c_str()), 0);
  const struct {
    std::string path;
    bool read, append, replace;  // refused by each
  } rows[] = {
      {Path("fifo"), true, true, true},
      {"/dev/zero", true, true, true},
      {"/dev/full", true, true, true},
      {dir_, true, true, true},
      {Path("link"), false, false, true},  // an image or record may be a link to a file; --output not
      {Path("no/such/folder/x"), true, true, true},
  };
  for (const auto& row : rows) {
    std::vector<std::uint8_t> bytes;
    std::string why;
    EXPECT_EQ(!ReadRegularFile(row.path, 16, bytes, why), row.read) << row.path;
    EXPECT_EQ(DurableAppendFile::Open(row.path, why) == nullptr, row.append) << row.path;
    EXPECT_EQ(!CheckReplaceableFile(row.path, why), row.replace) << row.path << why;
    const std::uint8_t data[1] = {1};
    EXPECT_EQ(!WriteFileAtomically(row.path, data, 1, why), row.replace) << row.path;
  }
  struct stat info {};
  EXPECT_EQ(lstat(Path("fifo").c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the FIFO was replaced";
  EXPECT_EQ(Read(Path("victim")), "precious\n");
}

TEST_F(FileSafetyTest, AReadIsBoundedAndTellsALongerFileByOneByteMore) {
  Write(Path("long"), std::string(100, 'x'));
  std::vector<std::uint8_t> bytes;
  std::string why;
  ASSERT_TRUE(ReadRegularFile(Path("long"), 10, bytes, why));
  EXPECT_EQ(bytes.size(), 11u);
  ASSERT_TRUE(ReadRegularFile(Path("long"), 100, bytes, why));
  EXPECT_EQ(bytes.size(), 100u);
}

// The old temporary name was the target's name and the PID: a link planted there by someone else made a
// root run write through it. Every name a run could predict is planted here.
TEST_F(FileSafetyTest, AReplacedFileNeverWritesThroughAPlantedLinkAndKeepsItsMode) {
  Write(Path("victim"), "precious");
  const std::string out = Path("out.bin");
  Write(out, "old");
  ASSERT_EQ(chmod(out.c_str(), 0640), 0);
  for (const std::string& planted : {out + ".tmp-" + std::to_string(getpid()), out + ".tmp", out + "~"}) {
    ASSERT_EQ(symlink(Path("victim").c_str(), planted.c_str()), 0);
  }
  const std::uint8_t data[4] = {'n', 'e', 'w', '!'};
  std::string why;
  ASSERT_TRUE(WriteFileAtomically(out, data, sizeof(data), why)) << why;
  EXPECT_EQ(Read(out), "new!");
  EXPECT_EQ(Read(Path("victim")), "precious");
  struct stat info {};
  ASSERT_EQ(stat(out.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

// A file size limit stands for a full disk: the write that crosses it is cut short, as ENOSPC cuts a
// write on a file system that fills up. Signals of the limit are ignored as the program ignores them.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    old_ = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, old_);
  }

 private:
  rlimit saved_{};
  void (*old_)(int);
};

TEST_F(FileSafetyTest, ARecordLineIsWholeOrAbsentAndATornLineIsEndedFirst) {
  const std::string path = Path("record.jsonl");
  Write(path, "{\"torn\":");  // a crash in the middle of a line, long ago
  std::string why;
  auto record = DurableAppendFile::Open(path, why);
  ASSERT_NE(record, nullptr) << why;
  ASSERT_TRUE(record->AppendLine("{\"board\":1}", why)) << why;
  {
    FileSizeLimit full(Read(path).size() + 5);  // room for 5 bytes of the next line
    EXPECT_FALSE(record->AppendLine("{\"board\":2}", why));
    EXPECT_FALSE(why.empty());
  }
  ASSERT_TRUE(record->AppendLine("{\"board\":3}", why)) << why;
  EXPECT_EQ(Read(path), "{\"torn\":\n{\"board\":1}\n{\"board\":3}\n");
}

}  // namespace
}  // namespace kt
