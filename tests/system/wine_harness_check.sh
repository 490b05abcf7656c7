#!/bin/sh
# The Wine scenario's wait for a box (window_await_box), run against a scripted screen instead of Wine:
# the probes, the clicks, the clock and the board's log are stand-ins, so each interleaving of the job and
# the wait's looks can be laid out exactly. No guest, no Wine, no X.
set -u
here=$(cd "$(dirname "$0")" && pwd)
KT_ROOT=$(cd "$here/../.." && pwd)
# shellcheck source=tests/system/wine_scenarios.sh
. "$here/wine_scenarios.sh"

# Shorter bounds than the guest's, on the fake clock: the rounds are what is checked, not the figures.
window_quiet_s=9
window_bound_s=20
SCENARIO_DIR=$(mktemp -d)
trap 'rm -rf "$SCENARIO_DIR"' EXIT
title=window
result_ok="KT701xWriteEepromMP|Write to EEPROM OK!|50 60"
routine_fail="Write EEPROM|Fail to write EEPROM!!|10 20"
result_failed="KT701xWriteEepromMP|Write EEPROM Fail!!(-4)|50 60"

# The scripted world: the box on the screen, whether Write EEPROM is enabled, how many snapshots of the
# boxes have been taken. It lives in a file, since the wait takes its snapshots in subshells. $after_look
# (a box line, "end" for a job that ends with no box, or "") happens right after the first snapshot;
# $on_click (the same) when the box on the screen is clicked. A busy board writes to its log each second
# of the fake clock.
world=$SCENARIO_DIR/world
load() { IFS='#' read -r shown enabled looks <"$world"; }
save() { printf '%s#%s#%s\n' "$shown" "$enabled" "$looks" >"$world"; }
happen() {
  case $1 in
    "") ;;
    end) shown="" enabled=1 ;;
    *) shown=$1 ;;
  esac
}
date() { echo "$clock"; }
sleep() {
  clock=$((clock + 1))
  if [ "$busy" = 1 ]; then echo "OUT" >>"$SCENARIO_DIR/board.log"; fi
}
probe() {
  load
  case $1 in
    enabled) if [ "$enabled" = 1 ]; then echo yes; else echo no; fi ;;
    boxes)
      if [ -n "$shown" ]; then printf '%s\n' "$shown"; fi
      looks=$((looks + 1))
      if [ "$looks" = 1 ]; then happen "$after_look"; fi
      save
      ;;
  esac
}
xdotool() {  # mousemove X Y click 1
  clicks=$((clicks + 1))
  load
  if [ -n "$shown" ] && [ "$(box_ok "$shown")" = "$2 $3" ]; then
    shown=""
    happen "$on_click"
  fi
  save
}
window_fail() { failure=$2; }

failed=0
# NAME | AFTER-THE-FIRST-LOOK | ON-A-CLICK | BUSY-BOARD | EXPECTED (the box, or the failure's first words) | CLICKS
while IFS='#' read -r name after click busy_board want want_clicks; do
  [ -n "$name" ] || continue
  clock=1000 looks=0 clicks=0 shown="" enabled=0 failure="" box=""
  after_look=$after on_click=$click busy=$busy_board
  : >"$SCENARIO_DIR/board.log"
  save
  window_await_box board >"$SCENARIO_DIR/out" 2>&1
  got=${box:-$failure}
  case $got in
    "$want"*) ok=1 ;;
    *) ok=0 ;;
  esac
  [ "$clicks" = "$want_clicks" ] || ok=0
  if [ "$ok" = 1 ]; then
    echo "ok   $name"
  else
    echo "FAIL $name: got \"$got\" after $clicks clicks; expected \"$want\" after $want_clicks"
    sed 's/^/     /' "$SCENARIO_DIR/out"
    failed=$((failed + 1))
  fi
done <<EOF
the result box comes between two looks#$result_ok#end#0#$result_ok#0
a block routine's box, then the result#$routine_fail#$result_failed#0#$result_failed#1
the job ended and its box went unseen#end##0#the job ended#0
no box, the board quiet###0#the job stopped#0
no box, the board busy for ever###1#no box after 20 s#0
EOF

# Where a box's OK button is, for boxes as the probe prints them (a line break in the text as \n).
while IFS='#' read -r name line want; do
  [ -n "$name" ] || continue
  got=$(box_ok "$line")
  if [ "$got" = "$want" ]; then
    echo "ok   $name"
  else
    echo "FAIL $name: OK at \"$got\", expected \"$want\""
    failed=$((failed + 1))
  fi
done <<'EOF'
a one-line box#KT701xWriteEepromMP|Write to EEPROM OK!|50 60#50 60
the re-plug box, two lines#Write to EEPROM...|Please re-plugin USB device.\nThen press button!!|514 417#514 417
EOF
[ "$failed" = 0 ]
