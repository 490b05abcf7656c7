#!/bin/sh
# Checks that the Windows programs of a build are what we ship: PE32, Intel 80386, and (for the window
# program) the GUI subsystem. Usage: check-pe32.sh BUILD_DIR
set -eu
. "$(dirname "$0")/windows-programs.sh"
dir=$1
for name in $windows_programs; do
  exe=$(shipped_program "$dir" "$name")
  info=$(file -b "$exe")
  case "$info" in
    PE32\ executable*Intel\ 80386*) ;;
    *) echo "$exe: not a 32-bit Intel PE: $info" >&2; exit 1;;
  esac
  if [ "$name" = KT701xWriteEepromMP.exe ]; then
    case "$info" in *"(GUI)"*) ;; *) echo "$exe: not a GUI program: $info" >&2; exit 1;; esac
  fi
  echo "ok: $name: $info"
done
