#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kt {

// Whether `path` can later be replaced by WriteFileAtomically, asked before any work is done for it: its
// folder exists and is a folder, and `path` itself is absent or a regular file (a FIFO, a device node, a
// folder or a symbolic link is refused: a link would be replaced, not written through). False with `error` saying why.
bool CheckReplaceableFile(const std::string& path, std::string& error);

// Replaces `path` with `length` bytes so that the file is either the old one or the whole new one, never
// a part: written to a new file created exclusively beside it (never one that a name planted in advance
// could redirect), flushed to disk, given the replaced file's permissions, renamed over it, and the
// folder flushed too. Refuses a `path` that exists and is not a regular file. False with `error` set (and
// nothing left behind) when that cannot be done.
bool WriteFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t length,
                         std::string& error);

}  // namespace kt
