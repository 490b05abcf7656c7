// What only Windows has: device names, handles of every kind, its command line, and its file
// attributes kept across a replacement.
#include <gtest/gtest.h>
#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "base/durable_append.h"
#include "base/file_handle_win32.h"
#include "base/regular_file.h"
#include "base/utf8_path_win32.h"
#include "win32/pipe_pair.h"

namespace kt::win32 {
namespace {

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, buffer);
  return std::wstring(buffer) + L"kt_windows_files_" + std::to_wstring(std::random_device{}());
}

TEST(WindowsFilesTest, DeviceNamesAreKnownWhateverTheirFolderAndExtension) {
  const struct {
    const char* path;
    bool device;
  } rows[] = {
      {"NUL", true},
      {"nul.txt", true},
      {"C:\\out\\COM1", true},
      {"com1.bin", true},
      {"LPT9", true},
      {"con:", true},
      {"CONOUT$", true},
      {"AUX  .log", true},
      {"C:prn", true},
      {"\\\\.\\COM1", true},
      {"//./pipe/x", true},
      {"COM\xC2\xB9", true},
      {"COM10", false},
      {"console.txt", false},
      {"nullable", false},
      {"C:\\nul\\x.bin", false},
      {"auxiliary.log", false},
      {"", false},
      {"C:\\out\\com", false},
      {"\\\\?\\C:\\x", false},
  };
  for (const auto& row : rows) EXPECT_EQ(IsDevicePath(row.path), row.device) << row.path;
}

TEST(WindowsFilesTest, OnlyAFileOnADiskIsRegular) {
  const std::wstring folder = TempFolder();
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring file = folder + L"\\file";
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  FileHandle pipeWriteEnd(writeEnd);
  const struct {
    const char* what;
    FileHandle handle;
    std::string reason;
  } rows[] = {
      {"file", FileHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)), ""},
      {"folder",
       FileHandle(CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)),
       "not a regular file (a folder)"},
      {"NUL", FileHandle(CreateFileW(L"NUL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)),
       "not a regular file (a device)"},
      {"pipe", FileHandle(readEnd), "not a regular file (a pipe)"},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(row.handle) << row.what;
    EXPECT_EQ(NotRegularReason(row.handle.get()), row.reason) << row.what;
  }
  DeleteFileW(file.c_str());
  RemoveDirectoryW(folder.c_str());
}

// Opening a device can do something to it (a serial port's lines) or block (the console): every function
// refuses one by its name, a pipe by its name or its handle.
TEST(WindowsFilesTest, DevicesAndPipesAreRefusedByEveryFileFunction) {
  PipePair pipe;
  ASSERT_TRUE(pipe.valid());
  for (const std::string& path :
       {std::string("NUL"), std::string("COM1"), std::string("nul.txt"), pipe.path()}) {
    std::string error;
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(ReadRegularFile(path, 10, bytes, error)) << path;
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << path << ": " << error;
    error.clear();
    EXPECT_FALSE(CheckReplaceableFile(path, error)) << path;
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << path << ": " << error;
    error.clear();
    const std::uint8_t byte = 0;
    EXPECT_FALSE(WriteFileAtomically(path, &byte, 1, error)) << path;
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << path << ": " << error;
    error.clear();
    EXPECT_EQ(DurableAppendFile::Open(path, error), nullptr) << path;
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << path << ": " << error;
  }
}

TEST(WindowsFilesTest, AFolderIsRefusedAsAFolder) {
  const std::wstring folder = TempFolder();
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::string path = Utf8FromWide(folder);
  std::string error;
  std::vector<std::uint8_t> bytes;
  EXPECT_FALSE(ReadRegularFile(path, 10, bytes, error));
  EXPECT_NE(error.find("(a folder)"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(CheckReplaceableFile(path, error));
  EXPECT_NE(error.find("(a folder)"), std::string::npos) << error;
  error.clear();
  EXPECT_EQ(DurableAppendFile::Open(path, error), nullptr);
  EXPECT_NE(error.find("(a folder)"), std::string::npos) << error;
  RemoveDirectoryW(folder.c_str());
}

// The name on disk is the one typed, character for character: looked up here by its UTF-16 name, never
// through the conversion under test.
TEST(WindowsFilesTest, WideNamesReachTheDiskUnchanged) {
  const std::wstring folder = TempFolder() + L"-Pr\u00fcfstand-\u00e4\u00f6\u00fc-\u65e5\u672c";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring image = folder + L"\\\u00e9\u00e9.bin";
  const std::wstring record = folder + L"\\\u65e5\u672c.jsonl";
  const std::uint8_t bytes[] = {1, 2, 3};
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(Utf8FromWide(image), bytes, sizeof(bytes), error)) << error;
  EXPECT_NE(GetFileAttributesW(image.c_str()), INVALID_FILE_ATTRIBUTES);
  auto append = DurableAppendFile::Open(Utf8FromWide(record), error);
  ASSERT_NE(append, nullptr) << error;
  append.reset();
  EXPECT_NE(GetFileAttributesW(record.c_str()), INVALID_FILE_ATTRIBUTES);
  DeleteFileW(image.c_str());
  DeleteFileW(record.c_str());
  EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << "nothing else was left in the folder";
}

TEST(WindowsFilesTest, TheCommandLineComesAsUtf8Arguments) {
  const struct {
    const wchar_t* commandLine;
    std::vector<std::string> args;
  } rows[] = {
      {L"kt7310-eeprom.exe", {}},
      {L"\"C:\\Pr\u00fcf\\kt7310-eeprom.exe\" read --output \"C:\\Pr\u00fcf stand\\\u65e5\u672c.bin\"",
       {"read", "--output",
        "C:\\Pr\xC3\xBC"
        "f stand\\\xE6\x97\xA5\xE6\x9C\xAC.bin"}},
      {L"kt.exe --simulate=eeprom=\u00e4.bin a\\\\\\\"b \"\"",
       {"--simulate=eeprom=\xC3\xA4.bin", "a\\\"b", ""}},
  };
  for (const auto& row : rows) EXPECT_EQ(ArgumentsOfCommandLine(row.commandLine), row.args);
}

}  // namespace
}  // namespace kt::win32
