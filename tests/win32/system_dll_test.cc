#include <gtest/gtest.h>

#include <string>

#include "base/system_dll_win32.h"

namespace kt::win32 {
namespace {

TEST(SystemDllTest, AMissingDllOrExportIsAFailureThatSaysWhich) {
  const struct {
    const wchar_t* dll;
    const char* function;
    DWORD code;
    std::string operation;
  } rows[] = {
      {L"kernel32.dll", "GetTickCount", ERROR_SUCCESS, ""},
      {L"hid.dll", "HidD_GetHidGuid", ERROR_SUCCESS, ""},
      {L"kernel32.dll", "NoSuchExportKt7310", ERROR_PROC_NOT_FOUND,
       "GetProcAddress kernel32.dll NoSuchExportKt7310"},
      {L"no-such-dll-kt7310.dll", "GetTickCount", ERROR_MOD_NOT_FOUND,
       "LoadLibraryExW no-such-dll-kt7310.dll from System32"},
  };
  for (const auto& row : rows) {
    SystemDll dll(row.dll);
    void (*function)() = nullptr;
    EXPECT_EQ(dll.Bind(function, row.function), row.code == ERROR_SUCCESS) << row.function;
    EXPECT_EQ(function != nullptr, row.code == ERROR_SUCCESS) << row.function;
    EXPECT_EQ(dll.ok(), row.code == ERROR_SUCCESS) << row.function;
    EXPECT_EQ(dll.failureCode(), row.code) << row.function;
    EXPECT_EQ(dll.failedOperation(), row.operation);
  }
}

struct TableWithAMissingFunction {
  static constexpr const wchar_t* kDll = L"kernel32.dll";
  decltype(&GetTickCount) present = nullptr;
  decltype(&GetTickCount) missing = nullptr;
  bool Bind(SystemDll& dll) { return dll.Bind(present, "GetTickCount") && dll.Bind(missing, "NoSuchKt7310"); }
};

TEST(SystemDllTest, ATableWithAMissingFunctionIsNotHandedOut) {
  const SystemDll* dll = nullptr;
  EXPECT_EQ(LoadSystemFunctions<TableWithAMissingFunction>(&dll), nullptr);
  ASSERT_NE(dll, nullptr);
  EXPECT_EQ(dll->failedOperation(), "GetProcAddress kernel32.dll NoSuchKt7310");
  // The same answer every time: loaded once.
  EXPECT_EQ(LoadSystemFunctions<TableWithAMissingFunction>(), nullptr);
}

}  // namespace
}  // namespace kt::win32
