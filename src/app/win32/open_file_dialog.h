#pragma once

#include <optional>
#include <string>

#include "app/win32/windows_api.h"

namespace kt {

// The file dialog's filter turned from the framework's bar syntax ("All Files (*.*) | *.*||") into the
// list GetOpenFileNameA takes: every bar becomes a terminator, and the list ends with two.
std::string ToOpenFileNameFilter(const std::string& barFilter);

// The system's Open dialog owned by `owner`; the chosen path, or nothing when the operator cancels.
std::optional<std::string> ShowOpenFileDialog(HWND owner, const std::string& barFilter);

}  // namespace kt
