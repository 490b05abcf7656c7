#pragma once

#include "app/cli/cli_output.h"
#include "hid/hid_backend.h"

namespace kt {

// Tells every HID interface the backend sees, in the system's order, with its port, vendor, product and
// report lengths: what to look at when the tool cannot find a board. Returns how many were listed (0 also
// when the list itself cannot be had).
int ListHidInterfaces(HidBackend& backend, CliOutput& output);

}  // namespace kt
