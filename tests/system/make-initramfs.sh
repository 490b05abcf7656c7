#!/bin/sh
# Builds the guest's initramfs: busybox, the modules the guest loads (with everything they depend on, in
# dependency order, listed in /modules.list) and guest-init.sh as /init.
# Usage: make-initramfs.sh KERNELDIR OUT.cpio.gz   (KERNELDIR as left by fetch-kernel.sh)
set -eu

[ $# -eq 2 ] || { echo "usage: $0 KERNELDIR OUT.cpio.gz" >&2; exit 64; }
kernel=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
version=$(ls "$kernel/lib/modules" | head -n 1)
moddir=$kernel/lib/modules/$version
busybox=$(command -v busybox || true)
[ -n "$busybox" ] || { echo "$0: no busybox (install busybox-static)" >&2; exit 1; }

# The modules the guest needs, each with its parameters. What they depend on is loaded before them.
wanted="9pnet_virtio virtio_pci 9p hid hid_generic uhid usbhid dummy_hcd:num=3 libcomposite usb_f_hid"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/root/bin" "$work/root/lib/modules" "$work/root/dev" "$work/root/proc" "$work/root/sys" "$work/root/host"

# Module names treat '-' and '_' alike.
norm() { echo "$1" | tr - _; }
(cd "$moddir" && find kernel -name '*.ko') | while read -r path; do
  name=${path##*/}
  echo "$(norm "${name%.ko}") $path"
done >"$work/index"

# Depth first, so that every module comes after what it depends on. The shell has no locals: what must
# survive the recursion is kept in the positional parameters (NAME PARAMS PATH).
loaded=" "
load() {  # NAME [PARAMS]
  set -- "$(norm "$1")" "${2:-}"
  case $loaded in *" $1 "*) return 0 ;; esac
  set -- "$1" "$2" "$(awk -v n="$1" '$1 == n { print $2; exit }' "$work/index")"
  if [ -z "$3" ]; then
    grep -q "/\($1\|$(echo "$1" | tr _ -)\)\.ko\$" "$moddir/modules.builtin" ||
      { echo "$0: module $1 is neither in $moddir nor built in" >&2; exit 1; }
    loaded="$loaded$1 "
    return 0
  fi
  for dep in $(tr '\0' '\n' <"$moddir/$3" | sed -n 's/^depends=//p' | head -n 1 | tr , ' '); do
    load "$dep"
  done
  cp "$moddir/$3" "$work/root/lib/modules/"
  echo "${3##*/} $2" >>"$work/root/modules.list"
  loaded="$loaded$1 "
}
for module in $wanted; do
  case $module in
    *:*) load "${module%%:*}" "${module#*:}" ;;
    *) load "$module" ;;
  esac
done

cp "$busybox" "$work/root/bin/busybox"
ln -s busybox "$work/root/bin/sh"
cp "$here/guest-init.sh" "$work/root/init"
chmod 755 "$work/root/init"
echo "$version" >"$work/root/kernel-version"

mkdir -p "$(dirname "$out")"
(cd "$work/root" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) | gzip -1 >"$out.tmp"
mv "$out.tmp" "$out"
echo "initramfs for $version in $out, modules: $(cut -d' ' -f1 "$work/root/modules.list" | sed 's/\.ko$//' | tr '\n' ' ')"
