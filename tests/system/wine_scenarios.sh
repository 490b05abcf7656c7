# The shipped 32-bit Windows programs under 32-bit Wine on the guest's real HID stack: Wine's HID bus
# takes the board's hidraw node, and the programs meet it through SetupAPI, HidD, HidP and overlapped
# ReadFile as they would on Windows.

MINGW=${KT_MINGW_BUILD:-$KT_ROOT/build/mingw}
WINE32=/usr/lib/wine/wine

# A 32-bit prefix in the guest's tmpfs, whose HID bus reads hidraw nodes. Wine's HID bus driver starts
# its SDL bus by default and then leaves hidraw alone: "Enable SDL" = 0 starts its udev bus instead.
wine_setup() {
  [ -x "$WINE32" ] || fail "no 32-bit Wine loader ($WINE32): install wine32:i386"
  work=$(mktemp -d /tmp/kt-wine.XXXXXX)
  # Mapped program files misbehave on the 9p share: the programs run from the tmpfs.
  for exe in src/app/cli/kt7310-eeprom.exe src/app/win32/KT701xWriteEepromMP.exe kt-window-probe.exe; do
    cp "$MINGW/$exe" "$work/" || fail "no $exe in $MINGW (make build-windows)"
  done
  export HOME=$work WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  "$WINE32" wineboot --init >"$SCENARIO_DIR/wineboot.log" 2>&1 || fail "wineboot failed: $(tail -n 3 "$SCENARIO_DIR/wineboot.log")"
  "$WINE32" reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' /t REG_DWORD /d 0 /f \
    >>"$SCENARIO_DIR/wineboot.log" 2>&1 || fail "cannot set winebus's options"
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

wine_cli() {  # NAME ARGS...: like run_tool, with the 32-bit command line under Wine
  name=$1
  shift
  status=0
  "$WINE32" "$work/kt7310-eeprom.exe" "$@" </dev/null >"$SCENARIO_DIR/$name.out" 2>"$SCENARIO_DIR/$name.err" || status=$?
  tr -d '\r' <"$SCENARIO_DIR/$name.out" >"$SCENARIO_DIR/$name.tmp" && mv "$SCENARIO_DIR/$name.tmp" "$SCENARIO_DIR/$name.out"
}

# Wine 8.0's HID class driver can strand an input report (hidclass.sys device.c: pdo_read looks for a
# queued report and queues the read in two steps under no lock that covers both, and the ring's write
# index is published after its lock is let go): a report that arrives in between stays queued beside a
# waiting read. The Windows backend keeps a read waiting before every request, which closes the first
# window for its traffic; the second is Wine's alone. The command line's job is therefore excused once,
# and counted, when it failed on a read time-out while the board's log ends with the answer to the last
# request it received: the board answered and the program never saw it.
wine_stranded_report() {  # TOOL-NAME BOARD-NAME
  grep -q "timed out\|time-out\|(-[0-9]*)" "$SCENARIO_DIR/$1.out" "$SCENARIO_DIR/$1.err" 2>/dev/null &&
    [ "$(awk -F'\t' '$2 == "OUT" || $2 == "IN" { last = $2 } END { print last }' "$SCENARIO_DIR/$2.log")" = IN ]
}
stranded_reports=0

# The board's log: the line number of the first line holding TEXT (0 when none).
log_line_of() {  # BOARD-NAME TEXT
  grep -n -m 1 -F "$2" "$SCENARIO_DIR/$1.log" | cut -d: -f1 | grep . || echo 0
}

# Unplugs board NAME and plugs it in again (the board keeps its EEPROM) and waits until its node is back
# at product PID; with "seen", also until Wine's HID bus presents it there: what the operator does when
# the box says so.
replug_board() {  # BOARD-NAME PID [seen]
  local pid var
  var=board_pid_$(pid_var "$1")
  eval "pid=\${$var}"
  kill -USR1 "$pid"
  wait_node 3B7D "$2" || fail "board $1 did not come back as 3B7D:$2"
  [ "${3:-}" = seen ] || return 0
  wine_sees 3B7D "$2" || fail "Wine's HID bus did not present board $1 again as 3B7D:$2"
}

# Waits (at most 120 s) until Wine presents COUNT (default 1) HID interfaces at these IDs; the seconds
# it took go into $seen_after. Wine's HID bus adds devices on its own time: the driver services a new wineserver starts
# take their time under TCG, and a re-plugged board comes back a moment after its node does.
wine_sees() {  # VID PID [COUNT]
  local started deadline
  started=$(date +%s)
  deadline=$((started + 120))
  until [ "$("$WINE32" "$work/kt-window-probe.exe" hid "$1" "$2" 2>/dev/null | tr -d '\r')" -ge "${3:-1}" ] 2>/dev/null; do
    [ "$(date +%s)" -le "$deadline" ] || return 1
    sleep 1
  done
  seen_after=$(( $(date +%s) - started ))
}

scenario_wine() {
  wine_setup
  start_board list --gadget blank
  wait_node 3B7D "$BLANK_PID" || fail "no node for the board"
  wine_sees 3B7D "$BLANK_PID" || fail "Wine's HID bus did not present the board within 120 s; Wine's processes: $(ps -eo pid,etime,time,args | grep -i '[w]ine\|[.]exe' | tr '\n' ';')"
  echo "figure: Wine's HID bus presented the first board after $seen_after s"
  wine_cli wine-list list
  expect_status wine-list 0
  grep -q "vendor 0x3B7D product 0x$BLANK_PID input 33 output 17" "$SCENARIO_DIR/wine-list.out" ||
    fail "Wine's HID bus does not present the board: $(cat "$SCENARIO_DIR/wine-list.out")"
  stop_board list

  wine_flow_write
  wine_flow_station
  wine_flow_window
  echo "figure: command-line jobs excused for a report stranded in Wine's HID class driver: $stranded_reports"
}

# 1. The command line on a programmed board: both erase commands, the re-plug message, the board leaving
# and coming back as Windows' device notifications tell it, then the job on the blank board.
wine_flow_write() {
  local attempt=1 started
  while :; do
    start_board "cli$attempt" --gadget ""
    wait_node 3B7D "$PROGRAMMED_PID" || fail "no node for the programmed board"
    wine_sees 3B7D "$PROGRAMMED_PID" || fail "Wine's HID bus did not present the programmed board"
    started=$(date +%s)
    wine_cli "wine-write$attempt" write --yes --trace "Z:$SCENARIO_DIR/wine-write$attempt.trace"
    stop_board "cli$attempt"
    [ "$status" -eq 0 ] && break
    wine_stranded_report "wine-write$attempt" "cli$attempt" && [ "$stranded_reports" = 0 ] ||
      fail "wine-write$attempt exited $status: $(cat "$SCENARIO_DIR/wine-write$attempt.out" "$SCENARIO_DIR/wine-write$attempt.err")"
    stranded_reports=$((stranded_reports + 1))
    echo "figure: excused, a report stranded in Wine's HID class driver (wine-write$attempt)"
    attempt=$((attempt + 1))
  done
  echo "figure: write --yes on a programmed board under Wine, erase and re-plug included: $(( $(date +%s) - started )) s"
  local name=wine-write$attempt board=cli$attempt back erase2 job
  expect_last_line "$name" "Write to EEPROM OK!"
  grep -q "Please re-plugin USB device" "$SCENARIO_DIR/$name.out" || fail "no re-plug message"
  ! grep -q "device changes are not reported" "$SCENARIO_DIR/$name.err" || fail "the Windows backend reports no device changes"
  # The board left after the erase and came back blank, and the job's requests came after that.
  back=$(log_line_of "$board" "board: plugged in as 3B7D:$BLANK_PID")
  [ "$back" -gt 0 ] || fail "board $board never came back blank"
  [ "$(log_line_of "$board" "board: unplugged")" -gt 0 ] || fail "board $board never left the bus"
  job=$(awk -F'\t' -v from="$back" 'NR > from && $2 == "OUT" { print NR; exit }' "$SCENARIO_DIR/$board.log")
  [ -n "$job" ] || fail "no request reached board $board after it came back: the job did not wait for it"
  erase2=$(grep -c "sim: erase: EEPROM cleared" "$SCENARIO_DIR/$board.log")
  [ "$erase2" -ge 2 ] || fail "board $board did not receive both erase commands ($erase2)"
  expect_programmed "$board"
}

# 2. The station on three boards at three ports, one programmed; then --watch on one board that is
# unplugged and plugged in again, ended with Ctrl-C.
wine_flow_station() {
  local n pids pid deadline ports
  start_board st1 --gadget blank
  start_board st2 --gadget ""
  start_board st3 --gadget blank
  deadline=$(( $(date +%s) + 30 ))
  until [ "$(grep -l "^HID_ID=0003:00003B7D:0000\($BLANK_PID\|$PROGRAMMED_PID\)\$" /sys/class/hidraw/hidraw*/device/uevent 2>/dev/null | wc -l)" -ge 3 ]; do
    [ "$(date +%s)" -le "$deadline" ] || fail "fewer than three board nodes appeared"
    sleep 0.2
  done
  udevadm settle -t 5 || true
  wine_sees 3B7D "$BLANK_PID" 2 && wine_sees 3B7D "$PROGRAMMED_PID" || fail "Wine's HID bus did not present the three boards"
  wine_cli wine-station station --record "Z:$SCENARIO_DIR/station.jsonl"
  expect_status wine-station 0
  # Wine gives no location: each port is the board's HID instance, the same before and after its re-plug.
  [ "$(grep -c '^\[HID\\[^]]*\] Write to EEPROM OK!$' "$SCENARIO_DIR/wine-station.out")" -eq 3 ] ||
    fail "not three boards written at three ports: $(cat "$SCENARIO_DIR/wine-station.out")"
  ports=$(grep -o '^\[[^]]*\]' "$SCENARIO_DIR/wine-station.out" | sort -u | wc -l)
  [ "$ports" -eq 3 ] || fail "the station's lines name $ports ports, not three: $(cat "$SCENARIO_DIR/wine-station.out")"
  grep -q '^\[HID\\[^]]*\] Please re-plugin USB device' "$SCENARIO_DIR/wine-station.out" ||
    fail "no re-plug message for the programmed board"
  grep -qx 'Succeeded: 3  Failed: 0' "$SCENARIO_DIR/wine-station.out" || fail "no summary"
  [ "$(grep -c '"result":0' "$SCENARIO_DIR/station.jsonl")" -eq 3 ] || fail "the record does not hold three results"
  echo "figure: station of three gadget boards under Wine, one erased first: $(grep -o '"ms":[0-9]*' "$SCENARIO_DIR/station.jsonl" | cut -d: -f2 | sort -n | tail -n 1) ms for the slowest"
  for n in 2 3; do stop_board "st$n"; done
  for n in 2 3; do expect_programmed "st$n"; done

  # --watch: st1 (programmed now) is written at the start, and again once it has been re-plugged.
  "$WINE32" "$work/kt7310-eeprom.exe" station --watch </dev/null >"$SCENARIO_DIR/wine-watch.out" 2>"$SCENARIO_DIR/wine-watch.err" &
  pid=$!
  watch_ok() { grep -c 'Write to EEPROM OK!' "$SCENARIO_DIR/wine-watch.out" 2>/dev/null || true; }
  deadline=$(( $(date +%s) + 300 ))
  until [ "$(watch_ok)" -ge 1 ]; do
    [ "$(date +%s)" -le "$deadline" ] || fail "station --watch wrote no board: $(cat "$SCENARIO_DIR/wine-watch.out" "$SCENARIO_DIR/wine-watch.err")"
    sleep 1
  done
  eval "kill -USR1 \$board_pid_st1"
  deadline=$(( $(date +%s) + 300 ))
  until [ "$(watch_ok)" -ge 2 ]; do
    [ "$(date +%s)" -le "$deadline" ] || fail "station --watch did not write the re-plugged board: $(cat "$SCENARIO_DIR/wine-watch.out" "$SCENARIO_DIR/wine-watch.err")"
    sleep 1
  done
  # Ctrl-C: Wine turns SIGINT into the console's CTRL_C_EVENT.
  kill -INT "$pid"
  deadline=$(( $(date +%s) + 60 ))
  # Still running: there, and not a zombie waiting for its status to be taken.
  while [ -e "/proc/$pid" ] && [ "$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null)" != Z ]; do
    [ "$(date +%s)" -le "$deadline" ] || { kill -KILL "$pid"; fail "station --watch did not end within 60 s of Ctrl-C"; }
    sleep 1
  done
  status=0
  wait "$pid" || status=$?
  tr -d '\r' <"$SCENARIO_DIR/wine-watch.out" >"$SCENARIO_DIR/wine-watch.tmp" && mv "$SCENARIO_DIR/wine-watch.tmp" "$SCENARIO_DIR/wine-watch.out"
  expect_status wine-watch 0
  grep -qx 'Succeeded: 2  Failed: 0' "$SCENARIO_DIR/wine-watch.out" || fail "station --watch's summary: $(tail -n 3 "$SCENARIO_DIR/wine-watch.out")"
  stop_board st1
  expect_programmed st1
}

# 3. The window program on a programmed board, as an operator: Write EEPROM, the erase, the re-plug box;
# the board re-plugged and seen again, the box answered, the job, "Write to EEPROM OK!". Then the board
# is re-plugged once more with no job running: it comes back programmed, the window's WM_DEVICECHANGE
# probe finds no blank board, and Write EEPROM erases it again (a window that missed the change would
# go straight to the job), and the same again to the end.
wine_flow_window() {
  title="KT7310 Write EEPROM (MP) Developer v2.0.0 16k16b"
  wine_screen
  start_board window --gadget manual-replug
  wait_node 3B7D "$PROGRAMMED_PID" || fail "no node for the window's board"
  wine_sees 3B7D "$PROGRAMMED_PID" || fail "Wine's HID bus does not present the window's board"
  "$WINE32" "$work/KT701xWriteEepromMP.exe" >/dev/null 2>&1 &
  local deadline started
  deadline=$(( $(date +%s) + 120 ))
  until [ "$(probe count "$title")" = 1 ] && [ "$(probe enabled "$title" 1002)" = yes ]; do
    [ "$(date +%s)" -le "$deadline" ] || window_fail window "no window titled \"$title\" with Write EEPROM enabled"
    sleep 1
  done
  started=$(date +%s)
  window_erase_and_write window 1
  echo "figure: the window program's erase, re-plug and job under Wine: $(( $(date +%s) - started )) s"
  replug_board window "$PROGRAMMED_PID" seen
  window_erase_and_write window 2
  xdotool mousemove $(probe center "$title" 1) click 1 2>/dev/null || true
  wineserver -w
  stop_board window
  expect_programmed window
  [ "$(grep -c "board: plugged in as 3B7D:$BLANK_PID" "$SCENARIO_DIR/window.log")" -eq 2 ] ||
    fail "the window's board did not come back blank twice"
}

# What the window flows share: a screen, and the probe that reads Wine's windows on it.
wine_screen() {
  start_xvfb
  trap 'kill $xvfb_pid 2>/dev/null; wineserver -k 2>/dev/null; stop_all_boards' EXIT
}
probe() { "$WINE32" "$work/kt-window-probe.exe" "$@" 2>/dev/null | tr -d '\r'; }

# On demand (its own prefix; not in CI's run, which it would take past 70 minutes): the station window.
scenario_wine_station_window() {
  wine_setup
  wine_screen
  wine_flow_station_window
}

# The station window on two boards, one programmed, read through the probe: both tiles "Write to EEPROM
# OK!", the programmed one followed back to its port after its erase with no box to answer, the counts,
# two records; Exit with nothing at work closes it at once with the station's status, 0.
wine_flow_station_window() {
  local stitle="KT7310 Write EEPROM (MP) Station" deadline status pid started id
  start_board sw1 --gadget blank
  start_board sw2 --gadget ""
  deadline=$(( $(date +%s) + 30 ))
  until [ "$(grep -l "^HID_ID=0003:00003B7D:0000\($BLANK_PID\|$PROGRAMMED_PID\)\$" /sys/class/hidraw/hidraw*/device/uevent 2>/dev/null | wc -l)" -ge 2 ]; do
    [ "$(date +%s)" -le "$deadline" ] || fail "fewer than two board nodes appeared"
    sleep 0.2
  done
  udevadm settle -t 5 || true
  wine_sees 3B7D "$BLANK_PID" && wine_sees 3B7D "$PROGRAMMED_PID" || fail "Wine's HID bus did not present the two boards"
  started=$(date +%s)
  "$WINE32" "$work/KT701xWriteEepromMP.exe" --station --record "Z:$SCENARIO_DIR/station-window.jsonl" >/dev/null 2>&1 &
  pid=$!
  deadline=$(( $(date +%s) + 400 ))
  until [ "$(probe text "$stitle" 4003)" = "Succeeded: 2  Failed: 0" ]; do
    [ "$(date +%s)" -le "$deadline" ] ||
      fail "the station window's counts: \"$(probe text "$stitle" 4003)\"; tiles: $(probe text "$stitle" 5000 | tr '\n' ' ')/ $(probe text "$stitle" 5001 | tr '\n' ' ')"
    sleep 2
  done
  echo "figure: the station window under Wine, two boards, one erased first: $(( $(date +%s) - started )) s"
  for id in 5000 5001; do
    probe text "$stitle" "$id" | grep -qx 'Write to EEPROM OK!' || fail "tile $id: $(probe text "$stitle" "$id" | tr '\n' ' ')"
  done
  [ "$(grep -c '"result":0' "$SCENARIO_DIR/station-window.jsonl")" -eq 2 ] || fail "the record does not hold two results"
  xdotool mousemove $(probe center "$stitle" 1) click 1 2>/dev/null || true
  deadline=$(( $(date +%s) + 60 ))
  while [ -e "/proc/$pid" ] && [ "$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null)" != Z ]; do
    [ "$(date +%s)" -le "$deadline" ] || { kill -KILL "$pid"; fail "the station window did not close within 60 s of Exit"; }
    sleep 1
  done
  status=0
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || fail "the station window ended with $status"
  stop_board sw1
  stop_board sw2
  expect_programmed sw1
  expect_programmed sw2
}

# One press of Write EEPROM on a programmed board, to the end: the re-plug box, the board re-plugged and
# seen by Wine again, the box answered, the result box "Write to EEPROM OK!" answered.
window_erase_and_write() {  # BOARD-NAME ROUND
  window_click_write "$1"
  window_await_box "$1" || exit 1
  case $box in
    *"|Please re-plugin USB device"*) ;;
    *) window_fail "$1" "round $2: the re-plug box was expected, the window showed: $box" ;;
  esac
  local replug=$box deadline
  replug_board "$1" "$BLANK_PID" seen
  # shellcheck disable=SC2046
  xdotool mousemove $(box_ok "$replug") click 1
  deadline=$(( $(date +%s) + 30 ))
  while probe boxes | grep -qF "|Please re-plugin USB device"; do
    [ "$(date +%s)" -le "$deadline" ] || window_fail "$1" "round $2: the re-plug box stayed after its OK was clicked"
    sleep 1
  done
  window_await_box "$1" || exit 1
  printf '%s\n' "$box" >"$SCENARIO_DIR/$1-box$2.txt"
  case $box in
    "KT701xWriteEepromMP|Write to EEPROM OK!|"*) ;;
    *) window_fail "$1" "round $2: the window showed: $box" ;;
  esac
  # shellcheck disable=SC2046
  xdotool mousemove $(box_ok "$box") click 1
  deadline=$(( $(date +%s) + 60 ))
  until [ "$(probe enabled "$title" 1002)" = yes ]; do
    [ "$(date +%s)" -le "$deadline" ] || window_fail "$1" "round $2: Write EEPROM did not come back after the result box"
    sleep 1
  done
}

board_requests() {  # BOARD-NAME: requests the board has received so far
  awk -F'\t' '$2 == "OUT" { n++ } END { print n + 0 }' "$SCENARIO_DIR/$1.log"
}

# What the programs and the board showed, for a failure that has nothing else to say.
window_fail() {  # BOARD-NAME MESSAGE
  echo "board $1: $(board_requests "$1") requests; its last lines:"
  tail -n 4 "$SCENARIO_DIR/$1.log"
  echo "message boxes: $(probe boxes | tr '\n' ';')"
  echo "windows titled \"$title\": $(probe count "$title")"
  echo "visible X windows: $(xdotool search --onlyvisible --name '.' getwindowname %@ 2>&1 | tr '\n' ';')"
  echo "Wine processes: $(ps -eo pid,stat,args | grep -i '[.]exe' | tr '\n' ';')"
  fail "$2"
}

# Clicks Write EEPROM once; the board must see the job's first request within 60 s.
window_click_write() {  # BOARD-NAME
  local before deadline
  before=$(board_requests "$1")
  # shellcheck disable=SC2046
  xdotool mousemove $(probe center "$title" 1002) click 1
  deadline=$(( $(date +%s) + 60 ))
  until [ "$(board_requests "$1")" -gt "$before" ]; do
    [ "$(date +%s)" -le "$deadline" ] || window_fail "$1" "a click on Write EEPROM started no job within 60 s"
    sleep 1
  done
}

# How long the board may stay quiet with no box on the screen, and how long a job may take, in seconds.
window_quiet_s=90
window_bound_s=600

# A box as the probe prints it, "CAPTION|TEXT|X Y": its text, and where its OK button is. printf, not
# echo: dash's echo turns the "\n" the probe writes for a line break into one, and the box into two lines.
box_text() { printf '%s\n' "$1" | cut -d'|' -f2; }
box_ok() { printf '%s\n' "$1" | cut -d'|' -f3; }

# The boxes a block routine shows on its own before the job's numbered result: they are answered here.
routine_boxes='|Fail to \(read\|write\) EEPROM!!|'

# Waits for the next box that is not a block routine's own (the job's result, the re-plug box, a
# not-found box) and leaves it in $box. Each round takes one snapshot of the boxes, and answers from it
# alone: a box seen in it is never clicked away by another look. A block routine's box is clicked, and
# the click logged. The dialog shows its result box before it gives Write EEPROM back, so Write EEPROM
# enabled (looked at before the snapshot) with no box in the snapshot is a job that ended and whose box
# was lost: a failure. No box, Write EEPROM disabled and the board quiet for $window_quiet_s s: the job
# stopped, a failure too. The whole wait is bounded ($window_bound_s s).
window_await_box() {  # BOARD-NAME
  local deadline quiet_since size last_size=-1 snapshot routine now ended
  now=$(date +%s)
  deadline=$((now + window_bound_s))
  quiet_since=$now
  while :; do
    ended=0
    [ "$(probe enabled "$title" 1002)" = yes ] && ended=1
    snapshot=$(probe boxes)
    box=$(printf '%s\n' "$snapshot" | grep -v "$routine_boxes" | grep -m 1 .)
    [ -n "$box" ] && return 0
    routine=$(printf '%s\n' "$snapshot" | grep -m 1 "$routine_boxes")
    if [ -n "$routine" ]; then
      echo "click: OK on \"$(box_text "$routine")\" for board $1"
      # shellcheck disable=SC2046
      xdotool mousemove $(box_ok "$routine") click 1
    elif [ "$ended" = 1 ]; then
      window_fail "$1" "the job ended (Write EEPROM is enabled again) and no box was seen: its box was lost"
      return 1
    fi
    now=$(date +%s)
    size=$(wc -c <"$SCENARIO_DIR/$1.log")
    if [ "$size" != "$last_size" ] || [ -n "$routine" ]; then
      last_size=$size
      quiet_since=$now
    elif [ $((now - quiet_since)) -ge "$window_quiet_s" ]; then
      window_fail "$1" "the job stopped: no box, Write EEPROM still disabled, the board quiet for $window_quiet_s s"
      return 1
    fi
    if [ "$now" -gt "$deadline" ]; then
      window_fail "$1" "no box after $window_bound_s s"
      return 1
    fi
    sleep 1
  done
}
