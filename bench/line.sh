#!/usr/bin/env bash
# The line's server's figures: RUNS runs (default 100,000) of 33 results of
# 500 boards on six benches loaded into a SQLite store (quorvid_store_bench
# load, some minutes), then quorvid_line_bench over it: the snapshot, each API
# answer over loopback, and 20 clients asking what the page asks every second
# for a minute, with the process's memory. QV_STORE=STORE measures a store
# already loaded instead (sqlite:PATH or postgresql://...).
#
# Usage: bench/line.sh [RUNS]
set -euo pipefail
source "$(dirname "$0")/lib.sh"

RUNS=${1:-100000}
qv_install
if [ ! -f "$QV_BUILD/CMakeCache.txt" ]; then
  cmake -S "$QV_ROOT" -B "$QV_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVID_BUILD_TESTS=OFF >/dev/null
fi
cmake "$QV_BUILD" -DQUORVID_BUILD_BENCH=ON >/dev/null
cmake --build "$QV_BUILD" --target quorvid_store_bench quorvid_line_bench -j "${QV_JOBS:-2}" >/dev/null || qv_die "the build in $QV_BUILD failed"
trap qv_cleanup EXIT
export XDG_DATA_HOME=$QV_TMP/data  # the outbox, out of the way

echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, $(free -g | awk '/Mem/{print $2}') GiB RAM, Linux $(uname -r); load average $(cut -d' ' -f1-3 /proc/loadavg)"
STORE=${QV_STORE:-}
if [ -z "$STORE" ]; then
  STORE="sqlite:$QV_TMP/line.sqlite"
  "$QV_BUILD/bench/quorvid_store_bench" load "$STORE" "$RUNS" 500
fi
"$QV_BUILD/bench/quorvid_line_bench" "$STORE" 20 60
