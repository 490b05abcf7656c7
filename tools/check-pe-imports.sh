#!/bin/sh
# Checks that Windows programs import only DLLs every Windows has, so that each .exe runs on its own: a
# libstdc++, libgcc or winpthread DLL (a build without -static) or any other DLL we would have to ship
# fails. Usage: check-pe-imports.sh PATH... (a .exe, or a folder: the two shipped programs in it)
set -eu
. "$(dirname "$0")/windows-programs.sh"

# Windows' own DLLs, lower case; api-ms-win-* are the API sets of Windows 7 and later.
allowed="kernel32 user32 gdi32 comctl32 comdlg32 advapi32 shell32 ole32 oleaut32 setupapi hid cfgmgr32
bcrypt crypt32 msvcrt ucrtbase ntdll ws2_32 shlwapi uxtheme version imm32 winmm rpcrt4 dwmapi winspool.drv"

check() {
  exe=$1
  case "$(file -b "$exe")" in
    PE32+*) objdump=x86_64-w64-mingw32-objdump;;
    PE32*) objdump=i686-w64-mingw32-objdump;;
    *) echo "$exe: not a Windows program: $(file -b "$exe")" >&2; return 1;;
  esac
  dlls=$($objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' | tr -d '\r' | sort -fu)
  if [ -z "$dlls" ]; then
    echo "$exe: no imports found ($objdump -p)" >&2
    return 1
  fi
  bad=""
  for dll in $dlls; do
    base=$(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]')
    case "$base" in api-ms-win-*) continue;; esac
    base=${base%.dll}
    ok=false
    for a in $allowed; do
      [ "$base" = "$a" ] && ok=true && break
    done
    $ok || bad="$bad $dll"
  done
  if [ -n "$bad" ]; then
    echo "$exe: imports DLLs that are not Windows' own:$bad (link it with -static)" >&2
    return 1
  fi
  echo "ok: $(basename "$exe") imports only system DLLs: $(echo "$dlls" | tr '\n' ' ')"
}

status=0
for path in "$@"; do
  if [ -d "$path" ]; then
    for name in $windows_programs; do
      if exe=$(shipped_program "$path" "$name"); then check "$exe" || status=1; else status=1; fi
    done
  else
    check "$path" || status=1
  fi
done
exit $status
