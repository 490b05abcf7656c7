#!/bin/sh
# Drives KT701xWriteEepromMP.exe under Wine on a private Xvfb display, as an operator would: start, a
# second start, "Write EEPROM" without a board, the same against the simulated board, "Exit"; the
# "SIMULATED BOARD" label only in the run with --simulate.
# Screenshots of the window and of every box go to OUT_DIR.
#
# Usage: gui_check.sh WINE_RUNNER PROGRAM_EXE PROBE_EXE OUT_DIR
# Polling is bounded: every wait gives up after its time-out and fails the check.
set -u
WINE_RUN=$1
PROGRAM=$2
PROBE=$3
OUT=$4
TITLE="KT7310 Write EEPROM (MP) Developer v2.0.0 16k16b"
ID_EXIT=1
ID_WRITE=1002
ID_VENDOR=1004
ID_PRODUCT=1005
ID_SIMULATED=1015

# shellcheck source=window_check_lib.sh
. "$(dirname "$0")/window_check_lib.sh"
check_begin 'window*' 'box_*' 'simulate_*'

exit_program() {  # exit_program PID
  click_control $ID_EXIT
  wait_for 60 stopped "$1" || fail "the program did not end after Exit"
}

# --- start: title and fields ---
note "start"
start_program
first=$started
wait_for 120 main_window_up || { fail "no window titled \"$TITLE\""; exit 1; }
xdotool search --name "^KT7310 Write EEPROM \\(MP\\) Developer v2\\.0\\.0 16k16b\$" >/dev/null ||
  fail "xdotool sees no window with the title"
vendor=$(probe text "$TITLE" $ID_VENDOR)
product=$(probe text "$TITLE" $ID_PRODUCT)
[ "$vendor" = "3B7D" ] || fail "vendor field reads \"$vendor\""
[ "$product" = "7310" ] || fail "product field reads \"$product\""
note "fields: $vendor $product"
"$WINE_RUN" "$PROBE" shown "$TITLE" $ID_SIMULATED 2>/dev/null && fail "simulated-board label without --simulate"
shot window

# --- a second start leaves one window ---
note "second start"
start_program
second=$started
wait_for 60 stopped "$second" || fail "the second copy did not end"
[ "$(window_count)" = 1 ] || fail "$(window_count) windows after a second start"
running "$first" || fail "the first copy ended"

# --- Write EEPROM with no board ---
note "write without a board"
click_control $ID_WRITE
expect_box "USB deivce is NOT found!!(-1)" "Write to EEPROM" box_not_found
expect_box "EEPROM Can't be Written!!(-2)" "Write to EEPROM..." box_cannot_write
shot window_after_failure
exit_program "$first"

# --- Write EEPROM against the simulated board ---
note "write to the simulated board"
start_program --simulate=virtual-time
sim=$started
wait_for 120 main_window_up || fail "no window with --simulate"
"$WINE_RUN" "$PROBE" shown "$TITLE" $ID_SIMULATED 2>/dev/null || fail "no simulated-board label shown"
label=$(probe text "$TITLE" $ID_SIMULATED)
[ "$label" = "SIMULATED BOARD" ] || fail "the simulated-board label reads \"$label\""
shot window_simulated
click_control $ID_WRITE
# A board whose EEPROM is not blank is erased first and asks for a re-plug; the simulated one re-plugs
# itself, so the box only needs its OK.
ok_line=""
deadline=$(($(date +%s) + 180))
while [ "$(date +%s)" -lt "$deadline" ]; do
  line=$(boxes | head -n 1)
  case "$line" in
    "") ;;
    *"|Write to EEPROM OK!|"*) ok_line=$line; break ;;
    *"|Please re-plugin"*)
      note "box on the way: $(field "$line" 1,2)"
      shot box_replug
      press_ok "$line"
      ;;
    *) fail "unexpected box: $line"; shot box_unexpected; press_ok "$line" ;;
  esac
  sleep 1
done
if [ -n "$ok_line" ]; then
  # The result box brings no caption of its own: it shows the executable's name without its extension.
  expect_box "Write to EEPROM OK!" "$(basename "$PROGRAM" .exe)" box_ok
else
  fail "no \"Write to EEPROM OK!\""
  shot simulate_timeout
fi
exit_program "$sim"

# --- Exit with the job stuck in a write to a board that stopped taking reports (request 450, in the
# body; the job reaches it in well under the 15 s waited): the window goes after Exit's bound once the
# cancelled write has let the worker go (hang, status 0), or after the second bound with status 27 when
# nothing brings the write back (wedge). Never a window that stays.
for fault in hang:0 wedge:27; do
  note "Exit with ${fault%%:*}@450"
  start_program --simulate=blank,"${fault%%:*}"@450
  stuck=$started
  wait_for 120 main_window_up || fail "no window with ${fault%%:*}@450"
  click_control $ID_WRITE
  sleep 15
  [ -z "$(boxes)" ] || fail "a box before Exit with ${fault%%:*}@450: $(boxes | tr '\n' ';')"
  click_control $ID_EXIT
  if wait_for 60 stopped "$stuck"; then
    reap "$stuck"
    [ "$status" -eq "${fault##*:}" ] || fail "Exit with ${fault%%:*}@450 ended with $status, not ${fault##*:}"
  else
    fail "the program did not end after Exit with ${fault%%:*}@450"
  fi
done

check_end window
