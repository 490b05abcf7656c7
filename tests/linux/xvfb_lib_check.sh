#!/bin/sh
# The private X server of the window checks (tests/xvfb_lib.sh) takes a program that connects just as
# the last one goes: the server is held (SIGSTOP) while its only client ends and the next one connects,
# so that it sees both at once when it goes on. A server that resets once its last client has gone
# drops the new connection, which then fails with "Can't open display".
set -eu

for tool in Xvfb xdotool ss stdbuf; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
holder=
next=
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill -CONT "$xvfb_pid" 2>/dev/null
  for pid in $holder $next $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

# shellcheck source=../xvfb_lib.sh
. "$(dirname "$0")/../xvfb_lib.sh"
xvfb_start "$work/xvfb.log" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"

# The only client: it prints once it is connected, then keeps its connection.
mkfifo "$work/holder"
stdbuf -oL xdotool getmouselocation sleep 600 >"$work/holder" &
holder=$!
read -r _ <"$work/holder" || fail "the first client did not connect"

kill -STOP "$xvfb_pid"
kill "$holder"
wait "$holder" 2>/dev/null || true
holder=
xdotool getmouselocation >"$work/next.out" 2>&1 &
next=$!
# Until the new connection waits in the server's queue (the listening socket's Recv-Q).
tenths=0
until ss -xlnH | awk -v s="@/tmp/.X11-unix/X${DISPLAY#:}" '$5 == s && $3 > 0 { found = 1 } END { exit !found }'; do
  [ "$tenths" -lt 300 ] || fail "the second client never reached the server's queue"
  sleep 0.1
  tenths=$((tenths + 1))
done
kill -CONT "$xvfb_pid"

status=0
wait "$next" || status=$?
next=
[ "$status" -eq 0 ] || fail "the program that connected as the last one went was refused: $(cat "$work/next.out")"
echo "PASS"
