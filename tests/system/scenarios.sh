#!/bin/sh
# The guest's scenarios (run by run-vm.sh, inside the guest's chroot of this machine). Each row of the
# table names a function scenario_NAME and the seconds it may take; it runs in a shell of its own under
# `timeout`, with SCENARIO_DIR=$KT_RESULTS/NAME for whatever it keeps (its output goes to scenario.log
# there), and passes when it returns 0. The last line is "N passed, N failed".
# Usage: scenarios.sh [NAME...]   (every row but the on-demand ones when no name is given)
set -u

here=$(cd "$(dirname "$0")" && pwd)
self=$here/$(basename "$0")
KT_ROOT=$(cd "$here/../.." && pwd)
KT_RESULTS=${KT_RESULTS:-/tmp/kt-scenarios}
export KT_ROOT KT_RESULTS SYSTEMD_IGNORE_CHROOT=1

# NAME SECONDS [on-demand]: an on-demand row runs only when it is named (it would take CI's run past its
# time: the whole .ci/run is kept under 70 minutes cold).
table="
udev_runs 30
list 60
write 240
faults 300
hotplug 180
permissions 180
ports 240
station 240
station_window 300
wine 1800
wine_station_window 900 on-demand
"
# Files in this folder that define more scenario_NAME functions, sourced before a scenario runs.
scenario_files="board_lib.sh linux_scenarios.sh wine_scenarios.sh"

fail() {
  echo "FAIL: $*"
  exit 1
}

# udevd runs in the guest and answers udevadm.
scenario_udev_runs() {
  udevadm control --ping -t 10 || fail "udevd does not answer"
}

# Runs one scenario; the runner below calls this script again for each.
if [ "${1:-}" = --one ]; then
  # shellcheck source=/dev/null
  for file in $scenario_files; do . "$here/$file"; done
  . "$here/../xvfb_lib.sh"
  SCENARIO_DIR=$KT_RESULTS/$2
  export SCENARIO_DIR
  cd "$KT_ROOT" || exit 1
  "scenario_$2"
  exit $?
fi

now_ms() { date +%s%3N; }

rows=$(echo "$table" | awk 'NF { print $1, $2 }')
if [ $# -gt 0 ]; then
  selected=""
  for name in "$@"; do
    row=$(echo "$rows" | awk -v n="$name" '$1 == n')
    [ -n "$row" ] || { echo "no scenario $name"; exit 64; }
    selected="$selected$row
"
  done
  rows=$selected
else
  rows=$(echo "$table" | awk 'NF && $3 != "on-demand" { print $1, $2 }')
fi

passed=0
failed=0
while read -r name seconds; do
  [ -n "$name" ] || continue
  dir=$KT_RESULTS/$name
  rm -rf "$dir"
  mkdir -p "$dir"
  start=$(now_ms)
  status=0
  timeout -k 5 "$seconds" sh "$self" --one "$name" </dev/null >"$dir/scenario.log" 2>&1 &
  # timeout leads a process group of its own: whatever the scenario left running goes with it.
  group=$!
  wait "$group" || status=$?
  if kill -TERM "-$group" 2>/dev/null; then
    sleep 0.5
    kill -KILL "-$group" 2>/dev/null
  fi
  ms=$(( $(now_ms) - start ))
  took="$((ms / 1000)).$((ms % 1000 / 100)) s"
  if [ "$status" -eq 0 ]; then
    echo "PASS $name ($took)"
    grep '^figure: ' "$dir/scenario.log" | sed 's/^/    /'
    passed=$((passed + 1))
  else
    [ "$status" -eq 124 ] && echo "FAIL $name (stopped after $seconds s)" || echo "FAIL $name (status $status, $took)"
    tail -n 20 "$dir/scenario.log" | sed 's/^/    /'
    failed=$((failed + 1))
  fi
done <<EOF
$rows
EOF
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
