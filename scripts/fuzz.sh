#!/usr/bin/env bash
# Runs every libFuzzer target (or the ones named) for SECONDS each on its
# seed corpus, one after another, and fails on the first fault found.
#
#   scripts/fuzz.sh SECONDS [target ...]      e.g. scripts/fuzz.sh 20
#
# Targets are the folder names under fuzz/ (read_matches, image_gif, ...).
# Installs clang-14 and libfuzzer-14-dev when they are missing, builds
# build-fuzz with -DQOR_FUZZ=ON, and keeps the inputs each run adds in
# build-fuzz/corpus/<target> (the seeds in fuzz/<target>/corpus are only
# read). A crashing input is written to build-fuzz/artifacts/ and its path
# printed; keep it as a regression test under tests/data/regressions/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh SECONDS [target ...]" >&2
  exit 2
fi
seconds=$1
shift

scripts/install-deps.sh clang-14 libfuzzer-14-dev
cc=clang
cxx=clang++
command -v clang++ >/dev/null 2>&1 || { cc=clang-14; cxx=clang++-14; }

CC=$cc CXX=$cxx cmake -S . -B build-fuzz -DQOR_FUZZ=ON -DQOR_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for d in fuzz/*/; do
    d=${d%/}
    [ -f "$d/CMakeLists.txt" ] && [ -d "$d/corpus" ] && targets+=("$(basename "$d")")
  done
fi

build_targets=()
for t in "${targets[@]}"; do build_targets+=("fuzz_$t"); done
cmake --build build-fuzz -j"$(nproc 2>/dev/null || echo 2)" --target "${build_targets[@]}"

mkdir -p build-fuzz/artifacts
status=0
for t in "${targets[@]}"; do
  work=build-fuzz/corpus/$t
  mkdir -p "$work"
  echo "== fuzz_$t: ${seconds}s"
  log=build-fuzz/artifacts/$t.log
  if build-fuzz/fuzz/fuzz_"$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$t-" \
      "$work" "fuzz/$t/corpus" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^#[0-9]+ +DONE' "$log" | tr '\n' ' '
    echo
  else
    echo "fuzz_$t FAILED; log: $log"
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" || true
    status=1
  fi
done
exit $status
