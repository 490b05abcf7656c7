#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

#include "base/clock.h"

namespace kt {

enum class TraceDirection { kOut, kIn };

// A line per HID report, for reading a run afterwards:
//   <elapsed ms, three decimals>\t<OUT|IN>\t<bytes as lowercase hex, single spaces>
// and a line per event (plug, unplug, fault fired, ...):
//   # <elapsed ms, three decimals> <text>
// Elapsed time runs on the given clock from the trace's creation, so a run in virtual time traces
// virtual time. Safe to use from several threads; each line is written whole and flushed.
class ReportTrace {
 public:
  // Writes to `out`, which must outlive the trace.
  ReportTrace(std::ostream& out, Clock& clock);
  // Writes to `file` without taking ownership.
  ReportTrace(std::FILE* file, Clock& clock);
  ~ReportTrace();

  ReportTrace(const ReportTrace&) = delete;
  ReportTrace& operator=(const ReportTrace&) = delete;

  // Opens (truncates) `path` for a trace of its own; null with `error` set when it cannot be opened.
  static std::unique_ptr<ReportTrace> OpenFile(const std::string& path, Clock& clock, std::string& error);

  void Report(TraceDirection direction, const std::uint8_t* data, std::size_t length);
  void Event(std::string_view text);

 private:
  struct FileCloser {
    void operator()(std::FILE* file) const;
  };

  void WriteLine(const std::string& line);
  std::string Elapsed() const;

  Clock& clock_;
  std::uint64_t startMicros_;
  std::ostream* stream_ = nullptr;
  std::FILE* file_ = nullptr;
  std::unique_ptr<std::FILE, FileCloser> ownedFile_;
  std::mutex mutex_;
};

}  // namespace kt
