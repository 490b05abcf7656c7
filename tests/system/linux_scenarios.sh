# The Linux programs on the guest kernel's real hidraw, udev and USB stacks. Each scenario_NAME runs in a
# shell of its own (sourced with board_lib.sh) and fails through `fail`.

# The listing finds the board with the layout the tool works with, on a USB gadget and on uhid.
scenario_list() {
  for transport in gadget uhid; do
    start_board "$transport" "--$transport" blank
    wait_node 3B7D "$BLANK_PID" || fail "no hidraw node for the $transport board"
    run_tool "list-$transport" list
    expect_status "list-$transport" 0
    grep -q "vendor 0x3B7D product 0x$BLANK_PID input 33 output 17 report ID 0\$" "$SCENARIO_DIR/list-$transport.out" ||
      fail "the $transport board is not listed as 3B7D:$BLANK_PID, 33/17, report ID 0"
    stop_board "$transport"
    wait_node 3B7D "$BLANK_PID" gone || fail "the $transport board's node outlived the board"
  done
}

# A programmed board on the gadget: erase, the board re-plugs (UDC unbound and bound again), the job
# waits for it through the hot-plug monitor and writes it. Then a blank board on uhid (no erase).
scenario_write() {
  start_board programmed --gadget ""
  wait_node 3B7D "$PROGRAMMED_PID" || fail "no node for the programmed board"
  run_tool write-programmed write --replug-timeout 30
  expect_status write-programmed 0
  expect_last_line write-programmed "Write to EEPROM OK!"
  grep -q "Please re-plugin USB device" "$SCENARIO_DIR/write-programmed.out" || fail "no re-plug box before the job"
  stop_board programmed
  grep -q "board: unplugged" "$SCENARIO_DIR/programmed.log" || fail "the board never left the bus"
  grep -q "board: plugged in as 3B7D:$BLANK_PID" "$SCENARIO_DIR/programmed.log" || fail "the board never came back blank"
  expect_programmed programmed
  expect_same_requests write-programmed programmed

  start_board blank --uhid blank
  wait_node 3B7D "$BLANK_PID" || fail "no node for the blank board"
  run_tool write-blank write
  expect_status write-blank 0
  expect_last_line write-blank "Write to EEPROM OK!"
  stop_board blank
  expect_programmed blank
  expect_same_requests write-blank blank

  # The same job against the simulated board inside the tool, on the same machine, for comparison.
  run_tool write-inprocess write --simulate=blank
  expect_status write-inprocess 0
  echo "figure: whole job (trace span): programmed board on the USB gadget $(trace_ms write-programmed) ms" \
    "(erase and re-plug included), blank board on uhid $(trace_ms write-blank) ms," \
    "blank simulated board in process $(trace_ms write-inprocess) ms"
}

# Faults through the real stacks, each on a blank board: the job's result and the trace's evidence.
scenario_faults() {
  # The board leaves the bus in the middle of the body: the real node fails the next read at once.
  for transport in gadget uhid; do
    start_board "unplug-$transport" "--$transport" blank,unplug@1000
    wait_node 3B7D "$BLANK_PID" || fail "no node for the $transport board"
    run_tool "unplug-$transport" write
    expect_status "unplug-$transport" 8
    [ "$(cat "$SCENARIO_DIR/unplug-$transport.out")" = "Fail to write EEPROM!!
Write to EEPROM Fail!  Try Again!(-8)" ] || fail "unplug on $transport: $(cat "$SCENARIO_DIR/unplug-$transport.out")"
    grep -q "read timed out" "$SCENARIO_DIR/unplug-$transport.trace" &&
      fail "unplug on $transport: a read waited for its time-out on a vanished board"
    gone=$(grep -m 1 "read failed" "$SCENARIO_DIR/unplug-$transport.trace" | awk '{ print int($2) }')
    echo "figure: unplug@1000 on $transport: $(grep -c "read failed" "$SCENARIO_DIR/unplug-$transport.trace")" \
      "reads failed at once, -8 $(( $(trace_ms "unplug-$transport") - gone )) ms after the first"
    stop_board "unplug-$transport"
  done

  # A short answer (6 data bytes): the same outcome as in process on each real stack, and what the stack
  # handed the tool.
  run_tool short-inprocess write --simulate=blank,short@30
  for transport in gadget uhid; do
    start_board "short-$transport" "--$transport" blank,short@30
    wait_node 3B7D "$BLANK_PID" || fail "no node for the $transport board"
    run_tool "short-$transport" write
    expect_status "short-$transport" 8
    cmp -s "$SCENARIO_DIR/short-$transport.out" "$SCENARIO_DIR/short-inprocess.out" ||
      fail "short@30 on $transport: $(cat "$SCENARIO_DIR/short-$transport.out")"
    short=$(awk -F'\t' '$2 == "IN" && NF == 3 && split($3, b, " ") < 33 { print split($3, b, " ") }' \
      "$SCENARIO_DIR/short-$transport.trace" | head -n 1)
    echo "figure: short@30 on $transport: the 6-byte answer ${short:+read as $short bytes (report-ID byte included)}${short:-never reached the tool (its read timed out)}"
    stop_board "short-$transport"
  done

  start_board silent --uhid blank,silent@10
  wait_node 3B7D "$BLANK_PID" || fail "no node for the silent board"
  run_tool silent write
  expect_status silent 1
  expect_last_line silent "Write to EEPROM Fail!  Try Again!(-1)"
  grep -q "read timed out after 5000 ms" "$SCENARIO_DIR/silent.trace" || fail "silent: no read ran into its time-out"
  stop_board silent

  for fault in stray@50:5 latency=2; do
    name=$(echo "$fault" | tr -c 'a-z0-9\n' '-')
    start_board "$name" --gadget "blank,$fault"
    wait_node 3B7D "$BLANK_PID" || fail "no node for the $fault board"
    run_tool "$name" write
    expect_status "$name" 0
    expect_last_line "$name" "Write to EEPROM OK!"
    echo "figure: $fault on the gadget: whole job $(trace_ms "$name") ms"
    stop_board "$name"
    expect_programmed "$name"
  done
}

# The window program on the real hot-plug monitor: the device probe follows a blank board appearing and
# going, and a board arriving during a job leaves the job's link alone (its probe waits for the job).
scenario_hotplug() {
  title_re='^KT7310 Write EEPROM \(MP\) Developer v2\.0\.0 16k16b$'
  trace=$SCENARIO_DIR/window.trace
  start_xvfb
  KT_WINDOW_TRACE=$trace "$WINDOW" &
  window=$!
  trap 'kill $window $xvfb_pid 2>/dev/null; stop_all_boards' EXIT

  # count_lines TEXT: how many lines of the trace are exactly TEXT; wait_lines TEXT N: until at least N.
  count_lines() { cat "$trace" 2>/dev/null | grep -cxF -- "$1"; }
  wait_lines() {
    local deadline=$(( $(date +%s) + 60 ))
    while [ "$(count_lines "$1")" -lt "$2" ]; do
      [ "$(date +%s)" -le "$deadline" ] || fail "the window never recorded \"$1\" $2 time(s): $(tail -n 5 "$trace")"
      sleep 0.1
    done
  }

  wait_lines "probe|1" 1  # started with no board
  [ "$(grep -c '^probe|' "$trace")" -eq 1 ] || fail "the first probe found a board: $(grep '^probe|' "$trace")"
  start_board appear --uhid blank
  wait_lines "probe|0" 1
  stop_board appear
  wait_lines "probe|1" 2

  present=$(count_lines "probe|0")
  start_board job --gadget blank
  wait_lines "probe|0" $((present + 1))
  main=$(timeout 30 xdotool search --sync --name "$title_re" | head -n 1)
  [ -n "$main" ] || fail "no main window"
  probes_before=$(grep -c '^probe|' "$trace")
  # Write EEPROM, at the centre of its control (dialog units to pixels as the window lays them out).
  xdotool mousemove --window "$main" $(( (238 * 2 + 75) * 3 / 4 )) $(( (35 * 2 + 14) * 13 / 16 )) click 1
  wait_lines "progress|1003|10" 1
  start_board during --uhid blank
  deadline=$(( $(date +%s) + 30 ))
  until [ "$(grep -lx "HID_ID=0003:00003B7D:0000$BLANK_PID" /sys/class/hidraw/hidraw*/device/uevent 2>/dev/null | wc -l)" -ge 2 ]; do
    [ "$(date +%s)" -le "$deadline" ] || fail "the second board never came up"
    sleep 0.1
  done
  udevadm settle -t 5 || true
  grep -q "^box|Write to EEPROM OK!" "$trace" && fail "the job was over before the second board arrived"
  wait_lines "box|Write to EEPROM OK!|KT701xWriteEepromMP|none" 1
  [ "$(grep -c '^probe|' "$trace")" -eq "$probes_before" ] || fail "a probe ran while the job held the link"
  result=$(timeout 30 xdotool search --sync --name '^KT701xWriteEepromMP$' | head -n 1)
  xdotool mousemove --window "$result" 20 20 key Return
  wait_lines "probe|0" $((present + 2))  # the probe that waited for the job
  stop_board job
  stop_board during
  expect_programmed job
}

# Without the udev rule an ordinary user is refused and told about the rule; with the shipped rule
# installed, a member of its group writes a board, every product ID the tool opens is given to the group,
# and a device of the same vendor under another product ID is not.
scenario_permissions() {
  as_user() { setpriv --reuid=nobody --regid=nogroup "$@"; }
  start_board norule --gadget blank
  wait_node 3B7D "$BLANK_PID" || fail "no node for the board"
  as_user --clear-groups "$CLI" list >"$SCENARIO_DIR/norule.out" 2>"$SCENARIO_DIR/norule.err" || true
  grep -q "cannot be opened" "$SCENARIO_DIR/norule.out" || fail "the node opened without the rule"
  grep -q "70-kt7310.rules" "$SCENARIO_DIR/norule.err" || fail "the refusal does not name the udev rule"
  stop_board norule

  mkdir -p /run/udev/rules.d
  cp "$KT_ROOT/packaging/linux/70-kt7310.rules" /run/udev/rules.d/
  trap 'rm -f /run/udev/rules.d/70-kt7310.rules; udevadm control --reload-rules; stop_all_boards' EXIT
  udevadm control --reload-rules
  eeprom_with_product other 1234
  start_board other --gadget
  start_board rule --gadget blank
  wait_node 3B7D 1234 || fail "no node for the board of another product"
  wait_node 3B7D "$BLANK_PID" || fail "no node for the board"
  node=$(node_of 3B7D 1234)
  [ "$(stat -c '%U:%G %a' "$node")" = "root:root 600" ] ||
    fail "the rule gave 3B7D:1234's $node $(stat -c '%U:%G %a' "$node")"
  node=$(node_of 3B7D "$BLANK_PID")
  [ "$(stat -c '%U:%G %a' "$node")" = "root:plugdev 660" ] || fail "the rule gave $node $(stat -c '%U:%G %a' "$node")"
  stop_board other
  status=0
  as_user --groups=plugdev "$CLI" write </dev/null >"$SCENARIO_DIR/rule.out" 2>"$SCENARIO_DIR/rule.err" || status=$?
  expect_status rule 0
  expect_last_line rule "Write to EEPROM OK!"
  stop_board rule
  expect_programmed rule

  for pid in 7310 7300 72F8 0001 0002; do
    eeprom_with_product "pid$pid" "$pid"
    start_board "pid$pid" --gadget
    wait_node 3B7D "$pid" || fail "no node for the board of product $pid"
    node=$(node_of 3B7D "$pid")
    [ "$(stat -c '%U:%G %a' "$node")" = "root:plugdev 660" ] ||
      fail "the rule gave 3B7D:$pid's $node $(stat -c '%U:%G %a' "$node")"
    stop_board "pid$pid"
  done
}

# Three boards on three buses: the listing shows each at a path of its own.
scenario_ports() {
  for n in 1 2 3; do start_board "port$n" --gadget blank; done
  i=0
  while [ "$(grep -l "^HID_ID=0003:00003B7D:0000$BLANK_PID\$" /sys/class/hidraw/hidraw*/device/uevent 2>/dev/null | wc -l)" -lt 3 ]; do
    [ "$i" -lt 300 ] || fail "fewer than three board nodes appeared"
    sleep 0.05
    i=$((i + 1))
  done
  udevadm settle -t 5 || true
  run_tool ports list
  expect_status ports 0
  [ "$(grep -c "product 0x$BLANK_PID input 33 output 17" "$SCENARIO_DIR/ports.out")" -eq 3 ] ||
    fail "the listing does not show three boards: $(cat "$SCENARIO_DIR/ports.out")"
  [ "$(grep "product 0x$BLANK_PID" "$SCENARIO_DIR/ports.out" | cut -f 1 | sort -u | wc -l)" -eq 3 ] ||
    fail "the three boards do not have three paths"
  # Each on a USB port of its own.
  ports=$(for node in $(grep "product 0x$BLANK_PID" "$SCENARIO_DIR/ports.out" | cut -f 1); do
    readlink -f "/sys/class/hidraw/${node#/dev/}/device" | sed -n 's|.*/usb[0-9]*/\([0-9-]*\)/.*|\1|p'
  done | sort -u | wc -l)
  [ "$ports" -eq 3 ] || fail "the three boards are not on three USB ports"
  # list names each interface's port: the USB port path of its node's USB device.
  for node in $(grep "product 0x$BLANK_PID" "$SCENARIO_DIR/ports.out" | cut -f 1); do
    usb_port=$(readlink -f "/sys/class/hidraw/${node#/dev/}/device" | sed -n 's|.*/usb[0-9]*/\([0-9-][0-9.-]*\)/.*|\1|p')
    grep -q "^$node	port $usb_port	" "$SCENARIO_DIR/ports.out" ||
      fail "list does not name $node's port $usb_port: $(grep "^$node" "$SCENARIO_DIR/ports.out")"
  done

  # --device: the job takes exactly the interface named, never another board at the same IDs.
  chosen=$(grep "product 0x$BLANK_PID" "$SCENARIO_DIR/ports.out" | sed -n 2p | cut -f 1)
  other=$(grep "product 0x$BLANK_PID" "$SCENARIO_DIR/ports.out" | sed -n 3p | cut -f 1)
  run_tool device-absent write --device /dev/hidraw-none
  expect_status device-absent 22
  expect_last_line device-absent "USB deivce is NOT found!!(-2)"
  run_tool device-write write --device "$chosen"
  expect_status device-write 0
  expect_last_line device-write "Write to EEPROM OK!"
  grep -q "opened 3B7D:$BLANK_PID at $chosen (--device)" "$SCENARIO_DIR/device-write.err" ||
    fail "device-write does not say it opened $chosen: $(cat "$SCENARIO_DIR/device-write.err")"
  run_tool device-verify verify --device "$chosen"
  expect_status device-verify 0
  run_tool device-read read --device "$chosen" --output "$SCENARIO_DIR/device-read.bin"
  expect_status device-read 0
  cmp -s -n 16400 "$SCENARIO_DIR/device-read.bin" "$IMAGE" || fail "read --device does not give the image"
  run_tool device-other verify --device "$other"
  expect_status device-other 12
  for n in 1 2 3; do stop_board "port$n"; done
  programmed=0
  for n in 1 2 3; do
    cmp -s -n 16400 "$SCENARIO_DIR/port$n.eeprom" "$IMAGE" && programmed=$((programmed + 1))
  done
  [ "$programmed" -eq 1 ] || fail "$programmed boards were programmed, expected exactly the one at $chosen"

  # --device PORT on a programmed board: the erase path's re-plug takes the board off the bus and brings it
  # back blank under another product ID (the kernel may give it the same hidraw number again); the job
  # follows it at the port.
  start_board port-programmed --gadget
  wait_node 3B7D 7310 || fail "no node for the programmed board"
  old_node=$(node_of 3B7D 7310)
  run_tool port-list list
  port=$(grep "^$old_node	" "$SCENARIO_DIR/port-list.out" | cut -f 2 | sed 's/^port //')
  [ -n "$port" ] || fail "list gives no port for $old_node: $(cat "$SCENARIO_DIR/port-list.out")"
  run_tool device-port write --yes --device "$port"
  expect_status device-port 0
  grep -q "^Please re-plugin USB device" "$SCENARIO_DIR/device-port.out" ||
    fail "write --device PORT took no erase path: $(cat "$SCENARIO_DIR/device-port.out")"
  expect_last_line device-port "Write to EEPROM OK!"
  grep -q "opened 3B7D:72F[78] at /dev/hidraw" "$SCENARIO_DIR/device-port.err" ||
    fail "the job did not open the board that came back blank: $(cat "$SCENARIO_DIR/device-port.err")"
  stop_board port-programmed
  cmp -s -n 16400 "$SCENARIO_DIR/port-programmed.eeprom" "$IMAGE" || fail "write --device PORT left no image"

  # write --wait with no board yet: the board plugged in a moment later is written.
  "$CLI" write --wait 60 </dev/null >"$SCENARIO_DIR/wait.out" 2>"$SCENARIO_DIR/wait.err" &
  wait_pid=$!
  # Plugged in once the tool has looked and found nothing.
  i=0
  until grep -q "waiting at most 60 s" "$SCENARIO_DIR/wait.err"; do
    [ "$i" -lt 600 ] || fail "write --wait never said it waits: $(cat "$SCENARIO_DIR/wait.err")"
    sleep 0.05
    i=$((i + 1))
  done
  start_board late --gadget blank
  status=0
  wait "$wait_pid" || status=$?
  expect_status wait 0
  expect_last_line wait "Write to EEPROM OK!"
  stop_board late
  cmp -s -n 16400 "$SCENARIO_DIR/late.eeprom" "$IMAGE" || fail "write --wait did not program the late board"
}

# The station on three gadget boards on three USB ports, one of them programmed: every board its own job,
# named by its USB port from sysfs; the programmed one takes the erase path and is waited for at its own
# port while the other two are written.
scenario_station() {
  start_board st1 --gadget blank
  start_board st2 --gadget ""
  start_board st3 --gadget blank
  i=0
  until [ "$(grep -l "^HID_ID=0003:00003B7D:0000\($BLANK_PID\|$PROGRAMMED_PID\)\$" /sys/class/hidraw/hidraw*/device/uevent 2>/dev/null | wc -l)" -ge 3 ]; do
    [ "$i" -lt 300 ] || fail "fewer than three board nodes appeared"
    sleep 0.05
    i=$((i + 1))
  done
  udevadm settle -t 5 || true
  status=0
  "$CLI" station --record "$SCENARIO_DIR/station.jsonl" </dev/null >"$SCENARIO_DIR/station.out" \
    2>"$SCENARIO_DIR/station.err" || status=$?
  expect_status station 0
  [ "$(grep -c '^\[[0-9][0-9.-]*\] Write to EEPROM OK!$' "$SCENARIO_DIR/station.out")" -eq 3 ] ||
    fail "not three boards written at three USB ports: $(cat "$SCENARIO_DIR/station.out")"
  grep -q '^\[[0-9.-]*\] Please re-plugin USB device' "$SCENARIO_DIR/station.out" || fail "no re-plug message for the programmed board"
  grep -qx 'Succeeded: 3  Failed: 0' "$SCENARIO_DIR/station.out" || fail "no summary"
  [ "$(grep -c '"result":0' "$SCENARIO_DIR/station.jsonl")" -eq 3 ] || fail "the record does not hold three results"
  echo "figure: station of three gadget boards, one erased first: $(grep -o '"ms":[0-9]*' "$SCENARIO_DIR/station.jsonl" | cut -d: -f2 | sort -n | tail -n 1) ms for the slowest"
  for n in 1 2 3; do stop_board "st$n"; done
  for n in 1 2 3; do expect_programmed "st$n"; done
}

# The station window on three gadget boards, one programmed, watched to the end as an operator would: a
# tile per USB port, the programmed board erased and followed back to its port, the counts; a board
# re-plugged by hand is written again; SIGTERM closes the window as Exit does, every result recorded.
scenario_station_window() {
  trace=$SCENARIO_DIR/window.trace
  record=$SCENARIO_DIR/station.jsonl
  start_board sw1 --gadget blank
  start_board sw2 --gadget ""
  start_board sw3 --gadget blank
  start_xvfb
  KT_WINDOW_TRACE=$trace "$WINDOW" --station --record "$record" 2>"$SCENARIO_DIR/window.err" &
  window=$!
  trap 'kill $window $xvfb_pid 2>/dev/null; stop_all_boards' EXIT
  wait_trace() {  # LINE-REGEX [SECONDS]
    local deadline=$(( $(date +%s) + ${2:-180} ))
    until grep -q -- "$1" "$trace" 2>/dev/null; do
      kill -0 "$window" 2>/dev/null || fail "the station window ended: $(tail -n 5 "$SCENARIO_DIR/window.err")"
      [ "$(date +%s)" -le "$deadline" ] || fail "the window never showed \"$1\": $(tail -n 5 "$trace")"
      sleep 0.2
    done
  }
  wait_trace '^counts|Succeeded: 3  Failed: 0$'
  ports=$(grep '^tile|[0-9]|[^|]*|ok|Write to EEPROM OK!$' "$trace" | cut -d'|' -f3 | sort -u)
  [ "$(echo "$ports" | wc -l)" -eq 3 ] || fail "not three tiles OK at three ports: $ports"
  echo "$ports" | grep -qv '^[0-9][0-9.-]*$' && fail "a tile is not at a USB port: $ports"
  grep -q '^tile|[0-9]|[^|]*|replug|erased: waiting for the re-plug$' "$trace" ||
    fail "the programmed board's tile never waited for its re-plug"
  [ "$(grep -c '"result":0' "$record")" -eq 3 ] || fail "the record does not hold three results"
  import -window root "$SCENARIO_DIR/station-window.png" 2>/dev/null || true

  eval "kill -USR1 \$board_pid_sw1"
  wait_trace '^counts|Succeeded: 4  Failed: 0$' 120
  kill -TERM "$window"
  status=0
  wait "$window" || status=$?
  [ "$status" -eq 0 ] || fail "SIGTERM ended the station window with $status"
  grep -q '^closed|Succeeded: 4  Failed: 0|0$' "$trace" || fail "the window did not close as Exit closes it"
  [ "$(grep -c '"result":0' "$record")" -eq 4 ] || fail "the record does not hold four results"
  echo "figure: station window, three gadget boards, one erased first: $(grep -o '"ms":[0-9]*' "$record" | cut -d: -f2 | sort -n | tail -n 1) ms for the slowest"
  for n in 1 2 3; do stop_board "sw$n"; done
  for n in 1 2 3; do expect_programmed "sw$n"; done
}
