#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kt::win32 {

// The shared code keeps paths and arguments as UTF-8; Windows' own calls take UTF-16. Every crossing
// between the two goes through these, so that a path the operator typed reaches the file system
// unchanged whatever the ANSI code page of the machine.

// UTF-8 to UTF-16. A byte sequence that is not UTF-8 becomes U+FFFD, so such a path names no file
// rather than another file.
std::wstring WidePath(std::string_view utf8);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromWide(std::wstring_view wide);

// The arguments of a command line after the program's name, split by the system's own rules
// (CommandLineToArgvW) and given as UTF-8.
std::vector<std::string> ArgumentsOfCommandLine(const wchar_t* commandLine);

}  // namespace kt::win32
