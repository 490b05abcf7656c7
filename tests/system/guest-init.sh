#!/bin/sh
# /init of the test guest (busybox). Loads the modules in /modules.list, mounts the host's root (9p, read
# only) at /host and the results folder (9p, writable) over its own path in there, starts udevd in that
# tree and runs kt.run with kt.args there, from kt.cwd, for at most kt.timeout seconds. The script's
# output goes to the console and to RESULTS/guest.log, its exit status to RESULTS/guest-status. The
# guest then leaves qemu through isa-debug-exit: 0 when the script succeeded, 1 otherwise (qemu exits
# with 1 and 3). Anything that goes wrong before the script runs ends the guest with 1 as well.
/bin/busybox --install -s /bin
export PATH=/bin
set -f
mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1

leave() {  # CODE
  sync
  printf "\\$(printf %03o "$1")" | dd of=/dev/port bs=1 seek=244 count=1 2>/dev/null
  echo "guest: isa-debug-exit did not end qemu"
  poweroff -f
}
die() {
  echo "guest: $*"
  leave 1
}

mount -t proc proc /proc || die "cannot mount /proc"
mount -t sysfs sysfs /sys || die "cannot mount /sys"

# kt.NAME=VALUE or kt.NAME="VALUE WITH SPACES" from the kernel's command line.
param() {
  sed -n -e "s/.*[[:space:]]kt\.$1=\"\([^\"]*\)\".*/\1/p;t" -e "s/.*[[:space:]]kt\.$1=\([^[:space:]]*\).*/\1/p" /proc/cmdline
}
run=$(param run)
args=$(param args)
results=$(param results)
tree=$(param tree)
cwd=$(param cwd)
limit=$(param timeout)
[ -n "$run" ] && [ -n "$results" ] || die "kt.run and kt.results are needed on the command line"

while read -r module options; do
  # shellcheck disable=SC2086
  insmod "/lib/modules/$module" $options || die "module $module did not load"
done </modules.list
echo "guest: kernel $(uname -r), modules loaded: $(cut -d' ' -f1 /modules.list | sed 's/\.ko$//' | tr '\n' ' ')"

ninep="trans=virtio,version=9p2000.L,msize=262144"
mount -t 9p -o "$ninep,ro" hostfs /host || die "cannot mount the host's root"
mkdir -p /dev/pts /dev/shm
mount -o bind /dev /host/dev || die "cannot bind /dev"
mount -t devpts -o newinstance,ptmxmode=0666 devpts /host/dev/pts || die "cannot mount devpts"
mount -t tmpfs -o mode=1777 tmpfs /host/dev/shm || die "cannot mount /dev/shm"
mount -o bind /proc /host/proc || die "cannot bind /proc"
mount -o bind /sys /host/sys || die "cannot bind /sys"
mount -t configfs configfs /host/sys/kernel/config || die "cannot mount configfs"
# A source tree under /tmp or /run would be hidden by the guest's own: keep a handle on it first and put
# it back at its path in the fresh tmpfs.
case $tree in
  /tmp/*|/run/*)
    mkdir -p /tree
    mount -o bind "/host$tree" /tree || die "cannot hold on to the source tree $tree" ;;
esac
mount -t tmpfs -o mode=755 tmpfs /host/run || die "cannot mount /run"
mount -t tmpfs -o mode=1777 tmpfs /host/tmp || die "cannot mount /tmp"
if [ -d /tree ]; then
  mkdir -p "/host$tree" && mount -o bind /tree "/host$tree" || die "cannot put the source tree back at $tree"
fi
# Last, so that nothing hides it; a folder in a fresh tmpfs is made first.
mkdir -p "/host$results" 2>/dev/null
mount -t 9p -o "$ninep" results "/host$results" || die "cannot mount the results share at $results"

# Everything in the host's tree runs with a clean environment; udevadm refuses to talk to udevd from a
# chroot unless told not to mind.
host_env="SYSTEMD_IGNORE_CHROOT=1 HOME=/tmp LANG=C.UTF-8 KT_RESULTS=$results
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
udevd=/usr/lib/systemd/systemd-udevd
[ -e "/host$udevd" ] || udevd=/lib/systemd/systemd-udevd
# shellcheck disable=SC2086
chroot /host /usr/bin/env -i $host_env "$udevd" --daemon || die "udevd did not start"

log="/host$results/guest.log"
status_file="/host$results/guest-status"
rm -f "$log" "$status_file"
mkfifo /output
tee "$log" </output &
tee=$!
echo "guest: $run starts, $(cut -d' ' -f1 /proc/uptime) s after boot"
start=$(cut -d. -f1 /proc/uptime)
status=0
# shellcheck disable=SC2086
timeout -k 10 "${limit:-840}" chroot /host /usr/bin/env -i $host_env \
  /bin/sh -c 'cd "$1" && shift && exec /bin/sh "$@"' - "${cwd:-/}" "$run" $args >/output 2>&1 || status=$?
elapsed=$(( $(cut -d. -f1 /proc/uptime) - start ))
[ "$status" -ne 0 ] && [ "$elapsed" -ge "${limit:-840}" ] && echo "guest: $run was stopped after ${limit:-840} s"
echo "$status" >"$status_file"
# Programs the script left behind may hold the pipe open; tee gets a moment to drain it, then goes.
i=0
while kill -0 "$tee" 2>/dev/null && [ "$i" -lt 20 ]; do
  sleep 0.1
  i=$((i + 1))
done
kill "$tee" 2>/dev/null
echo "guest: $run exited with $status after $elapsed s"
[ "$status" -eq 0 ] && leave 0
leave 1
