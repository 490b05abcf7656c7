#pragma once

#include <ostream>

#include "hid/hid_backend.h"

namespace kt {

// Prints every HID interface the backend sees, in the system's order, with vendor, product and report
// lengths: what to look at when the tool cannot find a board. Returns how many were listed (0 also when
// the list itself cannot be had).
int ListHidInterfaces(HidBackend& backend, std::ostream& out);

}  // namespace kt
