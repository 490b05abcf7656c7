#include "app/cli/interface_listing.h"

#include <cstdio>
#include <string>

#include "app/cli/cli_output.h"
#include "hid/hid_link.h"

namespace kt {
namespace {

std::string Describe(HidBackend& backend, const std::string& path) {
  const std::unique_ptr<HidDeviceHandle> handle = backend.Open(path, HidOpenMode::kPlain);
  if (!handle) return "cannot be opened";
  HidAttributes attributes;
  if (!handle->GetAttributes(attributes)) return "no attributes";
  std::string line = "vendor 0x" + Hex4(attributes.vendorId) + " product 0x" + Hex4(attributes.productId);
  HidCaps caps;
  if (!handle->GetCaps(caps)) return line + " no capabilities";
  line += " input " + std::to_string(caps.inputReportByteLength) + " output " +
          std::to_string(caps.outputReportByteLength);
  // The report ID the tool would put in byte 0 of every output report (that of the first output value).
  if (!caps.outputValueCaps.empty()) line += " report ID " + std::to_string(caps.outputValueCaps[0].reportId);
  return line;
}

}  // namespace

int ListHidInterfaces(HidBackend& backend, std::ostream& out) {
  const std::unique_ptr<HidInterfaceList> list = backend.ListInterfaces();
  if (!list) {
    out << "The list of HID interfaces cannot be had (" << backend.Name() << ").\n";
    return 0;
  }
  int seen = 0;
  // The same bound as the device search, so the listing shows what the search can see.
  for (std::uint32_t index = 0; index < kMaxHidInterfaces; ++index) {
    std::string path;
    const HidEnumStep step = list->Next(index, path);
    if (step == HidEnumStep::kEnd) break;
    if (step == HidEnumStep::kSkip) continue;
    out << path << "\t" << Describe(backend, path) << "\n";
    ++seen;
  }
  if (seen == 0) out << "No HID interfaces found (" << backend.Name() << ").\n";
  return seen;
}

}  // namespace kt
