#include "app/win32/win32_dialog_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "base/clock.h"

namespace kt {
namespace {

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // What the dialog procedure does with the private messages.
  if (Win32DialogWindow::HandleCall(message, lParam)) return 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

// A hidden window with an edit field and a check box, standing in for the dialog.
class Win32DialogWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &TestWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KtDialogWindowTest";
    RegisterClassA(&windowClass);
    hwnd = CreateWindowExA(0, "KtDialogWindowTest", "", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
    if (hwnd == nullptr) GTEST_SKIP() << "no window can be created here (no display)";
    CreateWindowExA(0, "EDIT", "", WS_CHILD, 0, 0, 80, 20, hwnd, reinterpret_cast<HMENU>(1004), nullptr,
                    nullptr);
    CreateWindowExA(0, "BUTTON", "", WS_CHILD | BS_AUTOCHECKBOX, 0, 30, 80, 20, hwnd,
                    reinterpret_cast<HMENU>(1009), nullptr, nullptr);
    window = std::make_unique<Win32DialogWindow>("win32_tests");
    window->Attach(hwnd);
  }
  void TearDown() override {
    window.reset();
    if (hwnd != nullptr) DestroyWindow(hwnd);
  }

  HWND hwnd = nullptr;
  std::unique_ptr<Win32DialogWindow> window;
};

TEST_F(Win32DialogWindowTest, ControlsAreReachedThroughTheirIds) {
  window->SetItemText(1004, "3B7D");
  EXPECT_EQ(window->GetItemText(1004), "3B7D");
  window->SetItemText(1004, "");
  EXPECT_EQ(window->GetItemText(1004), "");
  EXPECT_EQ(window->GetItemText(4242), "");

  window->SetCheck(1009, true);
  EXPECT_TRUE(window->IsChecked(1009));
  window->EnableItem(1004, false);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, 1004)));
}

TEST_F(Win32DialogWindowTest, AnotherThreadsCallRunsOnTheWindowThreadWhileItPumps) {
  const DWORD windowThread = GetCurrentThreadId();
  std::atomic<DWORD> ranOn{0};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    window->SendToWindowThread([&] { ranOn = GetCurrentThreadId(); });
    // Send returns only after the call has run.
    EXPECT_EQ(ranOn.load(), windowThread);
    returned = true;
    window->PostToWindowThread([] {});  // wakes the pump
  });
  EXPECT_TRUE(window->PumpMessagesUntil(SystemClock(), 60000, [&] { return returned.load(); }));
  worker.join();
  EXPECT_EQ(ranOn.load(), windowThread);
}

TEST_F(Win32DialogWindowTest, PostedCallsRunInOrderOnTheWindowThread) {
  std::vector<int> order;
  window->PostToWindowThread([&] { order.push_back(1); });
  window->PostToWindowThread([&] { order.push_back(2); });
  EXPECT_TRUE(window->PumpMessagesUntil(SystemClock(), 60000, [&] { return order.size() == 2; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST_F(Win32DialogWindowTest, CallsLeftWhenTheWindowGoesAreFreedNotRun) {
  auto token = std::make_shared<int>(0);
  bool ran = false;
  window->PostToWindowThread([token, &ran] { ran = true; });
  EXPECT_EQ(token.use_count(), 2);
  window->Detach();
  EXPECT_EQ(token.use_count(), 1);
  EXPECT_FALSE(ran);
  // Nothing to send to any more: dropped, not run on the wrong thread.
  std::thread late([&] { window->SendToWindowThread([&] { ran = true; }); });
  late.join();
  EXPECT_FALSE(ran);
}

// A quit already queued (the program is ending) must not end Exit's wait early: the wait goes on without
// taking posted messages, still runs the worker's sent call and sees its end; the quit stays queued for
// the loop that owns it.
TEST_F(Win32DialogWindowTest, AQueuedQuitDoesNotCutTheWaitShortAndStaysQueued) {
  PostQuitMessage(3);
  std::atomic<bool> sentRan{false};
  std::atomic<bool> ended{false};
  std::thread worker([&] {
    window->SendToWindowThread([&] { sentRan = true; });
    ended = true;
    window->PostToWindowThread([] {});  // as the worker does when it ends
  });
  EXPECT_TRUE(window->PumpMessagesUntil(SystemClock(), 60000, [&] { return ended.load(); }));
  worker.join();
  EXPECT_TRUE(sentRan.load());
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 3u);
  // The worker's posted call is still queued behind it; Detach frees it.
}

TEST_F(Win32DialogWindowTest, ThePumpGivesUpAtItsTimeOutOnAVirtualClock) {
  VirtualClock clock;
  EXPECT_FALSE(window->PumpMessagesUntil(clock, 5, [] { return false; }));
}

}  // namespace
}  // namespace kt
