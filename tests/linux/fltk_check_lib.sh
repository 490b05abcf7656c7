# shellcheck shell=sh disable=SC2034,SC2154
# What the FLTK window checks share, sourced after they set $prog (the program) and $shots (the folder for
# screenshots): the tools they need (exit 77 when one is missing), a work folder with $trace (the window
# trace), a private X server, and the program's start and end in $app and $status. POSIX sh.

for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
# Under the ASan build: memory that fontconfig keeps for the whole run is not ours to free.
LSAN_OPTIONS="suppressions=$(dirname "$0")/fltk_lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export LSAN_OPTIONS

app_name=$(basename "$prog")
work=$(mktemp -d)
trace=$work/trace.txt
mkdir -p "$shots"
app=
xvfb=
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# Fails the check with what the window recorded, the program's standard error (when a check keeps it in
# $work/app.err) and the X server's last words.
fail() {
  echo "FAIL: $*"
  [ -f "$trace" ] && { echo "--- window trace"; cat "$trace"; }
  [ -f "$work/app.err" ] && { echo "--- stderr"; cat "$work/app.err"; }
  [ -f "$work/xvfb.log" ] && { echo "--- Xvfb"; tail -5 "$work/xvfb.log"; }
  exit 1
}
note() { echo "-- $*"; }

# shellcheck source=../xvfb_lib.sh
. "$(dirname "$0")/../xvfb_lib.sh"
xvfb_start "$work/xvfb.log" || fail "Xvfb did not start"
xvfb=$xvfb_pid

# Waits (xdotool's own wait) for a viewable window whose whole name matches the regex; prints its id.
# A window is named before it is mapped: a click or a key sent to it then would reach the root window.
window() {
  timeout 30 xdotool search --sync --onlyvisible --name "$1" | head -n 1
}

# Every wait for the program is bounded, so a lost click fails the check instead of holding it.
# True once the program has ended, false if it still runs after $1 seconds.
ends_within() {
  tenths=0
  while kill -0 "$app" 2>/dev/null; do
    [ "$tenths" -lt $(($1 * 10)) ] || return 1
    sleep 0.1
    tenths=$((tenths + 1))
  done
}
# Waits at most $1 seconds for the program to end: its exit status in $status, or kills it and fails
# naming the step $2.
wait_app() {
  alive=0
  ends_within "$1" || { alive=1; kill -KILL "$app"; }
  status=0
  wait "$app" || status=$?
  app=
  [ "$alive" -eq 0 ] || fail "$2: the program was still running after $1 s"
}
