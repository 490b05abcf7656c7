#pragma once

#include "app/win32/windows_api.h"

namespace kt {

// The system's message-box font at `pixels` high (0: its own size) and `weight` (FW_NORMAL, FW_BOLD). The
// caller deletes it once no control uses it any more; null when it could not be made.
HFONT CreateUiFont(int pixels, int weight);

}  // namespace kt
