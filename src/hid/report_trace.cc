#include "hid/report_trace.h"

#include <cinttypes>

#include "base/open_file.h"

namespace kt {

void ReportTrace::FileCloser::operator()(std::FILE* file) const {
  if (file != nullptr) std::fclose(file);
}

ReportTrace::ReportTrace(std::ostream& out, Clock& clock)
    : clock_(clock), startMicros_(clock.NowMicros()), stream_(&out) {}

ReportTrace::ReportTrace(std::FILE* file, Clock& clock)
    : clock_(clock), startMicros_(clock.NowMicros()), file_(file) {}

ReportTrace::~ReportTrace() = default;

std::unique_ptr<ReportTrace> ReportTrace::OpenFile(const std::string& path, Clock& clock,
                                                   std::string& error) {
  std::FILE* file = kt::OpenFile(path, "w");
  if (file == nullptr) {
    error = "cannot open the trace file \"" + path + "\"";
    return nullptr;
  }
  auto trace = std::make_unique<ReportTrace>(file, clock);
  trace->ownedFile_.reset(file);
  return trace;
}

std::string ReportTrace::Elapsed() const {
  const std::uint64_t now = clock_.NowMicros();
  const std::uint64_t micros = now > startMicros_ ? now - startMicros_ : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%" PRIu64 ".%03" PRIu64, micros / 1000, micros % 1000);
  return text;
}

void ReportTrace::Report(TraceDirection direction, const std::uint8_t* data, std::size_t length) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string line = Elapsed();
  line += direction == TraceDirection::kOut ? "\tOUT\t" : "\tIN\t";
  line.reserve(line.size() + length * 3 + 1);
  for (std::size_t i = 0; i < length; ++i) {
    if (i != 0) line += ' ';
    line += kHex[data[i] >> 4];
    line += kHex[data[i] & 0x0F];
  }
  line += '\n';
  WriteLine(line);
}

void ReportTrace::Event(std::string_view text) {
  std::string line = "# " + Elapsed() + " ";
  line += text;
  line += '\n';
  WriteLine(line);
}

void ReportTrace::WriteLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stream_ != nullptr) {
    stream_->write(line.data(), static_cast<std::streamsize>(line.size()));
    stream_->flush();
  } else if (file_ != nullptr) {
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
  }
}

}  // namespace kt
