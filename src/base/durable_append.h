#pragma once

#include <memory>
#include <string>

namespace kt {

// A file that lines are appended to, each on disk (flushed and synced) before AppendLine returns, so
// that a line once appended survives the process being killed the next moment. Lines from several
// threads never interleave, and a line is in the file whole or not at all.
class DurableAppendFile {
 public:
  // Null with `error` set when the file cannot be opened for appending, or is not a regular file (a FIFO
  // or a device is refused without blocking on it). A file created by the call has its folder synced; a
  // file whose last line was torn (no line break at its end) is given one, so that the next line is never
  // glued onto it.
  static std::unique_ptr<DurableAppendFile> Open(const std::string& path, std::string& error);
  virtual ~DurableAppendFile() = default;
  // `line` without its line break. False (the file cut back to where the line began, `error` saying why)
  // when it could not be written in full and synced.
  virtual bool AppendLine(const std::string& line, std::string& error) = 0;
};

}  // namespace kt
