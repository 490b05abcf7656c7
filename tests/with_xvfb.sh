#!/bin/sh
# Runs COMMAND on a private X server (xvfb_lib.sh) and exits with its status; the server goes with it.
# Usage: with_xvfb.sh COMMAND [ARGS...]
log=$(mktemp)
# shellcheck source=xvfb_lib.sh
. "$(dirname "$0")/xvfb_lib.sh"
if ! xvfb_start "$log"; then
  echo "Xvfb did not start: $(cat "$log")"
  rm -f "$log"
  exit 1
fi
status=0
"$@" || status=$?
kill "$xvfb_pid" 2>/dev/null
wait "$xvfb_pid" 2>/dev/null
rm -f "$log"
exit "$status"
