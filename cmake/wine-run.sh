#!/bin/sh
# Runs a cross-built Windows program under 64-bit Wine, quietly, in a prefix of its own.
# /usr/bin/wine would pick the 32-bit loader when wine32 is installed, which cannot run on a kernel
# without IA-32 emulation, so the 64-bit loader is named directly.
: "${WINEDEBUG:=-all}"
: "${WINEPREFIX:=${HOME}/.wine-kt7310-64}"
export WINEDEBUG WINEPREFIX
if [ -x /usr/lib/wine/wine64 ]; then
  exec /usr/lib/wine/wine64 "$@"
fi
exec wine64 "$@"
