# Shared by the scenarios inside the guest: boards behind the kernel, the tool, and checks on what they
# wrote. Sourced; expects KT_ROOT (the source tree) and SCENARIO_DIR (this scenario's output folder).

KT_BUILD=${KT_BUILD:-$KT_ROOT/build/default}
CLI=$KT_BUILD/src/app/cli/kt7310-eeprom
BOARD=$KT_BUILD/src/hid/sim/linux/kt7310-board
WINDOW=$KT_BUILD/src/app/fltk/KT701xWriteEepromMP
IMAGE=$KT_ROOT/src/image/default_image.bin
# The product ID the default image gives a programmed board.
PROGRAMMED_PID=7310
BLANK_PID=72F7
board_pids=""

fail() {
  echo "FAIL: $*"
  exit 1
}

# The hidraw node (as /dev/hidrawN) of a HID device with these IDs (hex, upper case), if there is one.
node_of() {  # VID PID
  local uevent dir
  for uevent in /sys/class/hidraw/hidraw*/device/uevent; do
    [ -e "$uevent" ] || continue
    if grep -q "^HID_ID=0003:0000$1:0000$2\$" "$uevent"; then
      dir=${uevent%/device/uevent}
      echo "/dev/${dir##*/}"
      return 0
    fi
  done
  return 1
}

# Waits, at most $3 seconds (default 15), until a node with these IDs is there (or, with "gone", is not)
# and udev has finished with it.
wait_node() {  # VID PID [gone] [SECONDS]
  local want=present deadline node
  [ "${3:-}" = gone ] && want=gone
  deadline=$(( $(date +%s) + ${4:-15} ))
  while [ "$(date +%s)" -le "$deadline" ]; do
    if node=$(node_of "$1" "$2"); then
      [ "$want" = present ] && [ -c "$node" ] && { udevadm settle -t 5 2>/dev/null || true; return 0; }
    else
      [ "$want" = gone ] && return 0
    fi
    sleep 0.05
  done
  return 1
}

# Starts a board in the background: start_board NAME TRANSPORT OPTIONS. Its log and EEPROM file are
# $SCENARIO_DIR/NAME.log and NAME.eeprom; its process ID goes into board_pid_NAME.
start_board() {  # NAME --gadget|--uhid OPTIONS
  local name=$1 opts="eeprom=$SCENARIO_DIR/$1.eeprom"
  [ -n "${3:-}" ] && opts="$opts,$3"
  "$BOARD" "$2" --log "$SCENARIO_DIR/$name.log" "$opts" 2>>"$SCENARIO_DIR/$name.status" &
  eval "board_pid_$(pid_var "$name")=$!"
  board_pids="$board_pids $!"
}

pid_var() {
  echo "$1" | tr -c 'A-Za-z0-9_\n' '_'
}

# Ends a board with SIGTERM (it saves its EEPROM and takes itself off the bus) and waits for it.
stop_board() {  # NAME
  local var pid status
  var=board_pid_$(pid_var "$1")
  eval "pid=\${$var:-}"
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  status=0
  wait "$pid" || status=$?
  eval "$var="
  [ "$status" -eq 0 ] || fail "board $1 ended with status $status: $(tail -n 3 "$SCENARIO_DIR/$1.status")"
  # The host side goes a moment after the device side: wait until the board's node (its HID uniq is the
  # board's name, kt7310-board-PID) is gone, so that the next step never meets it.
  local deadline=$(( $(date +%s) + 15 ))
  while grep -qx "HID_UNIQ=kt7310-board-$pid" /sys/class/hidraw/hidraw*/device/uevent 2>/dev/null; do
    [ "$(date +%s)" -le "$deadline" ] || fail "board $1's node outlived the board"
    sleep 0.05
  done
  udevadm settle -t 5 2>/dev/null || true
}

stop_all_boards() {
  local pid
  for pid in $board_pids; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in $board_pids; do wait "$pid" 2>/dev/null || true; done
  board_pids=""
}
trap stop_all_boards EXIT

# A private X server for a window program (xvfb_lib.sh); DISPLAY names it, xvfb_pid is its process.
start_xvfb() {
  xvfb_start "$SCENARIO_DIR/xvfb.log" || fail "Xvfb did not start: $(cat "$SCENARIO_DIR/xvfb.log")"
}

# Runs the command line; its stdout, stderr and trace go to $SCENARIO_DIR/NAME.{out,err,trace}, its exit
# status into $status.
run_tool() {  # NAME ARGS...
  local name=$1
  shift
  status=0
  "$CLI" "$@" --trace "$SCENARIO_DIR/$name.trace" </dev/null >"$SCENARIO_DIR/$name.out" \
    2>"$SCENARIO_DIR/$name.err" || status=$?
}

# The elapsed milliseconds at the last line of a tool's trace: the run from its start to its end.
trace_ms() {  # NAME
  tail -n 1 "$SCENARIO_DIR/$1.trace" | awk '{ print int($1 == "#" ? $2 : $1) }'
}

expect_status() {  # NAME STATUS
  [ "$status" -eq "$2" ] || fail "$1 exited $status, expected $2: $(cat "$SCENARIO_DIR/$1.out")"
}

expect_last_line() {  # NAME TEXT
  local last
  last=$(tail -n 1 "$SCENARIO_DIR/$1.out")
  [ "$last" = "$2" ] || fail "$1 ended with \"$last\", expected \"$2\""
}

# Every output report the tool wrote arrived at the board, byte for byte and in order.
expect_same_requests() {  # TOOL-NAME BOARD-NAME
  awk -F'\t' '$2 == "OUT" { print $3 }' "$SCENARIO_DIR/$1.trace" >"$SCENARIO_DIR/$1.sent"
  awk -F'\t' '$2 == "OUT" { print $3 }' "$SCENARIO_DIR/$2.log" >"$SCENARIO_DIR/$2.received"
  [ -s "$SCENARIO_DIR/$1.sent" ] || fail "$1 sent no report"
  cmp -s "$SCENARIO_DIR/$1.sent" "$SCENARIO_DIR/$2.received" ||
    fail "the board received other reports than $1 sent: $(diff "$SCENARIO_DIR/$1.sent" "$SCENARIO_DIR/$2.received" | head -n 4)"
}

# Gives board NAME, before it starts, an EEPROM programmed with the image but enumerating under product
# PID (hex, four digits): the idProduct of the image's high-speed device descriptor, the ID the board
# shows, is patched (little-endian, ten bytes into the descriptor after its tag).
eeprom_with_product() {  # NAME PID
  local file=$SCENARIO_DIR/$1.eeprom tag
  tag=$(LC_ALL=C grep -obUaF KTHsDTag "$IMAGE" | head -n 1 | cut -d: -f1)
  [ -n "$tag" ] || fail "the image has no high-speed descriptor tag"
  head -c 32768 "$IMAGE" >"$file"
  # shellcheck disable=SC2059
  printf "\\$(printf %03o "0x${2#??}")\\$(printf %03o "0x${2%??}")" |
    dd of="$file" bs=1 seek=$((tag + 8 + 10)) conv=notrunc status=none
}

# The board's saved EEPROM holds the image's first 16,400 bytes.
expect_programmed() {  # BOARD-NAME
  cmp -s -n 16400 "$SCENARIO_DIR/$1.eeprom" "$IMAGE" ||
    fail "board $1's EEPROM differs from the image: $(cmp -n 16400 "$SCENARIO_DIR/$1.eeprom" "$IMAGE")"
}
