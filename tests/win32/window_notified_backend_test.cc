#include "app/win32/window_notified_backend.h"

#include <gtest/gtest.h>

#include <memory>

namespace kt {
namespace {

// A backend that would report changes, and counts the listeners it is given.
class ReportingBackend final : public HidBackend {
 public:
  explicit ReportingBackend(int& listenersSet) : listenersSet_(listenersSet) {}
  std::string Name() const override { return "reporting"; }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override { return nullptr; }
  std::unique_ptr<HidDeviceHandle> Open(const std::string&, HidOpenMode) override { return nullptr; }
  void SetDeviceChangeListener(DeviceChangeListener) override { ++listenersSet_; }
  bool ReportsDeviceChanges() const override { return true; }
  std::string PortOf(const std::string& path) override { return "port of " + path; }

 private:
  int& listenersSet_;
};

// The dialog's listener never reaches the real backend, which would start a second notifier; the rest
// passes through.
TEST(WindowNotifiedBackendTest, KeepsTheDialogsListenerFromTheBackend) {
  int listenersSet = 0;
  WindowNotifiedBackend backend(std::make_unique<ReportingBackend>(listenersSet));
  backend.SetDeviceChangeListener([](const DeviceChange&) {});
  backend.SetDeviceChangeListener(nullptr);
  EXPECT_EQ(listenersSet, 0);
  EXPECT_FALSE(backend.ReportsDeviceChanges());
  EXPECT_EQ(backend.Name(), "reporting");
  EXPECT_EQ(backend.PortOf("p"), "port of p");
}

}  // namespace
}  // namespace kt
