// Feeds arbitrary bytes to the report-descriptor parser: they come from whatever device is plugged in.
#include <cstddef>
#include <cstdint>
#include <string>

#include "hid/report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kt::ReportDescriptorInfo info;
  std::string error;
  if (kt::ParseReportDescriptor(data, size, info, error)) {
    // Lengths must be whole reports with their ID byte, or nothing at all.
    for (const kt::HidReportLayout& r : info.reports) {
      if (r.ByteLength() < 2) __builtin_trap();
    }
  } else if (error.empty()) {
    __builtin_trap();  // every refusal says why
  }
  return 0;
}
