#!/usr/bin/env bash
# A study of real size: 48 photographs of 4000 x 3000 (12 teeth x 4 time points).
# - `orvix-batch --align --threads 2` from photographs without result files: peak resident memory
#   and photographs per second, median of RUNS runs (default 3);
# - the main window opening the aligned study: first opening (thumbnail cache empty) and
#   re-opening with the cache warm (reopen_bench).
# PEER_BUILD, when set, is a build of an earlier version whose orvix-batch runs alternately with
# this one on the same study, for ratios measured in the same run.
#   BUILD=build-bench [PEER_BUILD=...] [STUDY=dir] bench/large_study_bench.sh
set -euo pipefail
BUILD=${BUILD:-build-bench}
RUNS=${RUNS:-3}
cmake --build "$BUILD" --target orvix-batch make-demo-study reopen_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
study=${STUDY:-$work/study}
[ -d "$study" ] || "$BUILD/tools/make-demo-study" --teeth 12 --times 4 --width 4000 --height 3000 "$study" >/dev/null
photos=$(find "$study" -name '*.bmp' | wc -l)

run_batch() { # program -> "peak_kB seconds" of one run from scratch
  find "$study" -name '*.sp' -delete
  /usr/bin/time -f '%M %e' -o "$work/time" env APPDATA="$work/appdata" XDG_CACHE_HOME="$work/cache" "$1" --quiet --align --threads 2 "$study" >/dev/null
  cat "$work/time"
}
median() { sort -g | awk '{ t[NR] = $1 } END { print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'; }

echo "$photos photographs of 4000 x 3000, 2 workers, median of $RUNS runs, load average $(cut -d' ' -f1 /proc/loadavg)"
programs=("$BUILD/cli/orvix-batch")
[ -n "${PEER_BUILD:-}" ] && programs+=("$PEER_BUILD/cli/orvix-batch")
for i in $(seq "$RUNS"); do
  for p in "${programs[@]}"; do
    echo "$p $(run_batch "$p")" >>"$work/batch"
  done
done
for p in "${programs[@]}"; do
  peak=$(grep "^$p " "$work/batch" | cut -d' ' -f2 | median)
  secs=$(grep "^$p " "$work/batch" | cut -d' ' -f3 | median)
  awk -v p="$p" -v k="$peak" -v s="$secs" -v n="$photos" 'BEGIN {
    printf "%s: peak resident %.2f GB (%.0f MB per photograph), %.1f s, %.3f photographs/s\n",
           p, k / 1048576, k / 1024 / n, s, n / s }'
done
# The last run left the study aligned, with result files written by the first program listed.
find "$study" -name '*.sp' -delete
APPDATA="$work/appdata" XDG_CACHE_HOME="$work/cache" "$BUILD/cli/orvix-batch" --quiet --align --threads 2 "$study" >/dev/null
QT_QPA_PLATFORM=offscreen "$BUILD/bench/reopen_bench" "$study" 5
