#!/bin/sh
# The command line with every file it opens by the operator's path in a folder named outside ASCII (and
# outside any one ANSI code page): the image, the record, the read's output, the trace and the simulated
# board's EEPROM. Each command must succeed and its file must be there under exactly that name.
#
# Usage: wide_paths.sh WINE_RUNNER PROGRAM_EXE IMAGE_BIN
set -u
WINE_RUN=$1
PROGRAM=$2
IMAGE=$3

top=$(mktemp -d) || exit 1
trap 'rm -rf "$top"' EXIT
dir="$top/Prüfstand-äöü-日本"
mkdir "$dir"
cp "$IMAGE" "$dir/image-äöü.bin"
# Wine hands the program its arguments as UTF-16 from this locale's UTF-8; drive Z: is the Unix root.
LC_ALL=C.UTF-8
export LC_ALL
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDLLOVERRIDES
at="Z:$dir"
sim="--simulate=virtual-time,eeprom=$at/board-日本.eeprom"

failures=0
fail() {
  printf 'FAIL: %s\n' "$*"
  failures=$((failures + 1))
}

# run FILE BYTES ARGS...: the command line with ARGS, run in the folder, must end with status 0 and leave
# FILE there (of BYTES bytes when given); "-" for a command that leaves no file.
run() {
  expect_file=$1
  expect_size=$2
  shift 2
  (cd "$dir" && timeout 120 "$WINE_RUN" "$PROGRAM" "$@") >"$top/out.txt" 2>&1
  status=$?
  if [ "$status" != 0 ]; then
    fail "kt7310-eeprom $*: exit status $status"
    cat "$top/out.txt"
  elif [ "$expect_file" = - ]; then
    printf 'ok: %s\n' "$*"
  elif [ ! -f "$dir/$expect_file" ]; then
    fail "kt7310-eeprom $*: no $expect_file in $dir: $(ls "$dir" | tr '\n' ' ')"
  elif [ -n "$expect_size" ] && [ "$(wc -c <"$dir/$expect_file")" != "$expect_size" ]; then
    fail "kt7310-eeprom $*: $expect_file is $(wc -c <"$dir/$expect_file") bytes, not $expect_size"
  else
    printf 'ok: %s\n' "$*"
  fi
}

run board-日本.eeprom "" erase "$sim" --yes
# A blank board answers only if the erased EEPROM was read back from its file.
run - "" probe "$sim"
run board-日本.eeprom "" write "$sim" --yes --trace "$at/trace-äöü.txt"
[ -s "$dir/trace-äöü.txt" ] || fail "the trace was not written to trace-äöü.txt"
run read-日本.bin 16400 read "$sim" --output "$at/read-日本.bin"
# The same file again, by a name relative to the current folder: replaced this time.
run read-日本.bin 16400 read "$sim" --output read-日本.bin
run - "" verify "$sim" --image "$at/image-äöü.bin"
run record-Prüf.jsonl "" station --simulate=boards=2,blank,virtual-time --record "$at/record-Prüf.jsonl"
[ "$(wc -l <"$dir/record-Prüf.jsonl" 2>/dev/null)" = 2 ] || fail "record-Prüf.jsonl does not hold two records"

[ "$failures" = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "every file was opened by its wide name"
