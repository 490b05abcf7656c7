#!/bin/sh
# Installs the Debian 12 packages a make target needs, only those missing. Usage: install-deps.sh GROUP...
# Groups: build (native build and tests), windows (cross build and Wine), fuzz (clang + libFuzzer),
# system (the guest the system tests boot under qemu), package (the Debian package: CPack's dependency list
# and lintian), package_windows (the Windows zip).
set -eu

pkgs_build="cmake make g++ pkg-config googletest libudev-dev libfltk1.3-dev fluid libssl-dev nlohmann-json3-dev xvfb xdotool x11-utils imagemagick python3 time iproute2"
# wine32 is left out on purpose: a kernel without IA-32 emulation cannot run it, and with it installed
# /usr/bin/wine would choose it.
pkgs_windows="g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix nlohmann-json3-dev wine wine64 file xvfb xdotool x11-utils imagemagick"
pkgs_fuzz="clang libclang-rt-14-dev"
# The guest runs this machine's own programs (udev among them) through a chroot of its root; its kernel
# runs 32-bit code, so the shipped 32-bit Windows programs run there under wine32 (the host's Windows
# tests name the 64-bit loader directly and are not affected by it).
pkgs_system="qemu-system-x86 busybox-static cpio udev xz-utils wine32:i386"
# dpkg-shlibdeps (dpkg-dev) computes the package's Depends, and CPack finds the programs for it with file.
pkgs_package="dpkg-dev file lintian"
pkgs_package_windows="zip"

want=""
for group in "$@"; do
  eval "want=\"\$want \$pkgs_$group\""
done

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

case "$want" in *:i386*)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    as_root rm -f /var/lib/apt/lists/.kt-updated
  fi;;
esac

missing=""
for p in $want; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
as_root apt-get update -qq
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
