#!/bin/sh
# Drives the station window (KT701xWriteEepromMP.exe --station) under Wine on a private Xvfb display, as
# an operator would: six simulated boards written at once and shown as tiles, a board re-plugged from
# its tile, Exit while a board is still being written (asked, "No" keeps it running, "Yes" stops and
# records it), a second start, a board erased and waiting for its re-plug, and the starts that must not
# open a station: a mistyped option, a broken slots file, a record file that cannot be opened.
# Screenshots of the window and of every box go to OUT_DIR.
#
# Usage: station_check.sh WINE_RUNNER PROGRAM_EXE PROBE_EXE OUT_DIR
# Polling is bounded: every wait gives up after its time-out and fails the check.
set -u
WINE_RUN=$1
PROGRAM=$2
PROBE=$3
OUT=$4
TITLE="KT7310 Write EEPROM (MP) Station"
CAPTION=$(basename "$PROGRAM" .exe)
ID_EXIT=1
ID_IMAGE=4001
ID_RECORD=4002
ID_COUNTS=4003
ID_SIMULATED=4004
ID_TILE=5000
ID_REPLUG=6000

# shellcheck source=window_check_lib.sh
. "$(dirname "$0")/window_check_lib.sh"
check_begin 'station*'

# The program sees the build tree through drive Z:, the Unix root.
RECORD=$OUT/station-record.jsonl
SLOTS=$OUT/station-slots.txt
rm -f "$RECORD"

text_of() { probe text "$TITLE" "$1"; }
# A tile's text on one line: "LABEL/WORDS/".
tile() { text_of $((ID_TILE + $1 - 1)) | tr '\n' '/'; }
counts_read() { [ "$(text_of $ID_COUNTS)" = "$1" ]; }
tile_reads() { [ "$(tile "$1")" = "$2" ]; }
expect_counts() {  # expect_counts TEXT SECONDS
  wait_for "$2" counts_read "$1" || fail "the counts read \"$(text_of $ID_COUNTS)\", not \"$1\""
}
expect_stopped() {  # expect_stopped PID STATUS WHAT
  if wait_for 60 stopped "$1"; then
    reap "$1"
    [ "$status" -eq "$2" ] || fail "$3: the program ended with $status, not $2"
  else
    fail "$3: the program did not end"
  fi
}

# --- starts that open no station ---
note "a mistyped option"
start_program --statoin
typo=$started
# The refusal, then the usage.
if wait_for 60 box_up_containing "|unknown option: --statoin\\n"; then
  shot station_box_typo
  press_ok "$(box_containing "|unknown option: --statoin\\n")"
else
  fail "no box for --statoin (boxes: $(boxes | tr '\n' ';'))"
fi
expect_stopped "$typo" 2 "--statoin"
[ "$(window_count)" = 0 ] || fail "a station window after --statoin"

note "a slots file with a port and no label"
printf 'sim-1\n' >"$SLOTS"
start_program --station --slots "Z:$SLOTS" --simulate=virtual-time
bad_slots=$started
expect_box "--slots Z:$SLOTS: line 1: a port without a label (lines are PORT LABEL)" "$CAPTION" station_box_slots
expect_stopped "$bad_slots" 2 "a broken slots file"

note "a record file that cannot be opened"
start_program --station --record "Z:$OUT/no-such-folder/record.jsonl" --simulate=virtual-time
bad_record=$started
CANNOT_OPEN="--record Z:$OUT/no-such-folder/record.jsonl: cannot be opened"
if wait_for 60 box_up_containing "$CANNOT_OPEN"; then
  line=$(box_containing "$CANNOT_OPEN")
  note "box: $line"
  [ "$(field "$line" 1)" = "$CAPTION" ] || fail "the record's box has caption \"$(field "$line" 1)\""
  shot station_box_record
  press_ok "$line"
else
  fail "no box for a record file that cannot be opened (boxes: $(boxes | tr '\n' ';'))"
fi
expect_stopped "$bad_record" 64 "a record file that cannot be opened"
[ "$(window_count)" = 0 ] || { fail "the station window stayed after its record was refused"; exit 1; }

# --- six boards: three written, two failing, one stuck in a write until Exit stops it ---
note "six boards"
start_program --station --record "Z:$RECORD" \
  --simulate=boards=6,blank,virtual-time,board2.chip-id=5,board3.programmed,board4.flip@0x40:1,board6.hang@450
station=$started
wait_for 120 main_window_up || { fail "no window titled \"$TITLE\""; exit 1; }
xdotool search --name "^KT7310 Write EEPROM \\(MP\\) Station\$" >/dev/null || fail "xdotool sees no window with the title"
expect_counts "Succeeded: 3  Failed: 2" 60
# Tile i is sim-i: a port's tile keeps its place, and the ports come in their natural order.
for expected in "1:sim-1/Write to EEPROM OK!/" "2:sim-2/Write to EEPROM Fail!  Try Again!(-2)/" \
  "3:sim-3/Write to EEPROM OK!/" "4:sim-4/Write to EEPROM Fail!  Try Again!(-12)/" \
  "5:sim-5/Write to EEPROM OK!/"; do
  got=$(tile "${expected%%:*}")
  [ "$got" = "${expected#*:}" ] || fail "tile ${expected%%:*} reads \"$got\", not \"${expected#*:}\""
done
case "$(tile 6)" in
  "sim-6/writing "*"%/") ;;
  *) fail "tile 6 reads \"$(tile 6)\", not sim-6 writing" ;;
esac
"$WINE_RUN" "$PROBE" shown "$TITLE" $ID_SIMULATED 2>/dev/null || fail "no simulated-boards line shown"
[ "$(text_of $ID_SIMULATED)" = "SIMULATED BOARDS: no real board is touched" ] ||
  fail "the simulated-boards line reads \"$(text_of $ID_SIMULATED)\""
case "$(text_of $ID_IMAGE)" in
  "Image: built-in  SHA-256 "????????????"  firmware 0x"*) ;;
  *) fail "the image line reads \"$(text_of $ID_IMAGE)\"" ;;
esac
[ "$(text_of $ID_RECORD)" = "Record: Z:$RECORD" ] || fail "the record line reads \"$(text_of $ID_RECORD)\""
shot station

note "a second start"
start_program --station --simulate=virtual-time
expect_stopped "$started" 0 "a second start"
[ "$(window_count)" = 1 ] || fail "$(window_count) station windows after a second start"

note "sim-1 re-plugged from its tile"
click_control $ID_REPLUG
expect_counts "Succeeded: 4  Failed: 2" 60
wait_for 30 tile_reads 1 "sim-1/Write to EEPROM OK!/" || fail "tile 1 reads \"$(tile 1)\" after its re-plug"

note "Exit with sim-6 at work: No, then Yes"
QUESTION="1 board is being written. Stop it and exit?\\n\\nA board stopped is not written: write it again."
click_control $ID_EXIT
expect_box "$QUESTION" "$CAPTION" station_box_exit_question 5
main_window_up || fail "the window went after \"No\""
running "$station" || fail "the program ended after \"No\""
case "$(tile 6)" in
  "sim-6/writing "*) ;;
  *) fail "tile 6 reads \"$(tile 6)\" after \"No\"" ;;
esac
click_control $ID_EXIT
expect_box "$QUESTION" "$CAPTION" station_box_exit_question 4
# The station stops sim-6 and records it before the window goes.
expect_stopped "$station" 30 "Exit with a failed board"
[ "$(window_count)" = 0 ] || fail "the station window stayed after Exit"
lines=$(wc -l <"$RECORD")
[ "$lines" -eq 7 ] || fail "the record has $lines lines, not 7 (5 boards, sim-1 again, sim-6 stopped)"
objects=$(grep -c '^{.*"port":"sim-[1-6]".*}$' "$RECORD")
[ "$objects" -eq "$lines" ] || fail "$objects of the record's $lines lines are results with a port"
[ "$(grep -c '"port":"sim-1"' "$RECORD")" -eq 2 ] || fail "sim-1 is not recorded twice"
[ "$(grep -c '"port":"sim-6"' "$RECORD")" -eq 1 ] || fail "sim-6's stopped write is not recorded"

# --- a board erased and waiting for its re-plug, under its slot's label; in real time, so that the
# wait outlasts the check's clicks ---
note "a programmed board waits for its re-plug"
printf '# bench\nsim-1 Bench A\n' >"$SLOTS"
start_program --station --quiet --slots "Z:$SLOTS" --simulate=boards=1,manual-replug
replug=$started
wait_for 120 main_window_up || fail "no window with --slots"
wait_for 60 tile_reads 1 "Bench A/erased: waiting for the re-plug/" ||
  fail "tile 1 reads \"$(tile 1)\", not waiting for its re-plug"
shot station_replug_wait
click_control $ID_REPLUG
wait_for 120 tile_reads 1 "Bench A/Write to EEPROM OK!/" || fail "tile 1 reads \"$(tile 1)\" after its re-plug"
expect_counts "Succeeded: 1  Failed: 0" 10
[ "$(text_of $ID_RECORD)" = "Record: none" ] || fail "the record line reads \"$(text_of $ID_RECORD)\""
# Nothing at work: Exit asks nothing.
click_control $ID_EXIT
expect_stopped "$replug" 0 "Exit with every board done"
[ -z "$(boxes)" ] || fail "a box after Exit with every board done: $(boxes | tr '\n' ';')"

# --- more boards than the window has room for: the wheel scrolls the tiles ---
note "forty boards"
start_program --station --simulate=boards=40,blank,virtual-time
many=$started
wait_for 120 main_window_up || fail "no window with forty boards"
expect_counts "Succeeded: 40  Failed: 0" 120
[ "$(tile 40)" = "sim-40/Write to EEPROM OK!/" ] || fail "tile 40 reads \"$(tile 40)\""
shot station_forty
last_y() { probe center "$TITLE" $((ID_TILE + 39)) | cut -d' ' -f2; }
before=$(last_y)
# shellcheck disable=SC2046
xdotool mousemove $(probe center "$TITLE" $ID_TILE) click --repeat 3 5
scrolled() { [ "$(last_y)" -lt "$before" ]; }
wait_for 10 scrolled || fail "the wheel left the last tile at y $(last_y) (it was at $before)"
shot station_forty_scrolled
# Esc is Exit too.
xdotool key Escape
expect_stopped "$many" 0 "Esc with forty boards done"

check_end station
