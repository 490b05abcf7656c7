#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace kt {

// Where the Linux backend's errors go. Every error is kept as the last one (for a caller that wants to
// show it); the ones an operator can act on are also passed to the hook, once per subject, because the
// device probe opens the same nodes again on every hot-plug event and must not repeat itself.
class LinuxHidDiagnostics {
 public:
  using Hook = std::function<void(const std::string& message)>;

  // A null hook writes to stderr.
  explicit LinuxHidDiagnostics(Hook hook);

  void Record(const std::string& message);
  void ReportOnce(const std::string& subject, const std::string& message);
  std::string LastError() const;

 private:
  Hook hook_;
  mutable std::mutex mutex_;
  std::string lastError_;
  std::set<std::string> reported_;
};

}  // namespace kt
