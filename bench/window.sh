#!/bin/bash
# The Linux window under Xvfb: time from process start until its window is mapped and viewable (median of
# RUNS runs, the program killed after each), then CPU used by the program over IDLE_SECONDS with the
# window and its worker up, and its peak resident memory. Prints `name value unit` lines.
# Usage: window.sh PROGRAM RUNS IDLE_SECONDS
set -u
export LC_ALL=C # $EPOCHREALTIME takes the locale's decimal point
program="${1:?usage: window.sh PROGRAM RUNS IDLE_SECONDS}"
runs="${2:?usage: window.sh PROGRAM RUNS IDLE_SECONDS}"
idleSeconds="${3:?usage: window.sh PROGRAM RUNS IDLE_SECONDS}"
# The exact title the running copy gives its window, as an extended regular expression. While it starts
# up the window carries the shorter template caption, which this does not match.
titlePattern='^KT7310 Write EEPROM \(MP\) Developer v2\.0\.0 16k16b$'
# A window that has not shown up by then never will; the bound only keeps a broken build from hanging.
visibleBoundSeconds=30

work=$(mktemp -d)
xvfb=""
app=""
sleeper=""
cleanup() {
  [ -n "$sleeper" ] && kill "$sleeper" 2>/dev/null
  [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

fail() {
  echo "window.sh: $*" >&2
  [ -s "$work/app.log" ] && sed 's/^/  program: /' "$work/app.log" >&2
  exit 1
}

# shellcheck source=../tests/xvfb_lib.sh
. "$(dirname "$0")/../tests/xvfb_lib.sh"
xvfb_start "$work/xvfb.log" || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
xvfb=$xvfb_pid

# The window being waited for: the program's, or the reference's.
pattern="$titlePattern"
visible() { xdotool search --onlyvisible --name "$pattern" >/dev/null 2>&1; }

# Polls for the window with a short pause: nothing in X tells an outside process that another client's
# window became viewable without a client of its own, and xdotool's own --sync polls in much coarser steps.
wait_until_visible() {
  local deadline=$((${EPOCHREALTIME/./} + visibleBoundSeconds * 1000000))
  until visible; do
    kill -0 "$app" 2>/dev/null || fail "the program of window $pattern exited before its window showed"
    [ "${EPOCHREALTIME/./}" -lt "$deadline" ] ||
      fail "no window titled $pattern after ${visibleBoundSeconds} s"
    sleep 0.002
  done
}

# After the program is gone the server may take a moment to drop its window; a copy started while it is
# still there would raise it and leave.
stop_app() {
  kill "$app" 2>/dev/null
  wait "$app" 2>/dev/null
  app=""
  local deadline=$((${EPOCHREALTIME/./} + visibleBoundSeconds * 1000000))
  while visible; do
    [ "${EPOCHREALTIME/./}" -lt "$deadline" ] || fail "the window stayed after its program was killed"
    sleep 0.002
  done
}

start_app() {
  "$@" >"$work/app.log" 2>&1 &
  app=$!
}

# utime + stime of the whole process (all its threads), in clock ticks. The command name in field 2 may
# hold spaces, so the fields are counted from its closing parenthesis.
cpu_ticks() {
  local stat
  stat=$(cat "/proc/$1/stat") || fail "$program exited while it was measured"
  local fields=(${stat##*) })
  echo $((fields[11] + fields[12]))
}

# Median ms from the start of COMMAND until a window titled PATTERN is viewable, over RUNS runs, into
# $median (not printed: a command substitution would run it in a subshell that the trap does not clean up).
# Usage: median_start PATTERN COMMAND [ARG...]
median_start() {
  pattern="$1"
  shift
  local times=() i start end
  for ((i = 0; i < runs; i++)); do
    start=$EPOCHREALTIME
    start_app "$@"
    wait_until_visible
    end=$EPOCHREALTIME
    times+=($((${end/./} - ${start/./})))
    stop_app
  done
  median=$(printf '%s\n' "${times[@]}" | sh "$(dirname "$0")/median.sh" 1000)
}

# The reference: a plain X client with one small window, started and waited for the same way.
referenceTitle=kt-bench-reference-window
median_start "^$referenceTitle\$" xmessage -title "$referenceTitle" -center OK
reference=$median
median_start "$titlePattern" "$program" --simulate
window=$median
echo "window_start_ms $window ms"
echo "xmessage_start_ms $reference ms"
echo "window_start_ratio $(awk -v a="$window" -v b="$reference" 'BEGIN { printf "%.3f", a / b }') x"
echo "window_start_runs $runs runs"

pattern="$titlePattern"
start_app "$program" --simulate
wait_until_visible
ticksPerSecond=$(getconf CLK_TCK)
before=$(cpu_ticks "$app")
# In the background so that a signal to this script ends the wait at once.
sleep "$idleSeconds" &
sleeper=$!
wait "$sleeper"
sleeper=""
after=$(cpu_ticks "$app")
echo "window_idle_seconds $idleSeconds s"
echo "window_idle_cpu_ms $(((after - before) * 1000 / ticksPerSecond)) ms"
echo "window_idle_cpu_ms_per_10s $(((after - before) * 10000 / ticksPerSecond / idleSeconds)) ms"
hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$app/status")
[ -n "$hwm" ] || fail "no VmHWM for $program"
echo "window_max_rss_kb $hwm kB"
stop_app
