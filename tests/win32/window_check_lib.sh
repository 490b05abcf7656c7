# shellcheck shell=sh disable=SC2034
# What the window checks under Wine share, sourced by them (POSIX sh): a display and a Wine prefix of
# their own, the program started and ended, its controls and message boxes read through kt-window-probe
# and clicked with xdotool, screenshots, and the failures counted.
#
# The sourcing script sets WINE_RUN, PROGRAM, PROBE, OUT (screenshots and logs) and TITLE (the window the
# controls are looked for in), then calls check_begin, and ends with check_end. The checks share OUT:
# each clears only the screenshots of its own names.
# Polling here is bounded: every wait gives up after its time-out and fails the check.

failures=0
pids=""
fail() {
  printf 'FAIL: %s\n' "$*"
  failures=$((failures + 1))
}
note() { printf -- '-- %s\n' "$*"; }

# check_begin GLOB...: OUT without the screenshots GLOB names (those of the last run), a private Wine
# prefix and a private X display, all torn down at exit.
check_begin() {
  mkdir -p "$OUT"
  for glob in "$@"; do
    # shellcheck disable=SC2086
    rm -f "$OUT"/$glob.png
  done
  # A prefix of the checks' own, so that no other Wine user on this machine shares its windows (the
  # single-instance rule looks at every window of the prefix). Made once, kept in the build dir; the
  # checks that use it run one at a time.
  WINEPREFIX=${KT_GUI_WINEPREFIX:-$(dirname "$OUT")/wine-gui-prefix}
  export WINEPREFIX
  # A new prefix would otherwise offer to download .NET and HTML engines in boxes of its own.
  WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  export WINEDLLOVERRIDES

  xvfb_pid=""
  xvfb_log=$OUT/xvfb.log
  # shellcheck source=../xvfb_lib.sh
  . "$(dirname "$0")/../xvfb_lib.sh"
  xvfb_start "$xvfb_log" || { echo "Xvfb did not start: $(cat "$xvfb_log")"; exit 1; }
  trap check_cleanup EXIT
  trap 'exit 1' INT TERM
}

check_cleanup() {
  for pid in $pids; do kill "$pid" 2>/dev/null; done
  if [ -x /usr/lib/wine/wineserver64 ]; then /usr/lib/wine/wineserver64 -k 2>/dev/null; else wineserver -k 2>/dev/null; fi
  kill "$xvfb_pid" 2>/dev/null
}

# check_end WHAT: the verdict, and the check's exit status.
check_end() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed; screenshots in $OUT"
    exit 1
  fi
  echo "all $1 checks passed; screenshots in $OUT"
}

# wait_for SECONDS COMMAND...: runs COMMAND once a second until it succeeds or the time is up.
wait_for() {
  limit=$1
  shift
  i=0
  while [ "$i" -lt "$limit" ]; do
    if "$@"; then return 0; fi
    sleep 1
    i=$((i + 1))
  done
  return 1
}

probe() { "$WINE_RUN" "$PROBE" "$@" 2>/dev/null | tr -d '\r'; }
window_count() { probe count "$TITLE"; }
main_window_up() { [ "$(window_count)" = 1 ]; }
main_window_gone() { [ "$(window_count)" = 0 ]; }
running() { kill -0 "$1" 2>/dev/null; }
stopped() { ! running "$1"; }
shot() { import -window root "$OUT/$1.png" 2>/dev/null || fail "screenshot $1"; }

click_control() {  # click_control ID
  pos=$(probe center "$TITLE" "$1")
  [ -n "$pos" ] || { fail "control $1 not found"; return 1; }
  # shellcheck disable=SC2086
  xdotool mousemove $pos click 1
}

start_program() {  # start_program ARGS...: sets $started
  "$WINE_RUN" "$PROGRAM" "$@" >/dev/null 2>&1 &
  started=$!
  pids="$pids $started"
}

# reap PID: sets $status to the ended program's exit status (not in a subshell: only the shell that
# started it can wait for it).
reap() {
  status=0
  wait "$1" || status=$?
}

# The boxes now on screen, one "CAPTION|TEXT|X Y" a line (then "|X Y|X Y": Yes and No, for a question).
boxes() { probe boxes; }
box_with_text() { boxes | grep -F "|$1|" | head -n 1; }
box_containing() { boxes | grep -F -e "$1" | head -n 1; }
box_up() { [ -n "$(box_with_text "$1")" ]; }
box_up_containing() { [ -n "$(box_containing "$1")" ]; }
box_gone() { [ -z "$(box_with_text "$1")" ]; }
# dash's echo would turn the \n of a box's text into a line break; printf keeps it.
field() { printf '%s\n' "$1" | cut -d'|' -f"$2"; }
click_at() {  # click_at "X Y"
  # shellcheck disable=SC2086
  [ -n "$1" ] && xdotool mousemove $1 click 1
}
press_ok() { click_at "$(field "$1" 3)"; }  # press_ok LINE-OF-boxes

# expect_box TEXT CAPTION SHOT [FIELD]: waits for it, checks the caption, shoots, presses the button
# whose position is FIELD of its line (3, OK, unless told).
expect_box() {
  if ! wait_for 60 box_up "$1"; then
    fail "no box \"$1\" (boxes: $(boxes | tr '\n' ';'))"
    return 1
  fi
  line=$(box_with_text "$1")
  caption=$(field "$line" 1)
  [ "$caption" = "$2" ] || fail "box \"$1\" has caption \"$caption\", not \"$2\""
  note "box: $caption: $1"
  shot "$3"
  click_at "$(field "$line" "${4:-3}")" || fail "box \"$1\" has no button in field ${4:-3}: $line"
  wait_for 30 box_gone "$1" || fail "box \"$1\" stayed"
}
