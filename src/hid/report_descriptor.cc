#include "hid/report_descriptor.h"

#include <algorithm>
#include <array>

namespace kt {
namespace {

// --- Tokenizer: splits the bytes into items without judging them. ---

enum class ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

struct Item {
  ItemType type = ItemType::kMain;
  std::uint8_t tag = 0;
  std::uint8_t size = 0;  // data bytes: 0, 1, 2 or 4 (short items)
  std::uint32_t data = 0;
  bool isLong = false;
  std::size_t offset = 0;

  // HID sends item data little-endian and, for signed fields, sign-extended from its own size.
  std::int32_t SignedData() const {
    switch (size) {
      case 1:
        return static_cast<std::int8_t>(data);
      case 2:
        return static_cast<std::int16_t>(data);
      default:
        return static_cast<std::int32_t>(data);
    }
  }
};

class Tokenizer {
 public:
  Tokenizer(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool AtEnd() const { return pos_ >= size_; }

  bool Next(Item& item, std::string& error) {
    item = Item{};
    item.offset = pos_;
    const std::uint8_t prefix = data_[pos_];
    if (prefix == kLongItemPrefix) {
      // Long item: prefix, data size, tag, then the data. HID defines no long items, so they are skipped.
      if (size_ - pos_ < 3) return Fail(error, "truncated long item");
      const std::size_t dataSize = data_[pos_ + 1];
      if (size_ - pos_ - 3 < dataSize) return Fail(error, "truncated long item");
      item.isLong = true;
      item.type = ItemType::kReserved;
      item.tag = data_[pos_ + 2];
      pos_ += 3 + dataSize;
      return true;
    }
    static constexpr std::array<std::uint8_t, 4> kSizes = {0, 1, 2, 4};
    item.size = kSizes[prefix & 0x03];
    item.type = static_cast<ItemType>((prefix >> 2) & 0x03);
    item.tag = static_cast<std::uint8_t>(prefix >> 4);
    if (size_ - pos_ - 1 < item.size) return Fail(error, "truncated item");
    for (std::size_t i = 0; i < item.size; ++i) {
      item.data |= static_cast<std::uint32_t>(data_[pos_ + 1 + i]) << (8 * i);
    }
    pos_ += 1 + item.size;
    return true;
  }

 private:
  static constexpr std::uint8_t kLongItemPrefix = 0xFE;

  bool Fail(std::string& error, const char* what) const {
    error = std::string(what) + " at byte " + std::to_string(pos_);
    return false;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// --- State table: the global items (with push and pop) and the local items of the next main item. ---

struct GlobalState {
  std::uint16_t usagePage = 0;
  std::uint32_t reportSize = 0;
  std::uint32_t reportCount = 0;
  std::uint8_t reportId = 0;
};

// A usage or usage range as the local items gave it; `page` is resolved when the item is seen.
struct UsageEntry {
  std::uint16_t page = 0;
};

struct LocalState {
  std::vector<UsageEntry> usages;
  bool rangeOpen = false;  // a usage minimum or maximum whose entry has been recorded already

  void Clear() {
    usages.clear();
    rangeOpen = false;
  }
};

class StateTable {
 public:
  GlobalState global;
  LocalState local;

  bool Push() {
    if (stack_.size() >= kMaxPushDepth) return false;
    stack_.push_back(global);
    return true;
  }
  bool Pop() {
    if (stack_.empty()) return false;
    global = stack_.back();
    stack_.pop_back();
    return true;
  }

 private:
  std::vector<GlobalState> stack_;
};

// --- Builder: turns main items into report sizes and value capabilities. ---

class ReportBuilder {
 public:
  explicit ReportBuilder(ReportDescriptorInfo& out) : out_(out) { out_ = ReportDescriptorInfo{}; }

  bool AddMainItem(HidReportType type, std::uint32_t flags, const StateTable& state, std::string& error) {
    if (++mainItems_ > kMaxMainItems) {
      error = "too many main items";
      return false;
    }
    const GlobalState& g = state.global;
    // 64-bit: both factors come from the device and may each be up to 2^32 - 1.
    const std::uint64_t bits = static_cast<std::uint64_t>(g.reportSize) * g.reportCount;
    if (bits == 0) return true;  // an empty field makes no report and no capability
    HidReportLayout& report = Report(type, g.reportId);
    if (bits > kMaxReportBits - report.bits) {
      error = "report longer than 65534 bytes";
      return false;
    }
    report.bits += bits;
    if (IsValueItem(flags, g.reportSize)) AddValueCaps(type, state);
    return true;
  }

 private:
  static constexpr std::uint32_t kConstantFlag = 0x01;
  static constexpr std::uint32_t kVariableFlag = 0x02;

  static bool IsValueItem(std::uint32_t flags, std::uint32_t reportSize) {
    return (flags & kConstantFlag) == 0 && (flags & kVariableFlag) != 0 && reportSize > 1;
  }

  void AddValueCaps(HidReportType type, const StateTable& state) {
    std::vector<HidValueCaps>& caps = type == HidReportType::kInput    ? out_.inputValueCaps
                                      : type == HidReportType::kOutput ? out_.outputValueCaps
                                                                       : out_.featureValueCaps;
    const std::uint8_t id = state.global.reportId;
    const std::vector<UsageEntry>& usages = state.local.usages;
    if (usages.empty()) {
      caps.push_back({state.global.usagePage, id});
      return;
    }
    const std::size_t n = std::min<std::size_t>(usages.size(), state.global.reportCount);
    for (std::size_t i = 0; i < n; ++i) caps.push_back({usages[i].page, id});
  }

  HidReportLayout& Report(HidReportType type, std::uint8_t id) {
    for (HidReportLayout& r : out_.reports) {
      if (r.type == type && r.reportId == id) return r;
    }
    out_.reports.push_back({type, id, 0});
    return out_.reports.back();
  }

  ReportDescriptorInfo& out_;
  std::size_t mainItems_ = 0;
};

// --- The parser proper: feeds the items through the state table into the builder. ---

class Parser {
 public:
  Parser(const std::uint8_t* data, std::size_t size, ReportDescriptorInfo& out)
      : tokens_(data, size), builder_(out), out_(out) {}

  bool Run(std::string& error) {
    Item item;
    while (!tokens_.AtEnd()) {
      if (!tokens_.Next(item, error)) return false;
      bool ok = true;
      switch (item.type) {
        case ItemType::kMain:
          ok = Main(item, error);
          break;
        case ItemType::kGlobal:
          ok = Global(item, error);
          break;
        case ItemType::kLocal:
          ok = Local(item, error);
          break;
        case ItemType::kReserved:
          break;  // long items and reserved short items carry nothing the tool uses
      }
      if (!ok) {
        if (error.find(" at byte ") == std::string::npos) error += " at byte " + std::to_string(item.offset);
        return false;
      }
    }
    if (depth_ != 0) {
      error = "collection not closed at the end";
      return false;
    }
    return true;
  }

 private:
  bool Main(const Item& item, std::string& error) {
    bool ok = true;
    switch (item.tag) {
      case 0x8:
        ok = builder_.AddMainItem(HidReportType::kInput, item.data, state_, error);
        break;
      case 0x9:
        ok = builder_.AddMainItem(HidReportType::kOutput, item.data, state_, error);
        break;
      case 0xB:
        ok = builder_.AddMainItem(HidReportType::kFeature, item.data, state_, error);
        break;
      case 0xA:  // Collection
        if (++depth_ > kMaxCollectionDepth) {
          error = "collections nested too deep";
          return false;
        }
        break;
      case 0xC:  // End Collection
        if (depth_ == 0) {
          error = "end of collection without a collection";
          return false;
        }
        --depth_;
        break;
      default:
        break;  // reserved main items: nothing to build, but the local state still ends here
    }
    state_.local.Clear();
    return ok;
  }

  bool Global(const Item& item, std::string& error) {
    GlobalState& g = state_.global;
    switch (item.tag) {
      case 0x0:
        g.usagePage = static_cast<std::uint16_t>(item.data);
        break;
      case 0x7:
        g.reportSize = item.data;
        break;
      case 0x8:
        // Report ID 0 is reserved (it means "no ID" on the wire) and IDs are one byte.
        if (item.data == 0 || item.data > 0xFF) {
          error = "report ID out of range";
          return false;
        }
        g.reportId = static_cast<std::uint8_t>(item.data);
        out_.usesReportIds = true;
        break;
      case 0x9:
        g.reportCount = item.data;
        break;
      case 0xA:
        if (!state_.Push()) {
          error = "push nested too deep";
          return false;
        }
        break;
      case 0xB:
        if (!state_.Pop()) {
          error = "pop without push";
          return false;
        }
        break;
      default:
        break;  // logical and physical ranges, units: no bearing on sizes or usage pages
    }
    return true;
  }

  bool Local(const Item& item, std::string& error) {
    LocalState& l = state_.local;
    // A 4-byte usage carries its own page in the high half; a shorter one lives on the current page.
    const std::uint16_t page =
        item.size == 4 ? static_cast<std::uint16_t>(item.data >> 16) : state_.global.usagePage;
    switch (item.tag) {
      case 0x0:  // Usage
        l.rangeOpen = false;
        return AddUsage(page, error);
      case 0x1:  // Usage Minimum
      case 0x2:  // Usage Maximum
        // A minimum and its maximum make one range, one capability.
        if (l.rangeOpen) {
          l.rangeOpen = false;
          return true;
        }
        l.rangeOpen = true;
        return AddUsage(page, error);
      default:
        return true;  // designators, strings, delimiters
    }
  }

  bool AddUsage(std::uint16_t page, std::string& error) {
    if (state_.local.usages.size() >= kMaxUsagesPerMainItem) {
      error = "too many usages for one main item";
      return false;
    }
    state_.local.usages.push_back({page});
    return true;
  }

  Tokenizer tokens_;
  StateTable state_;
  ReportBuilder builder_;
  ReportDescriptorInfo& out_;
  std::size_t depth_ = 0;
};

}  // namespace

std::uint16_t HidReportLayout::ByteLength() const {
  // bits is capped at kMaxReportBits while parsing, so this always fits.
  return static_cast<std::uint16_t>((bits + 7) / 8 + 1);
}

std::uint16_t ReportDescriptorInfo::ReportByteLength(HidReportType type) const {
  std::uint16_t longest = 0;
  for (const HidReportLayout& r : reports) {
    if (r.type == type) longest = std::max(longest, r.ByteLength());
  }
  return longest;
}

HidCaps ReportDescriptorInfo::ToHidCaps() const {
  HidCaps caps;
  caps.inputReportByteLength = ReportByteLength(HidReportType::kInput);
  caps.outputReportByteLength = ReportByteLength(HidReportType::kOutput);
  caps.outputValueCaps = outputValueCaps;
  return caps;
}

bool ParseReportDescriptor(const std::uint8_t* data, std::size_t size, ReportDescriptorInfo& out,
                           std::string& error) {
  error.clear();
  if (size > kMaxReportDescriptorBytes) {
    error = "descriptor longer than " + std::to_string(kMaxReportDescriptorBytes) + " bytes";
    return false;
  }
  if (size > 0 && data == nullptr) {
    error = "no descriptor bytes";
    return false;
  }
  Parser parser(data, size, out);
  return parser.Run(error);
}

}  // namespace kt
