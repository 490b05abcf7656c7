// What only Windows has: device names, handles of every kind, and its command line.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <iterator>
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

// Opening a device can do something to it (a serial port's lines) or block (the console): every file
// function refuses one by its name, a pipe by its name, and a folder as a folder.
TEST(WindowsFilesTest, EveryFileFunctionRefusesDevicesPipesAndFolders) {
  PipePair pipe;
  const std::wstring folder = TempFolder();
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::uint8_t byte = 0;
  std::vector<std::uint8_t> bytes;
  const std::function<bool(const std::string&, std::string&)> functions[] = {
      [&](const std::string& path, std::string& error) { return ReadRegularFile(path, 10, bytes, error); },
      [](const std::string& path, std::string& error) { return CheckReplaceableFile(path, error); },
      [&](const std::string& path, std::string& error) { return WriteFileAtomically(path, &byte, 1, error); },
      [](const std::string& path, std::string& error) {
        return DurableAppendFile::Open(path, error) != nullptr;
      },
  };
  const struct {
    std::string path;
    std::string reason;
  } rows[] = {
      {"NUL", "not a regular file (a device)"},
      {"COM1", "not a regular file (a device)"},
      {"nul.txt", "not a regular file (a device)"},
      {pipe.path(), "not a regular file (a device)"},
      {Utf8FromWide(folder), "not a regular file (a folder)"},
  };
  for (const auto& row : rows) {
    for (std::size_t f = 0; f < std::size(functions); ++f) {
      std::string error;
      EXPECT_FALSE(functions[f](row.path, error)) << row.path << ", function " << f;
      EXPECT_NE(error.find(row.reason), std::string::npos) << row.path << ", function " << f << ": " << error;
    }
  }
  EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << "the folder is still a folder, and empty";
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
