#!/bin/sh
# Runs a cross-built Windows program under Wine, quietly, in the build's own prefix.
: "${WINEDEBUG:=-all}"
: "${WINEPREFIX:=${HOME}/.wine-kt7310}"
export WINEDEBUG WINEPREFIX WINEARCH=win32
exec wine "$@"
