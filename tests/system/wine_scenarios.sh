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

scenario_wine() {
  wine_setup
  start_board cli --gadget blank
  wait_node 3B7D "$BLANK_PID" || fail "no node for the board"
  wine_cli wine-list list
  expect_status wine-list 0
  grep -q "vendor 0x3B7D product 0x$BLANK_PID input 33 output 17" "$SCENARIO_DIR/wine-list.out" ||
    fail "Wine's HID bus does not present the board: $(cat "$SCENARIO_DIR/wine-list.out")"
  wine_cli wine-write write --yes
  expect_status wine-write 0
  expect_last_line wine-write "Write to EEPROM OK!"
  stop_board cli
  expect_programmed cli

  # The window program: Write EEPROM on a blank board ends in the result box.
  title="KT7310 Write EEPROM (MP) Developer v2.0.0 16k16b"
  fifo=$(mktemp -u /tmp/kt-display.XXXXXX)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" 2>"$SCENARIO_DIR/xvfb.log" &
  xvfb=$!
  read -r display_number <"$fifo"
  export DISPLAY=":$display_number"
  trap 'kill $xvfb 2>/dev/null; wineserver -k 2>/dev/null; stop_all_boards' EXIT
  start_board window --gadget blank
  wait_node 3B7D "$BLANK_PID" || fail "no node for the window's board"
  "$WINE32" "$work/KT701xWriteEepromMP.exe" >/dev/null 2>&1 &
  probe() { "$WINE32" "$work/kt-window-probe.exe" "$@" 2>/dev/null | tr -d '\r'; }
  i=0
  until [ "$(probe count "$title")" = 1 ]; do
    [ "$i" -lt 120 ] || fail "no window titled \"$title\""
    sleep 1
    i=$((i + 1))
  done
  # shellcheck disable=SC2046
  xdotool mousemove $(probe center "$title" 1002) click 1
  i=0
  while :; do
    box=$(probe boxes | head -n 1)
    [ -n "$box" ] && break
    [ "$i" -lt 300 ] || fail "no result box"
    sleep 1
    i=$((i + 1))
  done
  echo "$box" >"$SCENARIO_DIR/window-box.txt"
  case "$box" in
    "KT701xWriteEepromMP|Write to EEPROM OK!|"*) ;;
    *) fail "the window showed: $box" ;;
  esac
  # shellcheck disable=SC2046
  xdotool mousemove $(echo "$box" | cut -d'|' -f3) click 1
  # shellcheck disable=SC2046
  xdotool mousemove $(probe center "$title" 1) click 1
  stop_board window
  expect_programmed window
}
