#include "hid/sim/sim_eeprom_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/atomic_file.h"
#include "base/open_file.h"

namespace kt {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string SystemMessage() {
  return std::strerror(errno);
}

}  // namespace

EepromFileLoad LoadEepromFile(const std::string& path, std::size_t size, std::vector<std::uint8_t>& out,
                              std::string& error) {
  File file(OpenFile(path, "rb"));
  if (!file && errno == ENOENT) return EepromFileLoad::kMissing;
  if (!file) {
    error = "cannot open the EEPROM file \"" + path + "\": " + SystemMessage();
    return EepromFileLoad::kFailed;
  }
  std::vector<std::uint8_t> bytes(size + 1);
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get())) {
    error = "cannot read the EEPROM file \"" + path + "\": " + SystemMessage();
    return EepromFileLoad::kFailed;
  }
  if (got != size) {
    error = "the EEPROM file \"" + path + "\" is not " + std::to_string(size) + " bytes long";
    return EepromFileLoad::kFailed;
  }
  bytes.resize(size);
  out = std::move(bytes);
  return EepromFileLoad::kLoaded;
}

bool SaveEepromFile(const std::string& path, const std::vector<std::uint8_t>& eeprom, std::string& error) {
  std::string why;
  if (WriteFileAtomically(path, eeprom.data(), eeprom.size(), why)) return true;
  error = "cannot save the EEPROM file: " + why;
  return false;
}

}  // namespace kt
