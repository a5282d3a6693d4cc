#!/usr/bin/env bash
# Runs the libFuzzer targets of an ORVIX_FUZZ build, each for FUZZ_SECONDS (default 60), one after
# the other, and prints the executions of each. Usage: scripts/fuzz.sh [target ...]
# (targets without the fuzz_ prefix; default all). The growing corpora and any crashing inputs
# stay in $FUZZ_BUILD/corpus and $FUZZ_BUILD/artifacts; seeds come from tests/fuzz/seeds (text) and
# $FUZZ_BUILD/seeds (binary, tests/fuzz/make-seeds.py). NICE=19 runs them at the lowest priority.
# FUZZ_KEEP_GOING=1 runs in libFuzzer's fork mode, which records a fault and goes on (for long runs
# that should count every distinct fault rather than stop at the first).
# Exit status 1 when a target found a fault.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(result_file bitmap settings export_csv export_xlsx slic)
fi
export QT_LOGGING_RULES='*=false'
# A request no allocator can meet fails as it does outside the sanitizer (null, bad_alloc); one
# above the target's memory limit is still reported.
export ASAN_OPTIONS=${ASAN_OPTIONS:-allocator_may_return_null=1}
status=0
mkdir -p "$build/artifacts" "$build/logs"
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  inputs=()
  for seeds in "tests/fuzz/seeds/$t" "$build/seeds/$t"; do
    [[ -d $seeds ]] && inputs+=("$seeds")
  done
  log="$build/logs/$t.log"
  mode=()
  if [[ ${FUZZ_KEEP_GOING:-0} == 1 ]]; then
    mode=(-fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1)
  fi
  nice -n "${NICE:-0}" "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=60 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" "${mode[@]}" \
    "$corpus" "${inputs[@]}" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  if [[ -z $runs ]]; then   # fork mode reports only its progress lines
    runs=$(grep -o '^#[0-9]*' "$log" | tr -d '#' | sort -n | tail -1)
  fi
  faults=$(grep -o 'oom/timeout/crash: [0-9/]*' "$log" | tail -1 | cut -d' ' -f2)
  if [[ -n $faults && $faults != 0/0/0 ]]; then
    rc=1
    echo "fuzz_$t: out of memory / timeouts / crashes: $faults"
  fi
  if ((rc == 0)); then
    echo "fuzz_$t: ${runs:-?} executions in $seconds s, no fault"
  else
    status=1
    echo "fuzz_$t: FAULT after ${runs:-?} executions (exit $rc); see $log"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|oracle failed|.*runtime error)' "$log" | head -5
    grep -o "Test unit written to .*" "$log" | head -1
  fi
done
exit $status
