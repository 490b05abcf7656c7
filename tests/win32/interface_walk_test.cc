#include "hid/win32/interface_walk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace kt::win32 {
namespace {

// What the fake SetupAPI does for one index. Each call leaves its own last error, as the real one does.
struct IndexScript {
  BOOL enumResult = TRUE;
  DWORD enumError = ERROR_SUCCESS;  // left untouched when ERROR_SUCCESS and the call succeeds
  DWORD sizeError = ERROR_INSUFFICIENT_BUFFER;
  DWORD requiredSize = 0;  // 0: exactly what the path needs
  BOOL detailResult = TRUE;
  std::string path = "\\\\?\\hid#vid_3b7d&pid_7310#1";
};

class FakeSource final : public DeviceInterfaceSource {
 public:
  std::map<DWORD, IndexScript> indexes;
  int detailFetches = 0;

  BOOL Enumerate(DWORD index, SP_DEVICE_INTERFACE_DATA& data) override {
    EXPECT_EQ(data.cbSize, sizeof(SP_DEVICE_INTERFACE_DATA));
    auto it = indexes.find(index);
    if (it == indexes.end()) {
      SetLastError(ERROR_NO_MORE_ITEMS);
      return FALSE;
    }
    current_ = &it->second;
    if (current_->enumError != ERROR_SUCCESS) SetLastError(current_->enumError);
    return current_->enumResult;
  }

  BOOL GetDetail(SP_DEVICE_INTERFACE_DATA&, SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                 DWORD* required, SP_DEVINFO_DATA* info) override {
    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                            current_->path.size() + 1);
    if (detail == nullptr) {
      EXPECT_NE(info, nullptr);
      *required = current_->requiredSize != 0 ? current_->requiredSize : needed;
      SetLastError(current_->sizeError);
      return FALSE;
    }
    ++detailFetches;
    EXPECT_EQ(detail->cbSize, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    if (!current_->detailResult) {
      SetLastError(ERROR_INVALID_USER_BUFFER);
      return FALSE;
    }
    // Fills the whole buffer it was given, without a terminating zero when the path is that long.
    const std::size_t room = size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    std::memcpy(detail->DevicePath, current_->path.c_str(), std::min(room, current_->path.size() + 1));
    return TRUE;
  }

 private:
  IndexScript* current_ = nullptr;
};

class InterfaceWalkTest : public ::testing::Test {
 protected:
  InterfaceWalkTest() {
    auto owned = std::make_unique<FakeSource>();
    source = owned.get();
    walk = std::make_unique<InterfaceWalk>(std::move(owned));
  }
  FakeSource* source;
  std::unique_ptr<InterfaceWalk> walk;
  std::string path;
};

TEST_F(InterfaceWalkTest, GivesEachInterfacePathThenEnds) {
  source->indexes[0].path = "\\\\?\\hid#first";
  source->indexes[1].path = "\\\\?\\hid#second";
  ASSERT_EQ(walk->Next(0, path), HidEnumStep::kInterface);
  EXPECT_EQ(path, "\\\\?\\hid#first");
  ASSERT_EQ(walk->Next(1, path), HidEnumStep::kInterface);
  EXPECT_EQ(path, "\\\\?\\hid#second");
  EXPECT_EQ(walk->Next(2, path), HidEnumStep::kEnd);
}

TEST_F(InterfaceWalkTest, NoMoreItemsEndsTheListEvenWhenTheCallSucceeded) {
  source->indexes[0].enumResult = TRUE;
  source->indexes[0].enumError = ERROR_NO_MORE_ITEMS;
  EXPECT_EQ(walk->Next(0, path), HidEnumStep::kEnd);
  EXPECT_EQ(source->detailFetches, 0);
}

TEST_F(InterfaceWalkTest, AStaleNoMoreItemsFromEarlierDoesNotEndTheList) {
  source->indexes[0];
  SetLastError(ERROR_NO_MORE_ITEMS);  // left by some earlier call; the enumeration itself sets nothing
  EXPECT_EQ(walk->Next(0, path), HidEnumStep::kInterface);
}

TEST_F(InterfaceWalkTest, OtherEnumerationFailuresSkipTheIndex) {
  source->indexes[0].enumResult = FALSE;
  source->indexes[0].enumError = ERROR_INVALID_DATA;
  source->indexes[1];
  EXPECT_EQ(walk->Next(0, path), HidEnumStep::kSkip);
  ASSERT_TRUE(walk->lastError().has_value());
  EXPECT_EQ(walk->lastError()->operation(), "SetupDiEnumDeviceInterfaces");
  EXPECT_EQ(walk->Next(1, path), HidEnumStep::kInterface);
  EXPECT_FALSE(walk->lastError().has_value());
}

TEST_F(InterfaceWalkTest, ASizeQueryThatFailsOtherwiseEndsTheWalk) {
  source->indexes[0].sizeError = ERROR_INVALID_PARAMETER;
  source->indexes[1];
  EXPECT_EQ(walk->Next(0, path), HidEnumStep::kEnd);
  ASSERT_TRUE(walk->lastError().has_value());
  EXPECT_EQ(walk->lastError()->operation(), "SetupDiGetDeviceInterfaceDetailA");
  EXPECT_EQ(walk->lastError()->code(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(source->detailFetches, 0);
}

TEST_F(InterfaceWalkTest, ADetailBufferThatCannotBeHadEndsTheWalk) {
  source->indexes[0].requiredSize = 0xFFFFFFF0u;  // no device path is that long
  EXPECT_EQ(walk->Next(0, path), HidEnumStep::kEnd);
  EXPECT_EQ(source->detailFetches, 0);
}

TEST_F(InterfaceWalkTest, AFailedDetailFetchSkipsTheIndex) {
  source->indexes[0].detailResult = FALSE;
  source->indexes[1].path = "\\\\?\\hid#next";
  EXPECT_EQ(walk->Next(0, path), HidEnumStep::kSkip);
  ASSERT_EQ(walk->Next(1, path), HidEnumStep::kInterface);
  EXPECT_EQ(path, "\\\\?\\hid#next");
}

TEST_F(InterfaceWalkTest, APathThatFillsTheWholeBufferStaysWithinIt) {
  // The system announces less room than the path needs and fills every byte it was given.
  source->indexes[0].path = std::string(40, 'p');
  source->indexes[0].requiredSize =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + 16);
  ASSERT_EQ(walk->Next(0, path), HidEnumStep::kInterface);
  EXPECT_EQ(path, std::string(16, 'p'));
}

}  // namespace
}  // namespace kt::win32
