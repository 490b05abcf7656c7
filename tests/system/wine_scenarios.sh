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

# Wine's HID class driver can strand an input report: a read request and a report arriving at the same
# moment can leave the report queued and the read waiting (a lost wake-up between taking a queued report
# and queueing the read). The job then fails on a read time-out although the board answered. A failed
# attempt is excused, and tried again on a fresh board, only when it shows exactly that: the board's log
# has the answer to the last request it received. Anything else fails the scenario.
wine_lost_answer() {  # BOARD-NAME
  [ "$(awk -F'\t' '$2 == "OUT" || $2 == "IN" { last = $2 } END { print last }' "$SCENARIO_DIR/$1.log")" = IN ]
}

wine_attempts=3

scenario_wine() {
  wine_setup
  start_board list --gadget blank
  wait_node 3B7D "$BLANK_PID" || fail "no node for the board"
  wine_cli wine-list list
  expect_status wine-list 0
  grep -q "vendor 0x3B7D product 0x$BLANK_PID input 33 output 17" "$SCENARIO_DIR/wine-list.out" ||
    fail "Wine's HID bus does not present the board: $(cat "$SCENARIO_DIR/wine-list.out")"
  stop_board list

  attempt=1
  while :; do
    start_board "cli$attempt" --gadget blank
    wait_node 3B7D "$BLANK_PID" || fail "no node for the board"
    wine_cli "wine-write$attempt" write --yes
    stop_board "cli$attempt"
    [ "$status" -eq 0 ] && break
    wine_lost_answer "cli$attempt" && [ "$attempt" -lt "$wine_attempts" ] ||
      fail "wine-write$attempt exited $status: $(cat "$SCENARIO_DIR/wine-write$attempt.out")"
    echo "figure: the command line under Wine lost an answer the board had sent (attempt $attempt)"
    attempt=$((attempt + 1))
  done
  expect_last_line "wine-write$attempt" "Write to EEPROM OK!"
  expect_programmed "cli$attempt"

  # The window program: Write EEPROM on a blank board ends in the result box.
  title="KT7310 Write EEPROM (MP) Developer v2.0.0 16k16b"
  start_xvfb
  trap 'kill $xvfb_pid 2>/dev/null; wineserver -k 2>/dev/null; stop_all_boards' EXIT
  probe() { "$WINE32" "$work/kt-window-probe.exe" "$@" 2>/dev/null | tr -d '\r'; }
  window_warm_up
  attempt=1
  while :; do
    start_board "window$attempt" --gadget blank
    wait_node 3B7D "$BLANK_PID" || fail "no node for the window's board"
    "$WINE32" "$work/KT701xWriteEepromMP.exe" >/dev/null 2>&1 &
    # After a stalled attempt the prefix's services start again with the program: give it longer.
    deadline=$(( $(date +%s) + 120 * attempt ))
    until [ "$(probe count "$title")" = 1 ]; do
      [ "$(date +%s)" -le "$deadline" ] || window_fail "window$attempt" "no window titled \"$title\""
      sleep 1
    done
    window_click_write "window$attempt"
    window_await_box "window$attempt"
    case $outcome in
      box)
        echo "$box" >"$SCENARIO_DIR/window$attempt-box.txt"
        # shellcheck disable=SC2046
        xdotool mousemove $(echo "$box" | cut -d'|' -f3) click 1
        # shellcheck disable=SC2046
        xdotool mousemove $(probe center "$title" 1) click 1
        wineserver -w
        stop_board "window$attempt"
        case "$box" in "KT701xWriteEepromMP|Write to EEPROM OK!|"*) break ;; esac
        wine_lost_answer "window$attempt" && [ "$attempt" -lt "$wine_attempts" ] || fail "the window showed: $box"
        ;;
      stalled)
        # A job stuck on a stranded read never ends by itself: the program is ended with the prefix.
        echo "stalled: $(window_fail "window$attempt" "(attempt $attempt)" | tr '\n' ' ')"
        wine_lost_answer "window$attempt" && [ "$attempt" -lt "$wine_attempts" ] ||
          window_fail "window$attempt" "the job stopped with no result box"
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
        stop_board "window$attempt"
        ;;
    esac
    echo "figure: the window program under Wine lost an answer the board had sent (attempt $attempt)"
    attempt=$((attempt + 1))
  done
  expect_programmed "window$attempt"
}

# The window program's first job in a new prefix has stalled before its result box, the attempts after it
# not. It first runs one job on its simulated board (in virtual time), bounded, so that the attempts on
# the gadget meet a prefix that has shown the program's window and a box; whatever is left is ended with
# the prefix.
window_warm_up() {
  local deadline started box=""
  started=$(date +%s)
  "$WINE32" "$work/KT701xWriteEepromMP.exe" --simulate=blank,virtual-time >/dev/null 2>&1 &
  deadline=$((started + 120))
  until [ "$(probe count "$title")" = 1 ] || [ "$(date +%s)" -gt "$deadline" ]; do sleep 1; done
  # shellcheck disable=SC2046
  xdotool mousemove $(probe center "$title" 1002) click 1
  deadline=$(( $(date +%s) + 240 ))
  until box=$(probe boxes | head -n 1) && [ -n "$box" ] || [ "$(date +%s)" -gt "$deadline" ]; do sleep 1; done
  echo "figure: the warm-up job on the simulated board showed \"$(echo "$box" | cut -d'|' -f2)\" after $(( $(date +%s) - started )) s"
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
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

# Clicks Write EEPROM until the board sees the job's first request. The window can be drawn before it
# takes clicks (the program is still starting under a slow guest); a click lost then is given again.
window_click_write() {  # BOARD-NAME
  local clicks=0 before wait_until
  before=$(board_requests "$1")
  while [ "$clicks" -lt 3 ]; do
    # shellcheck disable=SC2046
    xdotool mousemove $(probe center "$title" 1002) click 1
    clicks=$((clicks + 1))
    wait_until=$(( $(date +%s) + 30 ))
    while [ "$(date +%s)" -le "$wait_until" ]; do
      [ "$(board_requests "$1")" -gt "$before" ] && return 0
      sleep 1
    done
    echo "figure: a click on Write EEPROM started no job within 30 s (click $clicks)"
  done
  window_fail "$1" "three clicks on Write EEPROM started no job"
}

# Waits for the job's numbered result box (outcome=box, the box in $box), clicking OK on a block
# routine's own failure box that comes before it. A job whose board has heard nothing for 90 s with no
# box on the screen has stopped (outcome=stalled); the whole job is bounded at 600 s.
window_await_box() {  # BOARD-NAME
  local deadline quiet_since size last_size other now
  deadline=$(( $(date +%s) + 600 ))
  quiet_since=$(date +%s)
  last_size=0
  while :; do
    box=$(probe boxes | grep -v '|Fail to \(read\|write\) EEPROM!!|' | head -n 1)
    if [ -n "$box" ]; then
      outcome=box
      return 0
    fi
    other=$(probe boxes | head -n 1)
    # shellcheck disable=SC2046
    [ -n "$other" ] && xdotool mousemove $(echo "$other" | cut -d'|' -f3) click 1
    now=$(date +%s)
    size=$(wc -c <"$SCENARIO_DIR/$1.log")
    if [ "$size" != "$last_size" ] || [ -n "$other" ]; then
      last_size=$size
      quiet_since=$now
    elif [ $((now - quiet_since)) -ge 90 ]; then
      outcome=stalled
      return 0
    fi
    [ "$now" -le "$deadline" ] || window_fail "$1" "no result box after 600 s"
    sleep 1
  done
}
