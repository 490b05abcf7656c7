#include "app/cli/interface_listing.h"

#include "hid/hid_link.h"

namespace kt {
namespace {

// One interface's line: plain, "PATH<TAB>port PORT<TAB>vendor 0x3B7D product ...", and its fields.
void Describe(HidBackend& backend, const std::string& path, CliOutput& output) {
  const std::string port = backend.PortOf(path);
  nlohmann::json fields{{"path", path},
                        {"port", port},
                        {"vendor_id", nullptr},
                        {"product_id", nullptr},
                        {"input_length", nullptr},
                        {"output_length", nullptr},
                        {"report_id", nullptr},
                        {"problem", nullptr}};
  std::string line = path + "\tport " + port + "\t";
  const auto done = [&](const std::string& problem) {
    if (!problem.empty()) {
      fields["problem"] = problem;
      line += (line.ends_with("\t") ? "" : " ") + problem;
    }
    output.Line("interface", line, fields);
  };
  const std::unique_ptr<HidDeviceHandle> handle = backend.Open(path, HidOpenMode::kPlain);
  if (!handle) return done("cannot be opened");
  HidAttributes attributes;
  if (!handle->GetAttributes(attributes)) return done("no attributes");
  fields["vendor_id"] = HexWord(attributes.vendorId);
  fields["product_id"] = HexWord(attributes.productId);
  line += "vendor 0x" + Hex4(attributes.vendorId) + " product 0x" + Hex4(attributes.productId);
  HidCaps caps;
  if (!handle->GetCaps(caps)) return done("no capabilities");
  fields["input_length"] = caps.inputReportByteLength;
  fields["output_length"] = caps.outputReportByteLength;
  line += " input " + std::to_string(caps.inputReportByteLength) + " output " +
          std::to_string(caps.outputReportByteLength);
  // The report ID the tool would put in byte 0 of every output report (that of the first output value).
  if (!caps.outputValueCaps.empty()) {
    fields["report_id"] = caps.outputValueCaps[0].reportId;
    line += " report ID " + std::to_string(caps.outputValueCaps[0].reportId);
  }
  done("");
}

}  // namespace

int ListHidInterfaces(HidBackend& backend, CliOutput& output) {
  const std::unique_ptr<HidInterfaceList> list = backend.ListInterfaces();
  if (!list) {
    output.Error("the list of HID interfaces cannot be had (" + backend.Name() + ")");
    return 0;
  }
  int seen = 0;
  // The same bound as the device search, so the listing shows what the search can see.
  for (std::uint32_t index = 0; index < kMaxHidInterfaces; ++index) {
    std::string path;
    const HidEnumStep step = list->Next(index, path);
    if (step == HidEnumStep::kEnd) break;
    if (step == HidEnumStep::kSkip) continue;
    Describe(backend, path, output);
    ++seen;
  }
  if (seen == 0) output.Error("no HID interfaces found (" + backend.Name() + ")");
  return seen;
}

}  // namespace kt
