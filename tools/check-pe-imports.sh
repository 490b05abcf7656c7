#!/bin/sh
# Checks the DLLs a Windows program imports, so that each .exe runs on its own and from any folder:
#  - only Windows' own DLLs: a libstdc++, libgcc or winpthread DLL (a build without -static) or any other
#    DLL we would have to ship fails;
#  - of those, only KnownDLLs, which the loader maps from the system's own list and never looks for
#    elsewhere. Any other DLL (hid, bcrypt, cfgmgr32, winmm, ...) is looked for beside the program first,
#    so a copy planted there (the zip unpacked into a Downloads folder) would run inside the program: the
#    programs load such DLLs from System32 at run time instead (src/base/system_dll_win32.h);
#  - comctl32 only where the program's manifest binds the side-by-side Common Controls, which the loader
#    then takes from the system's WinSxS store before it would look beside the program.
# Usage: check-pe-imports.sh PATH... (a .exe, or a folder: the two shipped programs in it)
set -eu
. "$(dirname "$0")/windows-programs.sh"

# Lower case. ntdll is mapped into every process before anything is looked for; api-ms-win-* are the API
# sets of Windows 7 and later, which the loader resolves itself.
known="ntdll kernel32 user32 gdi32 advapi32 comdlg32 shell32 shlwapi ole32 oleaut32 setupapi msvcrt rpcrt4
sechost imm32 ws2_32 psapi imagehlp normaliz nsi wldap32 combase clbcatq coml2 difxapi gdiplus msctf shcore"
# Windows' own, but not KnownDLLs.
searched="comctl32 hid cfgmgr32 bcrypt winmm crypt32 ucrtbase uxtheme version dwmapi winspool.drv"

listed() {
  for w in $2; do [ "$1" = "$w" ] && return 0; done
  return 1
}

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
  sxs_comctl32=false
  LC_ALL=C grep -aq 'name="Microsoft.Windows.Common-Controls"' "$exe" && sxs_comctl32=true
  foreign=""
  planted=""
  for dll in $dlls; do
    base=$(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]')
    case "$base" in api-ms-win-*) continue;; esac
    base=${base%.dll}
    if listed "$base" "$known" || { [ "$base" = comctl32 ] && $sxs_comctl32; }; then
      continue
    elif listed "$base" "$searched"; then
      planted="$planted $dll"
    else
      foreign="$foreign $dll"
    fi
  done
  status=0
  if [ -n "$foreign" ]; then
    echo "$exe: imports DLLs that are not Windows' own:$foreign (link it with -static)" >&2
    status=1
  fi
  if [ -n "$planted" ]; then
    echo "$exe: imports DLLs that are not KnownDLLs:$planted. Windows looks for such a DLL beside the" \
      "program before System32, so a copy planted there would be loaded: take its functions through" \
      "SystemDll (src/base/system_dll_win32.h), which loads it from System32 only" >&2
    case " $(echo "$planted" | tr '[:upper:]' '[:lower:]') " in *" comctl32.dll "*)
      echo "$exe: for comctl32, a manifest that binds Microsoft.Windows.Common-Controls serves too" >&2;;
    esac
    status=1
  fi
  [ $status = 0 ] || return 1
  note=""
  $sxs_comctl32 && note=" (comctl32 as the manifest's side-by-side Common Controls)"
  echo "ok: $(basename "$exe") imports only KnownDLLs$note: $(echo "$dlls" | tr '\n' ' ')"
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
