#include "hid/sim/sim_eeprom_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

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
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) return EepromFileLoad::kMissing;
  File file(std::fopen(path.c_str(), "rb"));
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
  const std::string temporary = path + ".tmp";
  {
    File file(std::fopen(temporary.c_str(), "wb"));
    if (!file) {
      error = "cannot create \"" + temporary + "\": " + SystemMessage();
      return false;
    }
    const bool written = std::fwrite(eeprom.data(), 1, eeprom.size(), file.get()) == eeprom.size();
    if (!written || std::fflush(file.get()) != 0) {
      error = "cannot write \"" + temporary + "\": " + SystemMessage();
      file.reset();
      std::remove(temporary.c_str());
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    error = "cannot replace \"" + path + "\": " + ec.message();
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace kt
