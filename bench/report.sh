#!/bin/sh
# The benchmark report: each figure beside the floor or reference it is judged against, both measured on
# the same clock in the same run. Prints `name value unit` lines, then a short summary.
# Needs GNU time (/usr/bin/time), bash, setsid, Xvfb, xdotool and xmessage. Usage: report.sh BUILD_DIR
set -u
dir="${1:?usage: report.sh BUILD_DIR}"
here=$(dirname "$0")
jobBench="$dir/bench/job_bench"
stationBench="$dir/bench/station_window_bench"
cli="$dir/src/app/cli/kt7310-eeprom"
gui="$dir/src/app/fltk/KT701xWriteEepromMP"
gnuTime=/usr/bin/time
idleSeconds=10
startupRuns=20
windowRuns=5
cliRuns=5
wholeRuns=5

for f in "$jobBench" "$stationBench" "$cli" "$gui" "$gnuTime"; do
  [ -x "$f" ] || { echo "report.sh: $f is missing or not executable" >&2; exit 1; }
done
for f in bash setsid Xvfb xdotool xmessage; do
  command -v "$f" >/dev/null || { echo "report.sh: $f is not installed" >&2; exit 1; }
done

work=$(mktemp -d)
child=""
cleanup() {
  # Each step has a process group of its own: this ends the step and whatever it started.
  if [ -n "$child" ]; then
    kill -TERM "-$child" 2>/dev/null || kill -TERM "$child" 2>/dev/null
    wait "$child" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

status=0
failed() {
  echo "FAILED: $*"
  status=1
}

# Every step runs in the background in a session of its own and is waited for, so that a signal reaches the
# trap at once and the trap can end the step's whole process group. A background child of a shell without
# job control leads no group, so setsid does not fork and $! is the group's ID.
run() {
  setsid "$@" </dev/null &
  child=$!
  wait "$child"
  rc=$?
  child=""
  return "$rc"
}

figure() {
  echo "$1 $2 $3"
  echo "$1 $2" >>"$work/figures"
}

value() { awk -v n="$1" '$1 == n { print $2; exit }' "$work/figures"; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f\n", a / b; else print "nan" }'; }

# One run under GNU time: elapsed ms, user+sys ms and peak resident set in kB into $work/result, or an empty
# file when the command fails.
gnu_time() {
  : >"$work/result"
  if run "$gnuTime" -f '%e %U %S %M' -o "$work/time" "$@" >"$work/out" 2>&1; then
    awk '{ printf "%.0f %.0f %d\n", $1 * 1000, ($2 + $3) * 1000, $4 }' "$work/time" >"$work/result"
  else
    tail -n 5 "$work/out" | sed 's/^/  /' >&2
  fi
}

echo "== whole job against the simulated board, real clock (job_bench $idleSeconds)"
if run "$jobBench" "$idleSeconds" >"$work/job"; then :; else failed "job_bench"; fi
awk '/FAILED/ { print; next }
  { unit = $1 ~ /_ratio$/ ? "x" : $1 ~ /_ms$/ ? "ms" : $1 ~ /_seconds$/ ? "s" : "" ; print $1, $2, unit }' \
  "$work/job" | while read -r name v unit; do
  case "$name" in *FAILED*) echo "$name $v $unit" ;; *) figure "$name" "$v" "$unit" ;; esac
done

echo "== command line: CPU and peak memory per job (GNU time)"
: >"$work/cpu"
rss=0
i=0
while [ "$i" -lt "$cliRuns" ]; do
  gnu_time "$cli" write --simulate=virtual-time --yes
  set -- $(cat "$work/result")
  if [ $# -ne 3 ]; then failed "kt7310-eeprom write --simulate=virtual-time --yes"; break; fi
  echo "$2" >>"$work/cpu"
  [ "$3" -gt "$rss" ] && rss=$3
  i=$((i + 1))
done
if [ "$i" = "$cliRuns" ]; then
  figure cli_job_virtual_time_cpu_ms "$(sh "$here/median.sh" <"$work/cpu")" ms
  figure cli_job_virtual_time_runs "$cliRuns" runs
  figure cli_job_virtual_time_max_rss_kb "$rss" kB
fi
gnu_time "$cli" --version
set -- $(cat "$work/result")
if [ $# -eq 3 ]; then figure cli_version_max_rss_kb "$3" kB; else failed "kt7310-eeprom --version"; fi
gnu_time "$cli" write --simulate --yes
set -- $(cat "$work/result")
if [ $# -eq 3 ]; then
  figure cli_job_real_time_ms "$1" ms
  figure cli_job_real_time_cpu_ms "$2" ms
  figure cli_job_real_time_max_rss_kb "$3" kB
else
  failed "kt7310-eeprom write --simulate --yes"
fi

echo "== the whole process on a blank board, real clock: median of $wholeRuns runs against the code's pauses"
# The wall time of the whole command, start-up and exit included, against the pauses the code makes in it
# (job_bench prints their sum from the same constants). A blank board answers at its own IDs, so the job
# goes straight to the write-protect release: no erase, no re-plug. A run that shows the re-plug message,
# opens another board or ends faster than its pauses (virtual time) would not be this figure: it fails.
floorMs=$(value cli_blank_floor_ms)
: >"$work/whole"
i=0
while [ -n "$floorMs" ] && [ "$i" -lt "$wholeRuns" ]; do
  start=$(date +%s%N)
  run "$cli" write --simulate=blank --yes >"$work/out" 2>&1
  rc=$?
  end=$(date +%s%N)
  ms=$(((end - start) / 1000000))
  if [ "$rc" != 0 ] || ! grep -q "opened 3B7D:72F7" "$work/out" || grep -q "re-plugin" "$work/out" ||
    [ "$ms" -lt "${floorMs%.*}" ]; then
    tail -n 5 "$work/out" | sed 's/^/  /' >&2
    break
  fi
  echo "$ms" >>"$work/whole"
  i=$((i + 1))
done
if [ "$i" = "$wholeRuns" ]; then
  whole=$(sh "$here/median.sh" <"$work/whole")
  figure cli_blank_job_ms "$whole" ms
  figure cli_blank_job_ratio "$(ratio "$whole" "$floorMs")" x
  figure cli_blank_job_runs "$wholeRuns" runs
  figure cli_blank_job_load "$(cut -d' ' -f1 /proc/loadavg)" load
else
  failed "kt7310-eeprom write --simulate=blank --yes, whole process against cli_blank_floor_ms"
fi

echo "== station: N simulated blank boards at once against one board alone, real clock"
for latency in 0 1; do
  gnu_time "$cli" write --simulate=blank,latency=$latency --yes
  set -- $(cat "$work/result")
  if [ $# -ne 3 ]; then failed "one board, latency=$latency"; continue; fi
  single=$1
  figure "station_single_latency${latency}_ms" "$single" ms
  figure "station_single_latency${latency}_cpu_ms" "$2" ms
  for boards in 1 4 8 16; do
    gnu_time "$cli" station --simulate=boards=$boards,blank,latency=$latency
    set -- $(cat "$work/result")
    if [ $# -ne 3 ]; then failed "station of $boards, latency=$latency"; continue; fi
    name="station_${boards}_latency${latency}"
    figure "${name}_ms" "$1" ms
    figure "${name}_ratio" "$(ratio "$1" "$single")" x
    figure "${name}_cpu_per_board_ms" $(($2 / boards)) ms
    figure "${name}_max_rss_per_board_kb" $(($3 / boards)) kB
  done
done

echo "== station of 16 with --record: every result appended whole and synced, against the same without"
gnu_time "$cli" station --simulate=boards=16,blank --record "$work/record.jsonl"
set -- $(cat "$work/result")
if [ $# -eq 3 ] && [ "$(wc -l <"$work/record.jsonl")" -eq 16 ]; then
  figure station_16_record_ms "$1" ms
  figure station_16_record_ratio "$(ratio "$1" "$(value station_16_latency0_ms)")" x
else
  failed "station of 16 with --record"
fi

echo "== start-up of the command line, median of $startupRuns runs against /bin/true run the same way"
if run bash "$here/startup.sh" "$startupRuns" "$cli" --version >"$work/version" &&
  run bash "$here/startup.sh" "$startupRuns" /bin/true >"$work/true"; then
  version=$(cat "$work/version")
  floor=$(cat "$work/true")
  figure cli_version_start_ms "$version" ms
  figure true_start_ms "$floor" ms
  figure cli_version_start_ratio "$(ratio "$version" "$floor")" x
  figure cli_start_runs "$startupRuns" runs
else
  failed "start-up of kt7310-eeprom --version"
fi

echo "== Exit: Ctrl-C to the end of the command line, mid-body, against the bounds (6,000 ms, then 6,000 ms)"
if run bash "$here/exit.sh" "$cli" >"$work/exit"; then
  while read -r fault ms exitStatus; do
    figure "exit_${fault}_ms" "$ms" ms
    figure "exit_${fault}_status" "$exitStatus" status
  done <"$work/exit"
else
  failed "Exit timings"
fi

echo "== the window under Xvfb: start-up to mapped and viewable, then $idleSeconds s idle"
if run bash "$here/window.sh" "$gui" "$windowRuns" "$idleSeconds" >"$work/window"; then :; else
  failed "KT701xWriteEepromMP under Xvfb"
fi
while read -r name v unit; do figure "$name" "$v" "$unit"; done <"$work/window"

echo "== the station window: a board plugged in to its tile at work (16 boards), tiles shown, idle with 16"
if run "$stationBench" 20 >"$work/plug"; then :; else failed "station_window_bench"; fi
awk '/FAILED/ { print; next } { print $1, $2, $1 ~ /_ms$/ ? "ms" : "runs" }' "$work/plug" |
  while read -r name v unit; do figure "$name" "$v" "$unit"; done
if run bash "$here/station_window.sh" "$gui" "$idleSeconds" >"$work/station_window"; then :; else
  failed "the station window under Xvfb"
fi
while read -r name v unit; do figure "$name" "$v" "$unit"; done <"$work/station_window"

echo "== summary"
f() { v=$(value "$1"); echo "${v:-?}"; }
cat <<SUMMARY
Whole job, zero latency: $(f job_latency0_ms) ms, $(f job_latency0_ratio) x its floor
  ($(f job_latency0_floor_ms) ms of pauses slept on the same clock).
Whole job, latency=1: $(f job_latency1_ms) ms, $(f job_latency1_ratio) x its floor ($(f job_latency1_floor_ms) ms).
Whole process, kt7310-eeprom write --simulate=blank --yes: $(f cli_blank_job_ms) ms, $(f cli_blank_job_ratio) x the
  $(f cli_blank_floor_ms) ms of pauses in its code (median of $(f cli_blank_job_runs), load average $(f cli_blank_job_load)).
CPU per job: $(f job_latency0_cpu_ms) ms in job_bench (zero latency); command line $(f cli_job_virtual_time_cpu_ms) ms
  in virtual time, $(f cli_job_real_time_cpu_ms) ms in real time ($(f cli_job_real_time_ms) ms, erase and re-plug included).
Station of 16 boards: $(f station_16_latency0_ratio) x one board alone at zero latency, $(f station_16_latency1_ratio) x at
  latency=1; CPU per board $(f station_16_latency0_cpu_per_board_ms) ms (one board alone: $(f station_single_latency0_cpu_ms) ms).
Station of 16 with --record: $(f station_16_record_ms) ms, $(f station_16_record_ratio) x the same station without it.
Exit, Ctrl-C to the end: $(f exit_none_ms) ms on a board that answers (status $(f exit_none_status)); $(f exit_hang_ms) ms with
  the write held until cancelled (status $(f exit_hang_status)); $(f exit_wedge_ms) ms with a write that never comes back
  (status $(f exit_wedge_status)).
CPU idle over $idleSeconds s: worker alone $(f idle_cpu_ms) ms; window program $(f window_idle_cpu_ms) ms (10 ms ticks).
Peak memory: $(f cli_job_virtual_time_max_rss_kb) kB per virtual-time job, $(f cli_job_real_time_max_rss_kb) kB in real time,
  $(f cli_version_max_rss_kb) kB for --version; window $(f window_max_rss_kb) kB.
Start-up: --version $(f cli_version_start_ms) ms, $(f cli_version_start_ratio) x /bin/true ($(f true_start_ms) ms), medians of $startupRuns;
  window to viewable $(f window_start_ms) ms, $(f window_start_ratio) x xmessage ($(f xmessage_start_ms) ms), medians of $windowRuns.
Station window: a board plugged in to its tile at work $(f station_plug_to_tile_ms) ms (median, max $(f station_plug_to_tile_max_ms) ms,
  16 boards); $(f station_window_tiles_shown) tiles for 64 boards; idle with 16 tiles $(f station_window_16_idle_cpu_ms_per_10s) ms CPU per 10 s,
  peak $(f station_window_16_max_rss_kb) kB.
SUMMARY
[ "$status" = 0 ] || echo "Some figures are missing: see FAILED above."
exit "$status"
