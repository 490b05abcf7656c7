#!/bin/sh
# Zips the shipped 32-bit Windows programs of a build with the README and the licences:
# OUT_DIR/kt7310-eeprom-VERSION-win32.zip, one folder of that name inside. The programs are stripped
# copies, checked again as they go into the zip (PE32 i386, no DLL but Windows' own).
# Usage: package-windows.sh BUILD_DIR OUT_DIR
set -eu
build=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
. "$here/windows-programs.sh"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "$build: no project version in CMakeCache.txt (not configured?)" >&2; exit 1; }
name=kt7310-eeprom-$version-win32

mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -rf "${out:?}/$name" "$out/$name.zip"
mkdir "$out/$name"
for exe in $windows_programs; do
  found=$(shipped_program "$build" "$exe")
  # The debug info is for us; the operator's copy goes without it (a tenth of the size).
  i686-w64-mingw32-strip -o "$out/$name/$exe" "$found"
done
sh "$here/check-pe32.sh" "$out/$name"
sh "$here/check-pe-imports.sh" "$out/$name"

# Text files as Notepad shows them everywhere: CRLF line ends (a filter).
crlf() { sed 's/\r*$/\r/'; }
crlf <"$top/README.md" >"$out/$name/README.txt"
crlf <"$top/LICENSE" >"$out/$name/LICENSE.txt"
# What is linked into the programs from elsewhere comes with its notices: the MinGW-w64 runtime and
# winpthreads, and nlohmann/json (libstdc++ and libgcc, under the GCC Runtime Library Exception, need none).
{
  echo "The programs are linked statically with the MinGW-w64 runtime (winpthreads among it) and contain"
  echo "nlohmann/json. Their copyright and licence texts, as Debian ships them with the packages they were"
  echo "built from, follow."
  for pkg in mingw-w64-i686-dev nlohmann-json3-dev; do
    echo
    echo "==== $pkg"
    echo
    cat "/usr/share/doc/$pkg/copyright"
  done
} | crlf >"$out/$name/THIRD-PARTY.txt"

# -X: no Unix owners or extra time stamps in the entries, nothing a Windows user could use.
(cd "$out" && zip -q -r -X -9 "$name.zip" "$name")
ls -l "$out/$name.zip"
cmake -E tar tvf "$out/$name.zip"
