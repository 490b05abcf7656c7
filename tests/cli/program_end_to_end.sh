#!/bin/sh
# Runs kt7310-eeprom as a production line script would and checks exit statuses and printed lines.
# Usage: program_end_to_end.sh PATH-TO-kt7310-eeprom
set -u
program="$1"
failures=0
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

# expect STATUS EXPECTED-STDOUT ARGS...
expect() {
  want_status="$1"; want_out="$2"; shift 2
  "$program" "$@" </dev/null >"$out" 2>"$err"
  status=$?
  if [ "$status" -ne "$want_status" ]; then
    echo "FAIL: $* exited $status, expected $want_status"; cat "$out" "$err"; failures=$((failures + 1)); return
  fi
  if [ -n "$want_out" ] && [ "$(cat "$out")" != "$want_out" ]; then
    echo "FAIL: $* printed:"; cat "$out"; echo "expected:"; echo "$want_out"; failures=$((failures + 1))
  fi
}

# Empties the output files before a job started in the background: its own redirections happen in the
# child, so a wait for a line in them could otherwise see the previous run's line and signal too early.
fresh_output() {
  : >"$out"
  : >"$err"
}

expect 0 "Write to EEPROM OK!" write --simulate=blank,virtual-time
expect 0 "Please re-plugin USB device and MUST wait for USB device being recognized.
Then press button to continue writting EEPROM!!
Write to EEPROM OK!" write --simulate=virtual-time
expect 2 "Write to EEPROM Fail!  Try Again!(-2)" write --simulate=blank,virtual-time,chip-id=5
expect 4 "Write to EEPROM Fail!  Try Again!(-4)" write --simulate=blank,virtual-time,chip-version=0x7390
expect 8 "Fail to write EEPROM!!
Write to EEPROM Fail!  Try Again!(-8)" write --simulate=blank,virtual-time,silent@30
expect 0 "Please re-plugin USB device and MUST wait for USB device being recognized.
Then press button to continue writting EEPROM!!" erase --simulate=virtual-time
expect 2 "" probe --simulate=virtual-time
expect 64 "" --simulate=warp-speed
expect 64 "" --no-such-option
expect 64 "" write --simulate=blank,virtual-time --vid "" --pid zz
expect 64 "" --simulate=blank,virtual-time
expect 23 "EEPROM Can't be Written!!(-1)" write --simulate=virtual-time,manual-replug,unplug@1
expect 0 "" probe --simulate=blank,virtual-time
# Without Enter to wait for, the job waits for the board to come back after the erase; one that never
# re-plugs ends the run with its own status instead of a job against a board that is not back.
expect 26 "Please re-plugin USB device and MUST wait for USB device being recognized.
Then press button to continue writting EEPROM!!" write --simulate=virtual-time,manual-replug --replug-timeout 0
expect 64 "" write --replug-timeout soon
expect 0 "" --version

# A dump that read saved verifies its board and programs another board with the same bytes. The first
# board gets the EVB IDs, so the dump is not the built-in image (and both boards answer at 3B7D:0001).
dumps=$(mktemp -d)
board_a="--simulate=virtual-time,eeprom=$dumps/a.eeprom"
board_b="--simulate=virtual-time,eeprom=$dumps/b.eeprom"
expect 0 "Write to EEPROM OK!" write --evb-ids --simulate=blank,virtual-time,eeprom="$dumps/a.eeprom"
expect 0 "" read "$board_a" --pid 1 --output "$dumps/dump.bin"
expect 0 "verify: all 16400 bytes match the image" verify "$board_a" --pid 1 --image "$dumps/dump.bin"
expect 0 "Write to EEPROM OK!" write --simulate=blank,virtual-time,eeprom="$dumps/b.eeprom" \
  --image "$dumps/dump.bin"
expect 0 "" read "$board_b" --pid 1 --output "$dumps/b.bin"
if ! cmp -s "$dumps/dump.bin" "$dumps/b.bin"; then
  echo "FAIL: the board written from a dump reads back otherwise"; failures=$((failures + 1))
fi
rm -rf "$dumps"

# Progress without a terminal: one line per tenth on standard error.
"$program" write --simulate=blank,virtual-time </dev/null >"$out" 2>"$err"
if [ "$(grep -c '^progress [0-9]*%$' "$err")" -ne 10 ]; then
  echo "FAIL: expected ten progress lines, got:"; cat "$err"; failures=$((failures + 1))
fi
# A usage error names the option.
"$program" --simulate=warp-speed </dev/null >"$out" 2>"$err"
grep -q "warp-speed" "$err" || { echo "FAIL: usage error does not name the option"; failures=$((failures + 1)); }

# Ctrl-C (here SIGINT, then SIGTERM) in the middle of a real-time job: it stops as Exit stops it, its
# boxes are shown, and the status says it was stopped.
for signal in INT TERM; do
  fresh_output
  "$program" write --simulate=blank </dev/null >"$out" 2>"$err" &
  job=$!
  # Once the body is being written (its first progress line), the signal comes.
  for _ in $(seq 1 100); do grep -q '^progress' "$err" && break; sleep 0.1; done
  kill -"$signal" "$job"
  status=0
  wait "$job" || status=$?
  if [ "$status" -ne 130 ] || ! grep -q 'Try Again!(-8)' "$out"; then
    echo "FAIL: SIG$signal during a job exited $status, expected 130 with its boxes:"; cat "$out" "$err"
    failures=$((failures + 1))
  fi
done

# A board that stops taking reports in the body (hang@25: the write stays until cancelled; wedge@25: not
# even then), and Ctrl-C: Exit gives the worker its bound, cancels the write and gets the worker back
# (130), or, when nothing brings the write back, ends the process after the second bound (27). Never a
# hang.
for fault in hang:130 wedge:27; do
  fresh_output
  "$program" write -v --simulate=blank,"${fault%%:*}"@25 </dev/null >"$out" 2>"$err" &
  job=$!
  for _ in $(seq 1 100); do grep -q 'write the body' "$err" && break; sleep 0.1; done
  sleep 0.5
  kill -INT "$job"
  status=0
  wait "$job" || status=$?
  if [ "$status" -ne "${fault##*:}" ]; then
    echo "FAIL: SIGINT with ${fault%%:*}@25 exited $status, expected ${fault##*:}:"; cat "$out" "$err"
    failures=$((failures + 1))
  fi
done
grep -q 'still inside a device call' "$err" || { echo "FAIL: no word on the stuck job"; cat "$err"; failures=$((failures + 1)); }

# The station's record: killed (SIGKILL) the moment results have been printed, the record still holds
# every result line printed, one whole JSON line each.
record=$(mktemp)
fresh_output
"$program" station --simulate=boards=4,blank,board2.chip-id=5,board3.chip-version=0x7390 --record "$record" \
  </dev/null >"$out" 2>"$err" &
station=$!
for _ in $(seq 1 100); do [ "$(grep -c '^\[sim-' "$out")" -ge 2 ] && break; sleep 0.1; done
kill -KILL "$station"
wait "$station" 2>/dev/null
printed=$(grep -c '^\[sim-' "$out")
recorded=0
grep '^\[sim-' "$out" >"$err"
while IFS= read -r line; do
  port=${line%%]*}
  port=${port#[}
  text=${line#*] }
  grep -F "\"port\":\"$port\"" "$record" | grep -qF "\"text\":\"$text\"" && recorded=$((recorded + 1))
done <"$err"
if [ "$printed" -lt 2 ] || [ "$recorded" -ne "$printed" ] || [ "$(grep -cv '^{.*}$' "$record")" -ne 0 ]; then
  echo "FAIL: station killed after $printed results, $recorded of them in the record:"; cat "$out" "$record"
  failures=$((failures + 1))
fi
rm -f "$record"

[ "$failures" -eq 0 ] && echo "all program checks passed"
exit "$failures"
