# Sourced by the Windows build's scripts: the two programs we ship, and where a build folder has them.
# shellcheck shell=sh
windows_programs="KT701xWriteEepromMP.exe kt7310-eeprom.exe"

# shipped_program DIR NAME: prints the path of NAME under DIR (not CMake's own copies); fails, naming what
# is missing, when DIR has none.
shipped_program() {
  found=$(find "$1" -name "$2" -not -path '*/CMakeFiles/*' | head -n 1)
  [ -n "$found" ] || { echo "$2: not built in $1" >&2; return 1; }
  printf '%s\n' "$found"
}
