#!/usr/bin/env bash
# Runs the fuzz targets with libFuzzer, each for SECONDS, one after the other:
#
#   scripts/fuzz.sh SECONDS [TARGET...]      (targets: the fuzz/*_fuzz.cpp names)
#
# Each starts from its seed corpus (fuzz/corpus/TARGET/, only read) and from what earlier
# runs on this machine found (build/fuzz/corpus/TARGET/, where new inputs go). FUZZ_JOBS=N
# runs N fuzzing processes per target (default 1). The first failure stops the run: the
# input that failed is kept in build/fuzz/artifacts/ and named in the output, with the
# command that replays it. The log of each run is in build/fuzz/logs/TARGET.log.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift
require_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
cd "$top"
build_preset fuzz

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

jobs=${FUZZ_JOBS:-1}
work=build/fuzz
mkdir -p "$work/artifacts" "$work/logs"
for target in "${targets[@]}"; do
  program=$work/fuzz/$target
  [ -x "$program" ] || { echo "no fuzz target $target" >&2; exit 2; }
  corpus=$work/corpus/$target
  mkdir -p "$corpus"
  log=$work/logs/$target.log
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
    -artifact_prefix="$work/artifacts/$target-")
  [ -f "fuzz/$target.dict" ] && options+=(-dict="fuzz/$target.dict")
  if [ "$jobs" -gt 1 ]; then
    options+=(-jobs="$jobs" -workers="$jobs")
  fi
  echo "--- $target: ${seconds}s, $jobs job(s)"
  if ! "$program" "${options[@]}" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "FAILED: $target found a failing input (log: $log)." >&2
    for artifact in "$work"/artifacts/"$target"-*; do
      [ -e "$artifact" ] && echo "  replay it with: $program $artifact" >&2
    done
    exit 1
  fi
  # With several jobs the workers log to fuzz-N.log in the current folder instead.
  shopt -s nullglob
  logs=("$log" fuzz-*.log)
  shopt -u nullglob
  fuzz_stat() { grep -a -h "^stat::$1:" "${logs[@]}" | awk '{print $2}' || true; }
  runs=$(fuzz_stat number_of_executed_units | awk '{n += $1} END {print n + 0}')
  rate=$(fuzz_stat average_exec_per_sec | awk '{n += $1} END {print n + 0}')
  rss=$(fuzz_stat peak_rss_mb | awk '$1 > m {m = $1} END {print m + 0}')
  found=$(find "$corpus" -type f | wc -l)
  seeds=$(find "fuzz/corpus/$target" -type f | wc -l)
  echo "    $runs runs, $rate runs/s, peak RSS ${rss} MiB; corpus: $seeds seeds + $found found"
  rm -f fuzz-*.log
done
echo "Fuzzing: ${#targets[@]} target(s), no failure."
