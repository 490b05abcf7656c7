#!/bin/sh
# Runs every libFuzzer target of a build for KT_FUZZ_SECONDS each (default 60), starting from the
# committed seeds. New inputs go to a scratch corpus so the committed one stays small.
# Usage: run.sh BUILD_DIR
set -eu
build=$1
seconds=${KT_FUZZ_SECONDS:-60}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for target in "$build"/fuzz/*_fuzzer; do
  [ -x "$target" ] || continue
  name=$(basename "$target" _fuzzer)
  work="$here/corpus-work/$name"
  mkdir -p "$work"
  seeds="$here/corpus/$name"
  [ -d "$seeds" ] || seeds=""
  echo "== $name: ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" \
      "$work" $seeds; then
    echo "== $name: FAILED (artifacts in $work)" >&2
    status=1
  fi
done
exit $status
