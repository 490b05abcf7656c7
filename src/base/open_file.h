#pragma once

#include <cstdio>
#include <string>

namespace kt {

// std::fopen for a UTF-8 path, whatever the platform's narrow file names are (on Windows the ANSI code
// page, which cannot carry every name). Null with errno set when the file cannot be opened.
std::FILE* OpenFile(const std::string& path, const char* mode);

}  // namespace kt
