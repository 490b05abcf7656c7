#pragma once

#include <string>

namespace kt {

// The name a message box without a caption of its own shows: the executable's file name without its
// extension, so a copy under another name shows that other name.
std::string ApplicationNameFromPath(const std::string& modulePath);
// The same for the running executable.
std::string ApplicationName();

}  // namespace kt
