#!/usr/bin/env bash
# Photographs per second of a whole `orvix-batch --align` run (loading, alignment, segmentation,
# classification, result files) on a rendered demo study of 48 photographs of 1024 x 768, with 1
# and with 2 worker threads. Median of RUNS runs (default 5); every run starts from photographs
# without result files. Uses hyperfine when it is installed (`make bench` installs it).
#   BUILD=build RUNS=5 bench/orvix_batch_bench.sh   (the program as a user runs it; batch_bench.cpp
#   times the batch inside one process)
set -euo pipefail
BUILD=${BUILD:-build}
RUNS=${RUNS:-5}
cmake --build "$BUILD" --target orvix-batch make-demo-study >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
study="$work/study"
"$BUILD/tools/make-demo-study" --teeth 16 --times 3 --width 1024 --height 768 "$study"
photos=$(find "$study" -name '*.bmp' | wc -l)
clean="find '$study' -name '*.sp' -delete"

median_seconds() { # command -> median wall time of RUNS runs
  if command -v hyperfine >/dev/null; then
    hyperfine --style none --runs "$RUNS" --prepare "$clean" --export-json "$work/run.json" "$1" >/dev/null 2>&1
    /usr/bin/python3 -c "import json; print(json.load(open('$work/run.json'))['results'][0]['median'])"
  else
    for _ in $(seq "$RUNS"); do
      eval "$clean"
      start=$(date +%s.%N); eval "$1"; end=$(date +%s.%N)
      awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
    done | sort -g | awk '{ t[NR] = $1 } END { print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
  fi
}

echo "$photos photographs of 1024 x 768, median of $RUNS runs, load average $(cut -d' ' -f1 /proc/loadavg)"
for threads in 1 2; do
  seconds=$(median_seconds "APPDATA='$work/appdata' '$BUILD/cli/orvix-batch' --quiet --align --threads $threads '$study'")
  awk -v t="$threads" -v s="$seconds" -v n="$photos" \
    'BEGIN { printf "threads %d: %.2f s, %.2f photographs/s\n", t, s, n / s }'
done
