#!/bin/sh
# Drives KT701xWriteEepromMP under Xvfb with xdotool: the title and field texts after start, the
# single-instance rule, a whole job against the simulated board in virtual time ending in
# "Write to EEPROM OK!", Exit, and the simulated-board label of a --simulate run. The program records
# what it shows in $KT_WINDOW_TRACE; screenshots of each step go to the folder given as the second
# argument.
# Usage: fltk_window_check.sh PROGRAM SCREENSHOT_DIR
set -eu

prog=$1
shots=$2
# shellcheck source=fltk_check_lib.sh
. "$(dirname "$0")/fltk_check_lib.sh"
title='KT7310 Write EEPROM (MP) Developer v2.0.0 16k16b'
title_re='^KT7310 Write EEPROM \(MP\) Developer v2\.0\.0 16k16b$'

shot() {
  import -window root "$shots/$1.png"
}
expect_trace() {
  grep -qxF -- "$1" "$trace" || fail "the window never recorded: $1"
}
# Dialog units to window pixels, as the program lays out its controls; clicks the centre of a control.
click_control() {  # window x y width height (dialog units)
  xdotool mousemove --window "$1" $(( ($2 * 2 + $4) * 3 / 4 )) $(( ($3 * 2 + $5) * 13 / 16 )) click 1
}
# Enter in a message box, typed as a user would (XTEST) with the pointer over the box.
press_enter_in() {
  xdotool mousemove --window "$1" 20 20 key Return
}

# --- Start: title and fields.
KT_WINDOW_TRACE=$trace "$prog" --simulate=virtual-time &
app=$!
main=$(window "$title_re")
[ -n "$main" ] || fail "no window titled '$title'"
[ "$(xdotool getwindowname "$main")" = "$title" ] || fail "title is '$(xdotool getwindowname "$main")'"
shot 01-started
xprop -id "$main" _NET_WM_ICON | grep -q 'Icon (48 x 48)' || fail "the window has no 48-pixel icon"
xprop -id "$main" _MOTIF_WM_HINTS | grep -q '= 0x3, 0x4, 0xa' || fail "close and minimise boxes were not removed"
xprop -id "$main" WM_NORMAL_HINTS | grep -q 'program specified minimum size: 480 by 158' || fail "not fixed in size"
expect_trace "title|$title"
expect_trace "control|1004|shown|enabled|3B7D"
expect_trace "control|1005|shown|enabled|7310"
expect_trace "control|1013|shown|enabled|Vendor ID"
expect_trace "control|1014|shown|enabled|Product ID"
expect_trace "control|1002|shown|enabled|Write EEPROM"
expect_trace "control|1|shown|enabled|Exit"
expect_trace "control|1010|shown|enabled|"
expect_trace "control|1015|shown|enabled|SIMULATED BOARD"
for hidden in 1000 1001 1006 1007 1008 1009 1011 1012; do
  grep -q "^control|$hidden|hidden|" "$trace" || fail "control $hidden is not hidden"
done

# --- A second copy raises the first and ends without a window of its own.
KT_WINDOW_TRACE=$work/second.txt timeout 30 "$prog" --simulate=virtual-time || fail "the second copy failed or hung"
grep -q '^single-instance|' "$work/second.txt" || fail "the second copy did not find the first"
[ "$(xdotool search --name "$title_re" | wc -l)" -eq 1 ] || fail "more than one window titled '$title'"

note "a whole job"
# --- A whole job: the simulated board is not blank, so it is erased and re-plugged first.
click_control "$main" 238 35 75 14  # Write EEPROM
replug=$(window '^Write to EEPROM\.\.\.$')
[ -n "$replug" ] || fail "no re-plug box"
shot 02-replug-box
press_enter_in "$replug"
result=$(window "^$app_name\$")
[ -n "$result" ] || fail "no result box"
shot 03-result-box
expect_trace "box|Write to EEPROM OK!|$app_name|none"
expect_trace "progress|1003|100"
press_enter_in "$result"

note "Exit"
# --- Exit ends the program.
main=$(window "$title_re")
click_control "$main" 263 76 50 14  # Exit
wait_app 60 "Exit"
[ "$status" -eq 0 ] || fail "the program ended with status $status"
expect_trace "enable|1002|1"
expect_trace "end|1"

# --- Enter in the vendor ID field presses Exit, the default button. (A window without --simulate, and so
# without the simulated-board label, is the unit tests' to check: here the host's real HID stack would
# be in play.)
: >"$trace"
KT_WINDOW_TRACE=$trace "$prog" --simulate=virtual-time &
app=$!
main=$(window "$title_re")
[ -n "$main" ] || fail "no window on the second start"
click_control "$main" 43 34 40 14  # vendor ID field
xdotool key Return
wait_app 30 "Enter in the vendor ID field"
[ "$status" -eq 0 ] || fail "the program ended with status $status after Enter"
expect_trace "end|1"
# --- Exit with the job stuck in a write to a board that stopped taking reports: the window goes after
# Exit's bound, once the cancelled write has let the worker go (hang, status 0), or, when nothing brings
# the write back (wedge), after the second bound with status 27. Never a window that stays. The fault
# sits at request 450, about block 425 of the body: Exit comes once the bar has reached 10 % (block
# 410) and a second more, so the write is held by then (an earlier Exit would stop the job with its
# boxes, which wait for the operator).
for fault in hang:0 wedge:27; do
  note "Exit with ${fault%%:*}@450"
  : >"$trace"
  KT_WINDOW_TRACE=$trace "$prog" --simulate=blank,"${fault%%:*}"@450 &
  app=$!
  main=$(window "$title_re")
  [ -n "$main" ] || fail "no window with ${fault%%:*}@450"
  click_control "$main" 238 35 75 14  # Write EEPROM
  for _ in $(seq 1 300); do grep -qxF "progress|1003|10" "$trace" && break; sleep 0.1; done
  expect_trace "progress|1003|10"
  sleep 1
  click_control "$main" 263 76 50 14  # Exit
  # Far beyond both bounds (6 s, then 6 s more).
  wait_app 60 "Exit with ${fault%%:*}@450"
  [ "$status" -eq "${fault##*:}" ] || fail "Exit with ${fault%%:*}@450: status $status, expected ${fault##*:}"
done
echo "PASS"
