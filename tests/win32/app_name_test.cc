#include "app/win32/app_name.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

TEST(ApplicationNameTest, IsTheFileNameWithoutItsExtension) {
  EXPECT_EQ(ApplicationNameFromPath("C:\\Tools\\KT701xWriteEepromMP.exe"), "KT701xWriteEepromMP");
  // A copy under another name shows that name; dots in folders or the name itself stay.
  EXPECT_EQ(ApplicationNameFromPath("D:\\line 3.1\\writer v2.exe"), "writer v2");
  EXPECT_EQ(ApplicationNameFromPath("Z:/build/win/tool.EXE"), "tool");
  EXPECT_EQ(ApplicationNameFromPath("tool"), "tool");
}

TEST(ApplicationNameTest, OfTheRunningProgramIsTheTestExecutable) {
  EXPECT_EQ(ApplicationName(), "win32_tests");
}

}  // namespace
}  // namespace kt
