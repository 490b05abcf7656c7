// The resources of KT701xWriteEepromMP.exe, compiled into this test program as well: dialog template
// 102 control by control, icon 128 image by image.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/win32/dialog_host.h"
#include "app/win32/resource.h"
#include "app/win32/windows_api.h"

namespace kt {
namespace {

// Class atoms of a dialog template.
constexpr std::uint16_t kButton = 0x0080;
constexpr std::uint16_t kEdit = 0x0081;
constexpr std::uint16_t kStatic = 0x0082;

struct Control {
  std::uint32_t id;
  std::uint16_t classAtom;  // 0 when the class is given by name
  std::string className;
  std::uint32_t style;
  std::string text;
  short x, y, cx, cy;
};

struct Template {
  std::uint32_t style;
  std::uint32_t exStyle;
  short cx, cy;
  std::string caption;
  std::uint16_t pointSize;
  std::string typeface;
  std::vector<Control> controls;
};

// Reads a DLGTEMPLATEEX: a string or ordinal is 0xFFFF plus a WORD, or a zero-ended UTF-16 string.
class TemplateReader {
 public:
  explicit TemplateReader(const std::uint8_t* data) : p_(data), start_(data) {}
  template <typename T>
  T Read() {
    T value;
    std::memcpy(&value, p_, sizeof(T));
    p_ += sizeof(T);
    return value;
  }
  std::string ReadString() {
    std::string text;
    for (std::uint16_t c = Read<std::uint16_t>(); c != 0; c = Read<std::uint16_t>()) {
      text += static_cast<char>(c);  // the template's texts are all ASCII
    }
    return text;
  }
  // Returns the ordinal, or 0 with `name` set.
  std::uint16_t ReadOrdinalOrString(std::string& name) {
    std::uint16_t first;
    std::memcpy(&first, p_, sizeof(first));
    if (first == 0xFFFF) {
      p_ += 2;
      return Read<std::uint16_t>();
    }
    name = ReadString();
    return 0;
  }
  void AlignToDword() {
    while ((p_ - start_) % 4 != 0) ++p_;
  }
  void Skip(std::size_t bytes) { p_ += bytes; }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* start_;
};

const std::uint8_t* LoadResourceBytes(LPCSTR name, LPCSTR type) {
  HRSRC found = FindResourceA(nullptr, name, type);
  if (found == nullptr) return nullptr;
  return static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, found)));
}

Template ReadMainDialog() {
  Template out{};
  const std::uint8_t* data =
      LoadResourceBytes(MAKEINTRESOURCEA(IDD_MAIN_DIALOG), MAKEINTRESOURCEA(5));  // RT_DIALOG
  if (data == nullptr) return out;
  TemplateReader reader(data);
  EXPECT_EQ(reader.Read<std::uint16_t>(), 1);       // dlgVer
  EXPECT_EQ(reader.Read<std::uint16_t>(), 0xFFFF);  // signature: an extended template
  reader.Read<std::uint32_t>();                     // helpID
  out.exStyle = reader.Read<std::uint32_t>();
  out.style = reader.Read<std::uint32_t>();
  const auto count = reader.Read<std::uint16_t>();
  reader.Read<short>();
  reader.Read<short>();
  out.cx = reader.Read<short>();
  out.cy = reader.Read<short>();
  std::string ignored;
  reader.ReadOrdinalOrString(ignored);  // menu
  reader.ReadOrdinalOrString(ignored);  // class
  out.caption = reader.ReadString();
  out.pointSize = reader.Read<std::uint16_t>();
  reader.Read<std::uint16_t>();  // weight
  reader.Read<std::uint8_t>();   // italic
  reader.Read<std::uint8_t>();   // charset
  out.typeface = reader.ReadString();
  for (int i = 0; i < count; ++i) {
    reader.AlignToDword();
    Control control{};
    reader.Read<std::uint32_t>();  // helpID
    reader.Read<std::uint32_t>();  // exStyle
    control.style = reader.Read<std::uint32_t>();
    control.x = reader.Read<short>();
    control.y = reader.Read<short>();
    control.cx = reader.Read<short>();
    control.cy = reader.Read<short>();
    control.id = reader.Read<std::uint32_t>();
    control.classAtom = reader.ReadOrdinalOrString(control.className);
    std::string text;
    if (reader.ReadOrdinalOrString(text) == 0) control.text = text;
    reader.Skip(reader.Read<std::uint16_t>());  // creation data
    out.controls.push_back(control);
  }
  return out;
}

bool Has(std::uint32_t style, std::uint32_t bits) {
  return (style & bits) == bits;
}

TEST(DialogTemplateTest, TheWindowItself) {
  const Template dialog = ReadMainDialog();
  ASSERT_FALSE(dialog.controls.empty()) << "template 102 not found";
  EXPECT_EQ(dialog.cx, 320);
  EXPECT_EQ(dialog.cy, 97);
  EXPECT_EQ(dialog.typeface, "MS Shell Dlg");
  EXPECT_EQ(dialog.pointSize, 8);
  EXPECT_EQ(dialog.caption, "KT7310 Write EEPROM (MP)");
  EXPECT_TRUE(Has(dialog.style, WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SHELLFONT));
  // No system menu: no close, minimise or maximise box; Exit is the way out.
  EXPECT_FALSE(dialog.style & WS_SYSMENU);
  EXPECT_TRUE(Has(dialog.exStyle, WS_EX_APPWINDOW));
}

TEST(DialogTemplateTest, EveryControlInTabOrder) {
  struct Expected {
    std::uint32_t id;
    std::uint16_t classAtom;
    std::uint32_t styleBits;
    bool visible;
    const char* text;
    short x, y, cx, cy;
  };
  const std::uint32_t kLabel = SS_LEFT | WS_GROUP;
  const std::uint32_t kField = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
  const std::vector<Expected> expected = {
      {1, kButton, BS_DEFPUSHBUTTON | WS_TABSTOP, true, "Exit", 263, 76, 50, 14},
      {1008, kStatic, kLabel, true, "File Name", 7, 9, 32, 8},
      {1000, kEdit, ES_LEFT | kField, true, "", 42, 7, 252, 14},
      {1001, kButton, BS_PUSHBUTTON | WS_TABSTOP, true, "...", 297, 7, 16, 14},
      {1002, kButton, BS_PUSHBUTTON | WS_TABSTOP, true, "Write EEPROM", 238, 35, 75, 14},
      {1003, 0, WS_BORDER, true, "", 7, 49, 306, 19},
      {1013, kStatic, kLabel, true, "Vendor ID", 7, 36, 33, 8},
      {1004, kEdit, ES_CENTER | kField, true, "", 43, 34, 40, 14},
      {1014, kStatic, kLabel, true, "Product ID", 93, 36, 35, 8},
      {1005, kEdit, ES_CENTER | kField, true, "", 131, 34, 40, 14},
      {1006, kStatic, SS_CENTER | WS_GROUP, false, "00", 47, 82, 24, 8},
      {1007, kStatic, SS_CENTER | WS_GROUP, false, "00", 7, 82, 21, 8},
      {1009, kButton, BS_AUTOCHECKBOX | WS_TABSTOP, false, " EEPROM WP", 179, 36, 58, 10},
      {1010, kStatic, SS_RIGHT | WS_GROUP, true, "", 245, 81, 16, 8},
      {1011, kButton, BS_PUSHBUTTON | WS_TABSTOP, false, "Erase EEPROM", 201, 76, 60, 14},
      {1012, kButton, BS_AUTOCHECKBOX | WS_TABSTOP, true,
       "Use EVB VID (0x3B7D) and PID (0x0001, High Speed), PID (0x0002, Full Speed)", 7, 22, 271, 10},
  };
  const Template dialog = ReadMainDialog();
  ASSERT_EQ(dialog.controls.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Control& got = dialog.controls[i];
    const Expected& want = expected[i];
    SCOPED_TRACE("control " + std::to_string(want.id));
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.classAtom, want.classAtom);
    if (want.classAtom == 0) {
      // Window class names are not case-sensitive; the resource compiler writes them in capitals.
      std::string name = got.className;
      CharUpperA(name.data());
      EXPECT_EQ(name, "MSCTLS_PROGRESS32");
    }
    EXPECT_TRUE(Has(got.style, want.styleBits)) << std::hex << got.style;
    EXPECT_EQ((got.style & WS_VISIBLE) != 0, want.visible);
    EXPECT_EQ(got.text, want.text);
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.cx, want.cx);
    EXPECT_EQ(got.cy, want.cy);
    // The simulated-board label, made at run time, covers none of them.
    const RECT& l = kSimulatedBoardRect;
    EXPECT_TRUE(got.x >= l.right || l.left >= got.x + got.cx || got.y >= l.bottom || l.top >= got.y + got.cy);
  }
  // The progress bar is the plain, segmented kind.
  EXPECT_FALSE(dialog.controls[5].style & 0x01);  // PBS_SMOOTH
}

TEST(ApplicationIconTest, HasThreeSizesAtThreeDepths) {
  const std::uint8_t* group =
      LoadResourceBytes(MAKEINTRESOURCEA(IDR_MAINFRAME), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_NE(group, nullptr);
  std::uint16_t count;
  std::memcpy(&count, group + 4, sizeof(count));
  std::vector<std::pair<int, int>> images;  // size, bits per pixel
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = group + 6 + 14 * i;  // GRPICONDIRENTRY
    std::uint16_t bits;
    std::memcpy(&bits, entry + 6, sizeof(bits));
    images.emplace_back(entry[0] == 0 ? 256 : entry[0], bits);
  }
  const std::vector<std::pair<int, int>> expected = {{48, 4},  {48, 8}, {48, 24}, {32, 4}, {32, 8},
                                                     {32, 24}, {16, 4}, {16, 8},  {16, 24}};
  EXPECT_EQ(images, expected);
}

}  // namespace
}  // namespace kt
