#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kt {

// Reads the file at `path`, which must be a regular file: a FIFO, a device or a folder is refused before
// anything could block on it (opened without waiting, then looked at). At most `limit` + 1 bytes are read,
// so a file longer than `limit` shows as `limit` + 1 bytes and never costs more. False with `error` (the
// path and the reason) when it cannot be read.
bool ReadRegularFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes,
                     std::string& error);

}  // namespace kt
