#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kt {

// Replaces `path` with `length` bytes so that the file is either the old one or the whole new one, never
// a part: written to a file beside it, flushed to disk, then renamed over it. False with `error` set
// (and nothing left behind) when that cannot be done.
bool WriteFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t length,
                         std::string& error);

}  // namespace kt
