#pragma once

#include <string>

namespace kt {

// "open /dev/hidraw3: Permission denied": the operation, what it worked on, and the system's words for
// errno `err`.
std::string SystemErrorMessage(const std::string& operation, const std::string& object, int err);

}  // namespace kt
