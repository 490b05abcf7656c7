#!/bin/bash
# The station window under Xvfb: tiles shown for 64 simulated boards, then CPU used by the program over
# IDLE_SECONDS with 16 tiles up and every board written (the station waiting for the next board), and its
# peak resident memory. Prints `name value unit` lines. Usage: station_window.sh PROGRAM IDLE_SECONDS
set -u
program="${1:?usage: station_window.sh PROGRAM IDLE_SECONDS}"
idleSeconds="${2:?usage: station_window.sh PROGRAM IDLE_SECONDS}"
# A station that has not written its boards by then never will; the bound only keeps a broken build from
# hanging the report.
boundSeconds=120

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
  echo "station_window.sh: $*" >&2
  exit 1
}

# shellcheck source=../tests/xvfb_lib.sh
. "$(dirname "$0")/../tests/xvfb_lib.sh"
xvfb_start "$work/xvfb.log" || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
xvfb=$xvfb_pid

# Starts the station window on BOARDS blank simulated boards in virtual time and waits until every one
# is written (the window's trace says so).
start_station() {
  : >"$work/trace"
  KT_WINDOW_TRACE=$work/trace "$program" --station --simulate=boards=$1,blank,virtual-time >"$work/app.log" 2>&1 &
  app=$!
  local tenths=0
  until grep -qx "counts|Succeeded: $1  Failed: 0" "$work/trace"; do
    kill -0 "$app" 2>/dev/null || fail "the station window of $1 boards ended: $(cat "$work/app.log")"
    [ "$tenths" -lt $((boundSeconds * 10)) ] || fail "$1 boards not written after $boundSeconds s"
    sleep 0.1
    tenths=$((tenths + 1))
  done
}
# SIGTERM stops the station as Exit does and closes the window without a question.
stop_station() {
  kill "$app" 2>/dev/null
  wait "$app" 2>/dev/null
  app=""
}
cpu_ticks() {
  local stat
  stat=$(cat "/proc/$1/stat") || fail "$program exited while it was measured"
  local fields=(${stat##*) })
  echo $((fields[11] + fields[12]))
}

start_station 64
echo "station_window_tiles_shown $(grep '^tile|[0-9]*|sim-[0-9]*|ok|' "$work/trace" | cut -d'|' -f3 | sort -u | wc -l) tiles"
stop_station

start_station 16
ticksPerSecond=$(getconf CLK_TCK)
before=$(cpu_ticks "$app")
sleep "$idleSeconds" &
sleeper=$!
wait "$sleeper"
sleeper=""
after=$(cpu_ticks "$app")
echo "station_window_16_idle_cpu_ms_per_10s $(((after - before) * 10000 / ticksPerSecond / idleSeconds)) ms"
hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$app/status")
echo "station_window_16_max_rss_kb $hwm kB"
stop_station
