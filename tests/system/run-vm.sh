#!/bin/sh
# Boots the Debian kernel under qemu and runs SCRIPT with ARGS inside it, in a chroot of this machine's
# root (see guest-init.sh). The console goes to RESULTS/console.log, the script's own output to
# RESULTS/guest.log. Exits 0 only when the guest reports that the script succeeded.
# Usage: run-vm.sh SCRIPT [ARGS...] RESULTS
# Environment: KT_VM_TIMEOUT (seconds for the whole VM, 3000), KT_SYSTEM_CACHE (kernel and initramfs,
# build/system), KT_VM_MEMORY (2G).
set -eu

[ $# -ge 2 ] || { echo "usage: $0 SCRIPT [ARGS...] RESULTS" >&2; exit 64; }
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
cache=${KT_SYSTEM_CACHE:-$root/build/system}
limit=${KT_VM_TIMEOUT:-3000}

script=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
args=""
while [ $# -gt 1 ]; do
  case $1 in *[[:space:]\"]*) echo "$0: guest arguments cannot hold blanks or quotes: $1" >&2; exit 64 ;; esac
  args="$args${args:+ }$1"
  shift
done
mkdir -p "$1"
results=$(cd "$1" && pwd)
case $script$results$PWD in *[[:space:]\"]*) echo "$0: paths with blanks or quotes cannot go to the guest" >&2; exit 64 ;; esac
# The guest has /tmp and /run of its own; a source tree under one of them (a CI clone, say) is carried
# over into the guest's (kt.tree), so the scripts and the build tree stay where they are.

sh "$here/fetch-kernel.sh" "$cache/kernel"
initramfs=$cache/initramfs.cpio.gz
if [ ! -f "$initramfs" ] || [ -n "$(find "$here/make-initramfs.sh" "$here/guest-init.sh" "$cache/kernel/vmlinux" \
  -newer "$initramfs")" ]; then
  sh "$here/make-initramfs.sh" "$cache/kernel" "$initramfs"
fi

# A hypervisor that cannot run a stock kernel also shows /dev/kvm: KVM only with VMX or SVM in the flags.
if grep -qwE 'vmx|svm' /proc/cpuinfo && [ -w /dev/kvm ]; then
  accel="-accel kvm -cpu host"
else
  accel="-accel tcg -cpu max,-smap,-smep"
fi

console=$results/console.log
rm -f "$console" "$results/guest.log" "$results/guest-status"
# The guest's own watchdog ends the script a little before this side gives up on the whole VM.
guest_limit=$((limit > 120 ? limit - 60 : limit / 2))
status=0
# shellcheck disable=SC2086
timeout -k 10 "$limit" qemu-system-x86_64 $accel -m "${KT_VM_MEMORY:-2G}" -smp 2 \
  -nodefaults -display none -serial stdio -monitor none -no-reboot \
  -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
  -kernel "$cache/kernel/vmlinux" -initrd "$initramfs" \
  -virtfs local,path=/,mount_tag=hostfs,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=$results,mount_tag=results,security_model=none,multidevs=remap" \
  -append "console=ttyS0 loglevel=4 panic=-1 kt.results=$results kt.tree=$root kt.cwd=$PWD kt.timeout=$guest_limit kt.run=$script kt.args=\"$args\"" \
  </dev/null >"$console" 2>&1 || status=$?

# isa-debug-exit: qemu exits with (code << 1) | 1, and the guest writes 0 for success.
guest=$(cat "$results/guest-status" 2>/dev/null || echo none)
if [ "$status" -eq 1 ] && [ "$guest" = 0 ]; then
  cat "$results/guest.log"
  exit 0
fi
echo "--- last lines of $console"
tail -n 60 "$console"
case $status in
  124) echo "$0: the VM was stopped after $limit s" ;;
  3) echo "$0: $(basename "$script") failed in the guest (status $guest)" ;;
  *) echo "$0: qemu exited with $status, the guest's status: $guest" ;;
esac
exit 1
