#include "hid/win32/device_handle.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "win32/pipe_pair.h"

namespace kt::win32 {
namespace {

TEST(Win32HidDeviceTest, AMissingPathIsNotOpenedAndTheErrorSaysWhy) {
  std::optional<Win32Error> error;
  EXPECT_EQ(Win32HidDevice::Open("\\\\?\\hid#no_such_device#0", HidOpenMode::kPlain, error), nullptr);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->operation(), "CreateFileA");
  EXPECT_NE(error->code(), static_cast<DWORD>(ERROR_SUCCESS));
  // The system's own words, not just a number.
  EXPECT_EQ(error->what().rfind("CreateFileA: ", 0), 0u) << error->what();
  EXPECT_EQ(error->what().find("error "), std::string::npos) << error->what();
}

TEST(Win32HidDeviceTest, APlainHandleWritesTheReportAsGiven) {
  PipePair pipe;
  std::optional<Win32Error> error;
  auto handle = Win32HidDevice::Open(pipe.path(), HidOpenMode::kPlain, error);
  ASSERT_NE(handle, nullptr) << error->what();
  pipe.Connect();

  const std::array<std::uint8_t, 8> report{0x00, 0xF1, 0x22, 0x04, 0x00, 0x00, 0x00, 0x00};
  std::size_t written = 0;
  ASSERT_TRUE(handle->WriteReport(report.data(), report.size(), written));
  EXPECT_EQ(written, report.size());
  EXPECT_EQ(pipe.Receive(), std::vector<std::uint8_t>(report.begin(), report.end()));
}

// A device that stops taking output reports keeps a synchronous write for ever; Exit's cancel, from
// another thread, ends it, and the handle takes no further report.
TEST(Win32HidDeviceTest, CancelWriteEndsAWriteTheDeviceDoesNotTake) {
  PipePair pipe;
  std::optional<Win32Error> error;
  auto handle = Win32HidDevice::Open(pipe.path(), HidOpenMode::kPlain, error);
  ASSERT_NE(handle, nullptr) << error->what();
  pipe.Connect();

  // Far more than the pipe holds, and nobody reads it: the write stays.
  const std::vector<std::uint8_t> report(1 << 20, 0x5A);
  std::promise<bool> result;
  std::future<bool> done = result.get_future();
  std::thread writer([&] {
    std::size_t written = 0;
    result.set_value(handle->WriteReport(report.data(), report.size(), written));
  });
  // Wait for the write to be under way (its first bytes are in the pipe), then cancel it.
  bool held = false;
  for (int waited = 0; waited < 6000 && !held; ++waited) {
    held = pipe.Available() > 0;
    if (!held && done.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready) break;
  }
  if (!held) {
    pipe.Unplug();
    writer.join();
    FAIL() << "the write was not held";
  }
  handle->CancelWrite();
  const bool ended = done.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  if (!ended) pipe.Unplug();  // let the writer go, so that the failure below is all that happens
  writer.join();
  ASSERT_TRUE(ended) << "the cancel did not end the write";
  EXPECT_FALSE(done.get());
  ASSERT_TRUE(handle->lastError().has_value());
  EXPECT_EQ(handle->lastError()->code(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));

  std::size_t written = 1;
  EXPECT_FALSE(handle->WriteReport(report.data(), 8, written));
  EXPECT_EQ(written, 0u);
}

TEST(Win32HidDeviceTest, EachHandleDoesOnlyItsOwnJob) {
  PipePair pipe;
  std::optional<Win32Error> error;
  auto reader = Win32HidDevice::Open(pipe.path(), HidOpenMode::kOverlappedRead, error);
  ASSERT_NE(reader, nullptr);
  pipe.Connect();

  std::array<std::uint8_t, 64> buffer{};
  std::size_t written = 1;
  EXPECT_FALSE(reader->WriteReport(buffer.data(), 8, written));
  EXPECT_EQ(written, 0u);
  ASSERT_TRUE(pipe.Send({0x00, 0, 0, 0, 0, 0, 0, 0x05}));
  EXPECT_EQ(reader->ReadReport(buffer.data(), buffer.size(), 60000).status,
            HidReadResult::Status::kCompleted);
  EXPECT_EQ(buffer[7], 0x05);
}

TEST(Win32HidDeviceTest, APathThatIsNoHidDeviceHasNoAttributesOrCaps) {
  PipePair pipe;
  std::optional<Win32Error> error;
  auto handle = Win32HidDevice::Open(pipe.path(), HidOpenMode::kPlain, error);
  ASSERT_NE(handle, nullptr);

  HidAttributes attributes;
  EXPECT_FALSE(handle->GetAttributes(attributes));
  ASSERT_TRUE(handle->lastError().has_value());
  EXPECT_EQ(handle->lastError()->operation(), "HidD_GetAttributes");
  HidCaps caps;
  EXPECT_FALSE(handle->GetCaps(caps));
  EXPECT_EQ(handle->lastError()->operation(), "HidD_GetPreparsedData");
}

}  // namespace
}  // namespace kt::win32
