#!/bin/sh
# Installs the Debian package as a user would, runs the installed command line (its version, and a whole
# write on the simulated board in virtual time), removes the package again and checks that nothing it
# installed is left. Usage: check-deb.sh PACKAGE.deb
# It installs and removes a package on this machine (as root, or through sudo): for CI and scratch machines.
set -eu

deb=$1
[ -f "$deb" ] || { echo "$deb: no such file" >&2; exit 1; }
# apt-get takes an argument for a file only when it starts with / or ./ (pkg/release names a release).
case "$deb" in /*|./*) ;; *) deb=./$deb;; esac

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

name=$(dpkg-deb -f "$deb" Package)
version=$(dpkg-deb -f "$deb" Version)
# installed, config-files, ..., or nothing when dpkg does not know the package at all.
status() { dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null || true; }

case "$(status)" in
  ""|not-installed) ;;
  *) echo "$name is already on this machine ($(status)); this check would remove it: remove it first" >&2
     exit 1;;
esac

work=$(mktemp -d)
installed=false
cleanup() {
  rc=$?
  # A check that failed half-way leaves no package behind (the system tests read this machine's root).
  if $installed || [ "$(status)" = config-files ]; then
    as_root dpkg --purge "$name" >/dev/null || true
  fi
  rm -rf "$work"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() { echo "check-deb: FAIL: $*" >&2; exit 1; }

echo "check-deb: installing $deb"
installed=true
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb"
[ "$(status)" = installed ] || fail "$name is not installed after the install ($(status))"
dpkg -L "$name" >"$work/files"

for program in /usr/bin/kt7310-eeprom /usr/bin/KT701xWriteEepromMP; do
  [ -x "$program" ] || fail "$program is not installed"
  # Every library the program needs is on the machine: the package's Depends brought them.
  if ldd "$program" | grep 'not found'; then fail "$program: libraries missing"; fi
done

out=$(cd "$work" && /usr/bin/kt7310-eeprom --version) || fail "kt7310-eeprom --version exited $?"
echo "$out"
[ "$out" = "kt7310-eeprom $version" ] || fail "--version says \"$out\", the package is $version"

# The default simulated board is programmed: the job takes the erase path, and the board re-plugs itself.
rc=0
(cd "$work" && /usr/bin/kt7310-eeprom write --simulate=virtual-time --yes >"$work/write.out" 2>"$work/write.err") ||
  rc=$?
cat "$work/write.out"
if [ $rc -ne 0 ] || ! grep -qx 'Write to EEPROM OK!' "$work/write.out"; then
  cat "$work/write.err" >&2
  fail "the simulated write from /usr/bin exited $rc"
fi

# Paths of the package's list still on the machine, one line each on stderr; fails when there are any.
left_over() {
  n=0
  while IFS= read -r path; do
    case "$path" in /.|"") continue;; /*) ;; *) continue;; esac
    if [ -d "$path" ]; then
      # A folder shared with other packages stays (on merged /usr, /lib is a link and theirs too), and so
      # does one that holds something that is not this package's; an empty one that nobody owns should
      # have gone with the package.
      dpkg-query -S "$path" >/dev/null 2>&1 && continue
      if [ -n "$(ls -A "$path")" ]; then
        echo "check-deb: note: $path stays, it is not empty: $(ls -A "$path" | tr '\n' ' ')"
        continue
      fi
      echo "check-deb: left: $path/" >&2
      n=$((n + 1))
    elif [ -e "$path" ] || [ -L "$path" ]; then
      echo "check-deb: left: $path" >&2
      n=$((n + 1))
    fi
  done <"$work/files"
  [ "$n" -eq 0 ]
}

# Removed, the package leaves nothing, conffiles included; dpkg may keep a record of it (config-files)
# for its postrm to run at the purge. Purged, dpkg forgets it.
echo "check-deb: removing $name"
as_root dpkg -r "$name"
installed=false
case "$(status)" in
  ""|not-installed|config-files) ;;
  *) fail "dpkg still has $name as $(status) after the removal";;
esac
left_over || fail "the removal of $name left files behind"
as_root dpkg --purge "$name"
case "$(status)" in
  ""|not-installed) ;;
  *) fail "dpkg still has $name as $(status) after the purge";;
esac
left_over || fail "the purge of $name left files behind"
echo "check-deb: ok: $deb installs, runs from /usr/bin and leaves nothing when removed ($(wc -l <"$work/files") paths)"
