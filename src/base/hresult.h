#pragma once

#include <cstdint>

namespace kt {

// Operations above the report layer answer 0 or E_FAIL, as the Windows tool always has.
using HResult = std::int32_t;
inline constexpr HResult kSOk = 0;
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);

}  // namespace kt
