#!/bin/sh
# Runs every benchmark program built in BUILD_DIR/bench, one after the other, and says which failed.
# Usage: run.sh BUILD_DIR
set -u
dir="${1:?usage: run.sh BUILD_DIR}"
status=0
found=0
for bench in "$dir"/bench/*_bench "$dir"/bench/*_bench.exe; do
  [ -f "$bench" ] && [ -x "$bench" ] || continue
  found=1
  echo "== $(basename "$bench")"
  if ! "$bench"; then
    echo "FAILED: $(basename "$bench")"
    status=1
  fi
done
if [ "$found" = 0 ]; then
  echo "no benchmark programs in $dir/bench" >&2
  exit 1
fi
exit "$status"
