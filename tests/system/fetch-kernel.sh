#!/bin/sh
# Fetches the Debian kernel the guest boots: OUTDIR/vmlinux (the bzImage's payload, uncompressed, which
# qemu starts through its PVH note) and the modules under OUTDIR/lib/modules/VERSION/. Nothing is done
# when OUTDIR/vmlinux is there already. The package is the one linux-image-amd64 depends on, unless
# KT_KERNEL_PACKAGE names another.
# Usage: fetch-kernel.sh OUTDIR
set -eu

[ $# -eq 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 64; }
out=$1
[ -f "$out/vmlinux" ] && exit 0

package=${KT_KERNEL_PACKAGE:-}
if [ -z "$package" ]; then
  depends() { apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1; }
  package=$(depends)
  if [ -z "$package" ]; then
    apt-get update -qq
    package=$(depends)
  fi
  [ -n "$package" ] || { echo "$0: no kernel package behind linux-image-amd64" >&2; exit 1; }
fi

mkdir -p "$out"
work=$(mktemp -d "$out/.fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get download -qq "$package" 2>&1 | grep -v "unsandboxed as root" >&2 || true)
deb=$(ls "$work"/*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "$0: could not download $package" >&2; exit 1; }
dpkg-deb -x "$deb" "$work/tree"

bzimage=$(ls "$work"/tree/boot/vmlinuz-* | head -n 1)
# The payload starts at one of these magics; the first offset whose stream unpacks to an ELF file wins.
# Every decompressor is told to stop after its first stream: the bzImage's tail follows it.
found=""
for kind in xz zstd gzip; do
  case $kind in
    xz) magic='\xfd7zXZ\x00' tool="xz -dc --single-stream" ;;
    zstd) magic='\x28\xb5\x2f\xfd' tool="zstd -dcq" ;;
    gzip) magic='\x1f\x8b\x08' tool="gzip -dcq" ;;
  esac
  command -v "${tool%% *}" >/dev/null || continue
  for offset in $(LC_ALL=C grep -obUaP "$magic" "$bzimage" | cut -d: -f1); do
    tail -c +"$((offset + 1))" "$bzimage" | $tool >"$work/vmlinux" 2>/dev/null || true
    if [ "$(head -c 4 "$work/vmlinux" | od -An -c | tr -d ' ')" = '177ELF' ]; then
      found=$kind
      break 2
    fi
  done
done
[ -n "$found" ] || { echo "$0: no compressed ELF kernel found in $bzimage" >&2; exit 1; }

rm -rf "${out:?}/lib" "${out:?}/boot"
mv "$work/tree/lib" "$work/tree/boot" "$out/"
mv "$work/vmlinux" "$out/vmlinux"
echo "kernel $(ls "$out/lib/modules") ($package, $found payload) in $out"
