#!/bin/bash
# How long Exit takes to end the command line, from Ctrl-C (SIGINT) to the process's end, with the job in
# the middle of the body on a board that takes every report, one that stopped taking them (hang@N: the
# write stays until cancelled) and one whose write never comes back (wedge@N). Prints
# `<fault> <ms> <status>` per case; bash's own clock ($EPOCHREALTIME), real time.
# Usage: exit.sh PATH-TO-kt7310-eeprom
set -u
export LC_ALL=C # $EPOCHREALTIME takes the locale's decimal point
cli="${1:?usage: exit.sh PATH-TO-kt7310-eeprom}"
err=$(mktemp)
trap 'rm -f "$err"' EXIT

for fault in none hang wedge; do
  options=blank
  [ "$fault" != none ] && options="blank,$fault@450"
  # Emptied here, not by the job's own redirection (made in the child): the wait below must not see the
  # previous run's line.
  : >"$err"
  "$cli" write -v --simulate="$options" </dev/null >/dev/null 2>"$err" &
  job=$!
  # Request 450 is about block 425 of the body, 1.3 s after the body's start at 3 ms a block; Ctrl-C
  # comes 2 s after it, when the write is held.
  for _ in $(seq 1 100); do grep -q 'write the body' "$err" && break; sleep 0.1; done
  sleep 2
  start=$EPOCHREALTIME
  kill -INT "$job"
  status=0
  wait "$job" || status=$?
  end=$EPOCHREALTIME
  echo "$fault $(((${end/./} - ${start/./}) / 1000)) $status"
done
