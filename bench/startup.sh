#!/bin/bash
# Median wall time of a command from its start to its exit, in ms, over RUNS runs after one warm-up run.
# Timed with bash's own clock ($EPOCHREALTIME) so that no timing process is counted in the figure.
# Usage: startup.sh RUNS COMMAND [ARG...]; exits non-zero as soon as a run fails.
set -u
export LC_ALL=C # $EPOCHREALTIME takes the locale's decimal point
runs="${1:?usage: startup.sh RUNS COMMAND [ARG...]}"
shift
"$@" >/dev/null 2>&1 || { echo "startup.sh: '$*' failed" >&2; exit 1; }
times=()
for ((i = 0; i < runs; i++)); do
  start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  status=$?
  end=$EPOCHREALTIME
  if [ "$status" != 0 ]; then
    echo "startup.sh: '$*' failed with status $status" >&2
    exit 1
  fi
  times+=($((${end/./} - ${start/./})))
done
printf '%s\n' "${times[@]}" | sh "$(dirname "$0")/median.sh" 1000
