#!/bin/sh
# Checks that the Windows programs of a build are what we ship: PE32, Intel 80386, and (for the window
# program) the GUI subsystem. Usage: check-pe32.sh BUILD_DIR
set -eu
dir=$1
found=0
for exe in $(find "$dir" -name '*.exe' -not -path '*/googletest/*' -not -name '*_tests.exe'); do
  found=1
  info=$(file -b "$exe")
  case "$info" in
    PE32\ executable*Intel\ 80386*) ;;
    *) echo "$exe: not a 32-bit Intel PE: $info" >&2; exit 1;;
  esac
  case "$(basename "$exe")" in
    KT701xWriteEepromMP.exe)
      case "$info" in *"(GUI)"*) ;; *) echo "$exe: not a GUI program: $info" >&2; exit 1;; esac;;
  esac
  echo "ok: $(basename "$exe"): $info"
done
[ "$found" = 1 ] || echo "no programs in $dir yet"
