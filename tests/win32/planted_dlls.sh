#!/bin/sh
# The command line unzipped into a folder that also holds hid.dll, bcrypt.dll, cfgmgr32.dll and winmm.dll
# of someone else's (each writes its name into a marker file when loaded), with Wine told to prefer a
# DLL from the program's folder as Windows does for a DLL that is not a KnownDLL: the program must load
# none of them and still do its work. A probe that loads the same names carelessly shows first that the
# plant would be taken.
#
# Usage: planted_dlls.sh WINE_RUNNER PROGRAM_EXE PLANTED_DIR (the planted DLLs and planted_probe.exe)
set -u
WINE_RUN=$1
PROGRAM=$2
PLANTED=$3
names="hid.dll bcrypt.dll cfgmgr32.dll winmm.dll"

dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
cp "$PROGRAM" "$dir/kt7310-eeprom.exe"
cp "$PLANTED/planted_probe.exe" "$dir/"
for name in $names; do cp "$PLANTED/$name" "$dir/"; done
# Wine maps drive Z: to the root of the Unix tree.
KT_PLANTED_MARKER="Z:$dir/loaded.txt"
export KT_PLANTED_MARKER
WINEDLLOVERRIDES="mscoree,mshtml=;hid,bcrypt,cfgmgr32,winmm=n,b"
export WINEDLLOVERRIDES

failures=0
fail() {
  printf 'FAIL: %s\n' "$*"
  failures=$((failures + 1))
}

# shellcheck disable=SC2086  # the names are words
(cd "$dir" && timeout 120 "$WINE_RUN" ./planted_probe.exe $names)
for name in $names; do
  grep -qx "$name" "$dir/loaded.txt" 2>/dev/null || fail "the probe did not load the planted $name: the check would prove nothing"
done
rm -f "$dir/loaded.txt"

# command | exit statuses that count as success (a plain `list` under Wine finds no board: 2)
while IFS='|' read -r args statuses; do
  # shellcheck disable=SC2086  # the arguments are words
  (cd "$dir" && timeout 120 "$WINE_RUN" ./kt7310-eeprom.exe $args >"$dir/out.txt" 2>&1)
  status=$?
  case " $statuses " in
    *" $status "*) printf 'ok: kt7310-eeprom %s: %s\n' "$args" "$status";;
    *) fail "kt7310-eeprom $args: exit status $status, wanted one of $statuses"; cat "$dir/out.txt";;
  esac
  if [ -e "$dir/loaded.txt" ]; then
    fail "kt7310-eeprom $args loaded the planted $(tr '\n' ' ' <"$dir/loaded.txt")"
    rm -f "$dir/loaded.txt"
  fi
done <<'ROWS'
list --simulate|0
write --simulate=blank,virtual-time --yes|0
list|0 2
ROWS

[ "$failures" = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "no planted DLL was loaded"
