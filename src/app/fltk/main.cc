#include <string>
#include <vector>

#include "app/fltk/write_eeprom_app.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return kt::RunWriteEepromApp(argc > 0 ? argv[0] : "KT701xWriteEepromMP", args);
}
