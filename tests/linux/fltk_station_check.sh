#!/bin/sh
# Drives the station window (KT701xWriteEepromMP --station) under Xvfb with xdotool, as an operator runs a
# line of six simulated boards: two failing, two taking the erase path (one waits for its re-plug), a
# board plugged in again, Exit while a board is at work. The window records what it shows in
# $KT_WINDOW_TRACE; the record file is read back. Also: an unknown option, and the dialog with --image
# (a good image shown read-only, a bad one refused). Screenshots go to the folder given second.
# Usage: fltk_station_check.sh PROGRAM SCREENSHOT_DIR
set -eu

prog=$1
shots=$2
# shellcheck source=fltk_check_lib.sh
. "$(dirname "$0")/fltk_check_lib.sh"
record=$work/record.jsonl
# Waits at most 60 s for the window to record LINE (the trace is written as the window shows it).
await_trace() {
  for _ in $(seq 1 600); do
    grep -qxF -- "$1" "$trace" && return 0
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
  done
  grep -qxF -- "$1" "$trace" || fail "the window never showed: $1"
}
# Clicks the middle of the button the window placed under NAME ("place|NAME|X|Y|W|H", the latest).
press() {
  geometry=$(grep "^place|$2|" "$trace" | tail -n 1 | awk -F'|' '{ print $(NF-3), $(NF-2), $(NF-1), $NF }')
  [ -n "$geometry" ] || fail "no place recorded for $2"
  set -- "$1" $geometry
  xdotool mousemove --window "$1" $(($2 + $4 / 2)) $(($3 + $5 / 2)) click 1
}

note "a line of six boards"
printf 'sim-6 Fixture F\n# not plugged today\nsim-9 Spare\n' >"$work/slots"
# Board 5 stops taking reports at about 10 %: Exit finds it at work.
KT_WINDOW_TRACE=$trace "$prog" --station --record "$record" --slots "$work/slots" \
  --simulate=boards=6,blank,board2.chip-id=5,board3.programmed,board4.flip@0x40:1,board5.hang@450,board6.programmed,board6.manual-replug 2>"$work/app.err" &
app=$!
main=$(window '^KT7310 Write EEPROM \(MP\) Station$')
[ -n "$main" ] || fail "no station window"
# The erased board in the named slot waits for the operator, who re-plugs it.
await_trace "tile|0|sim-6|replug|erased: waiting for the re-plug"
await_trace "tile|1|sim-9|empty|empty"
press "$main" "replug|0"
await_trace "counts|Succeeded: 3  Failed: 2"
for line in "tile|0|sim-6|ok|Write to EEPROM OK!" \
  "tile|2|sim-1|ok|Write to EEPROM OK!" "tile|3|sim-2|failed|Write to EEPROM Fail!  Try Again!(-2)" \
  "tile|4|sim-3|ok|Write to EEPROM OK!" "tile|5|sim-4|failed|Write to EEPROM Fail!  Try Again!(-12)" \
  "simulated|SIMULATED BOARDS: no real board is touched" "record|Record: $record" "sound|ok" "sound|fail"; do
  await_trace "$line"
done
grep -q '^tile|6|sim-5|writing|writing [0-9]*%$' "$trace" || fail "board 5 was never seen at work"
grep -q "^image|Image: built-in  SHA-256 [0-9a-f]\{12\}  firmware 0x" "$trace" || fail "no image line"
[ "$(wc -l <"$record")" -eq 5 ] || fail "the record has $(wc -l <"$record") lines, not 5"
import -window root "$shots/station.png"
# The screen read back: the window's own pixels beside a tile's Re-plug button, green for sim-1's OK, red
# for sim-2's failure.
import -window "$main" "$work/window.png"
pixel() {  # TILE-INDEX: the colour just left of the tile's Re-plug button, as "R,G,B"
  set -- $(grep "^place|replug|$1|" "$trace" | tail -n 1 | awk -F'|' '{ print $4, $5 }')
  convert "$work/window.png" -format '%[fx:int(255*p{'$(($1 - 10))','$(($2 + 5))'}.r)],%[fx:int(255*p{'$(($1 - 10))','$(($2 + 5))'}.g)],%[fx:int(255*p{'$(($1 - 10))','$(($2 + 5))'}.b)]' info:
}
[ "$(pixel 2)" = "60,176,74" ] || fail "sim-1's tile is not green on the screen: $(pixel 2)"
[ "$(pixel 3)" = "224,60,49" ] || fail "sim-2's tile is not red on the screen: $(pixel 3)"

note "a board plugged in again"
press "$main" "replug|2"
await_trace "counts|Succeeded: 4  Failed: 2"
[ "$(wc -l <"$record")" -eq 6 ] || fail "the record has $(wc -l <"$record") lines after the re-plug, not 6"

note "Exit while a board is at work"
press "$main" exit
await_trace "ask|1 board is being written. Stop it and exit?\n\nA board stopped is not written: write it again."
ask=$(window "^$app_name\$")
[ -n "$ask" ] || fail "no question box"
xdotool mousemove --window "$ask" 20 20 key Return
wait_app 60 "Exit"
await_trace "ask|yes"
[ "$status" -eq 30 ] || fail "the station window ended with $status, not 30 (boards failed)"
grep -q '^closed|Succeeded: 4  Failed: 3|30$' "$trace" || fail "the last counts were not 4 and 3"
[ "$(wc -l <"$record")" -eq 7 ] || fail "the record has $(wc -l <"$record") lines after Exit, not 7"
grep -q '"port":"sim-5".*"result":' "$record" || grep -q '"result":.*"port":"sim-5"' "$record" ||
  fail "the stopped board is not in the record"

note "an unknown option"
: >"$trace"
KT_WINDOW_TRACE=$trace "$prog" --statoin --simulate &
app=$!
box=$(window "^$app_name\$")
[ -n "$box" ] || fail "no box for an unknown option"
grep -q '^box|unknown option: --statoin' "$trace" || fail "the box does not name the option"
xdotool mousemove --window "$box" 20 20 key Return
wait_app 30 "the unknown option's box"
[ "$status" -eq 2 ] || fail "an unknown option ended with $status, not 2"
xdotool search --name 'KT7310' >/dev/null 2>&1 && fail "a window opened after an unknown option"

note "the dialog with the line's own image"
: >"$trace"
head -c 16400 /dev/zero >"$work/zero.bin"
KT_WINDOW_TRACE=$trace "$prog" --image "$work/zero.bin" --simulate &
app=$!
box=$(window "^$app_name\$")
[ -n "$box" ] || fail "no box for a bad image"
grep -q '^box|Error!! Invalid EEPROM FW Content!\\n\\n.*zero.bin' "$trace" || fail "the bad image's box lacks its reason"
xdotool mousemove --window "$box" 20 20 key Return
wait_app 30 "the bad image's box"
[ "$status" -eq 2 ] || fail "a bad image ended with $status, not 2"

: >"$trace"
image=$(cd "$(dirname "$0")/../../src/image" && pwd)/default_image.bin
KT_WINDOW_TRACE=$trace "$prog" --image "$image" --simulate=blank,virtual-time &
app=$!
main=$(window '^KT7310 Write EEPROM \(MP\) Developer')
[ -n "$main" ] || fail "no dialog with --image"
await_trace "control|1000|shown|disabled|$image"
await_trace "control|1008|shown|enabled|File Name"
import -window root "$shots/dialog-image.png"
# Write EEPROM, then Exit (dialog units to pixels as the dialog lays them out).
xdotool mousemove --window "$main" $(((238 * 2 + 75) * 3 / 4)) $(((35 * 2 + 14) * 13 / 16)) click 1
result=$(window "^$app_name\$")
[ -n "$result" ] || fail "no result box with --image"
await_trace "box|Write to EEPROM OK!|$app_name|none"
xdotool mousemove --window "$result" 20 20 key Return
xdotool mousemove --window "$main" $(((263 * 2 + 50) * 3 / 4)) $(((76 * 2 + 14) * 13 / 16)) click 1
wait_app 60 "Exit with --image"
echo "PASS"
