#pragma once

#include <memory>
#include <string>

namespace kt {

// A file that lines are appended to, each on disk (flushed and synced) before AppendLine returns, so
// that a line once appended survives the process being killed the next moment. Lines from several
// threads never interleave.
class DurableAppendFile {
 public:
  // Null with `error` set when the file cannot be opened for appending.
  static std::unique_ptr<DurableAppendFile> Open(const std::string& path, std::string& error);
  virtual ~DurableAppendFile() = default;
  // `line` without its line break; false when it could not be written in full and synced.
  virtual bool AppendLine(const std::string& line) = 0;
};

}  // namespace kt
