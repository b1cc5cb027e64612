#!/usr/bin/env bash
# The benchmarks from a Release build, each reported as the median of ten
# runs: bench/bench.sh [extra Google Benchmark options, e.g. --benchmark_filter=Plot]
# Builds into build-bench/ (QV_BUILD=dir to use another).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BUILD:-$root/build-bench}
source "$root/scripts/deps.sh"
quorvid_install_missing
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVID_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target quorvid_bench -j "${QV_JOBS:-2}" >/dev/null
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
QT_QPA_PLATFORM=offscreen "$build/bench/quorvid_bench" --benchmark_repetitions=10 \
  --benchmark_report_aggregates_only=true --benchmark_display_aggregates_only=true "$@" \
  2> >(grep -v 'does not support propagateSizeHints' >&2) | grep -v -E '_(mean|stddev|cv) '
