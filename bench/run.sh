#!/usr/bin/env bash
# Builds the benchmarks and prints one table of their figures on this
# machine: what each measures, its time per iteration and its counters.
# Usage: bench/run.sh [--quick]   (--quick skips the 50,000-match filter and
# the 20,000-triplet estimator runs, which take about a minute each)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh libbenchmark-dev
quick=0
[ "${1:-}" = "--quick" ] && quick=1
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-bench -DQOR_BENCH=ON -DQOR_TESTS=OFF >/dev/null
cmake --build build-bench -j"$jobs" --target bench_read_matches bench_write_matches bench_transfer bench_estimator \
  pelmix_bench vandrel_bench >/dev/null
bin=build-bench/bin
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# run NAME BINARY FILTER: one benchmark process; its CSV rows go to the table
# with the process's peak resident memory.
run() {
  local label=$1 exe=$2 filter=$3
  rm -f "$tmp/csv"
  (cd "$tmp" && /usr/bin/time -f '%M' -o "$tmp/rss" "$OLDPWD/$bin/$exe" --benchmark_filter="$filter" \
    --benchmark_out="$tmp/csv" --benchmark_out_format=csv >/dev/null 2>&1 </dev/null) || true
  [ -s "$tmp/csv" ] || { echo "| $label | $filter | (did not run) |"; return; }
  local rss_mb
  rss_mb=$(tail -n 1 "$tmp/rss" | awk '{printf "%d", $1/1024}')
  # CSV: name,iterations,real_time,cpu_time,time_unit,...,counters
  awk -F, -v label="$label" -v rss="$rss_mb" '
    /^name,/ { for (i = 1; i <= NF; ++i) col[$i] = i; next }
    /^"/ {
      extra = ""
      for (k in col) if (k !~ /^(name|iterations|real_time|cpu_time|time_unit|bytes_per_second|items_per_second|label|error_occurred|error_message)$/ && $col[k] != "")
        { name = k; gsub(/"/, "", name); extra = extra sprintf(" %s=%s", name, $col[k]) }
      gsub(/"/, "", $1)
      printf "| %-14s | %-38s | %12.3f %-2s | %12.3f %-2s | %5s MB |%s\n", label, $1, $3, $5, $4, $5, rss, extra
    }' "$tmp/csv"
}

echo "Measured on $(date -u +%Y-%m-%d), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores"
echo
echo "| program        | benchmark                              |    wall time    |     CPU time    | peak RSS | counters"
echo "|----------------|----------------------------------------|-----------------|-----------------|----------|---------"
run read_matches bench_read_matches 'BM_ReadMatches/100000'
run write_matches bench_write_matches 'BM_Write'
run transfer bench_transfer 'BM_BaselineTransfer'
run transfer bench_transfer 'BM_TransferPoint'
run transfer bench_transfer 'BM_SixPointTensor'
run ostrel bench_estimator 'BM_Transfer'
run ostrel bench_estimator 'BM_OstrelHalfOutliers/2000/'
run ostrel bench_estimator 'BM_OstrelPureNoise/2000/'
run ostrel bench_estimator 'BM_Scoring'
if [ $quick -eq 0 ]; then
  run ostrel bench_estimator 'BM_OstrelHalfOutliers/20000/'
  run ostrel bench_estimator 'BM_OstrelPureNoise/20000/'
fi
run pelmix pelmix_bench 'BM_Filter/2000/'
run pelmix pelmix_bench 'BM_Filter/20000/'
[ $quick -eq 0 ] && run pelmix pelmix_bench 'BM_Filter/50000/'
run pelmix pelmix_bench 'BM_PlainPairLoop/2000'
run pelmix pelmix_bench 'BM_FilterThreads/matches:20000/'
run vandrel vandrel_bench '.'
