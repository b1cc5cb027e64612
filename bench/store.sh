#!/usr/bin/env bash
# The results store's figures: RUNS runs (default 100,000) of 33 results of
# 500 boards loaded into a SQLite store and into a PostgreSQL server of the
# script's own (scripts/postgres-test.sh, stopped at the end), then from each:
# the history summary (JSON, CSV and HTML written, every board, one board and
# from a day, median of 3; target under 2 s), one run's report stored with deliverRun
# (median of 20; target under 50 ms), eight writer processes at once
# storing 20 runs the same and 20 their own (every run stored once), and the
# history again once 100 of the runs are judged again (each counted once); and
# FOLDER_RUNS (default 20,000) of the same runs as report files read as a
# folder, then imported into a new store of each kind and the history from
# the store compared with the folder's. Prints the machine and its load average first.
#
# Usage: bench/store.sh [RUNS [FOLDER_RUNS]]   (some minutes: the loads take most)
# QV_BUILD=dir uses another build (default build-bench/, Release);
# QV_STORES="sqlite" or "postgresql" measures one kind of store alone.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

RUNS=${1:-100000}
FOLDER_RUNS=${2:-20000}
qv_install
if [ ! -f "$QV_BUILD/CMakeCache.txt" ]; then
  cmake -S "$QV_ROOT" -B "$QV_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVID_BUILD_TESTS=OFF >/dev/null
fi
cmake "$QV_BUILD" -DQUORVID_BUILD_BENCH=ON >/dev/null
cmake --build "$QV_BUILD" --target quorvid_store_bench -j "${QV_JOBS:-2}" >/dev/null || qv_die "the build in $QV_BUILD failed"
B=$QV_BUILD/bench/quorvid_store_bench

# The server's user (postgres, when root runs this) reaches its folder.
chmod 755 "$QV_TMP"
PG=$QV_TMP/pg
trap 'bash "$QV_ROOT/scripts/postgres-test.sh" stop "$PG" >/dev/null 2>&1 || true; qv_cleanup' EXIT
bash "$QV_ROOT/scripts/postgres-test.sh" start "$PG"
PGURL="postgresql://quorvid@$(sed 's|/|%2F|g' <<<"$PG")/quorvid"
PGBIN=$(ls -d /usr/lib/postgresql/*/bin | tail -1)
AS_SERVER=()
[ "$(id -u)" -eq 0 ] && AS_SERVER=(runuser -u postgres --)
SQLITE="sqlite:$QV_TMP/line.sqlite"
export XDG_DATA_HOME=$QV_TMP/data  # the outbox, out of the way

echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs ($(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //; s/ [0-9]*-Core.*//')), $(free -g | awk '/Mem/{print $2}') GiB RAM, Linux $(uname -r); load average $(cut -d' ' -f1-3 /proc/loadavg)"
STORES=()
[[ " ${QV_STORES:-sqlite postgresql} " == *" sqlite "* ]] && STORES+=("$SQLITE")
[[ " ${QV_STORES:-sqlite postgresql} " == *" postgresql "* ]] && STORES+=("$PGURL")
for store in "${STORES[@]}"; do
  "$B" load "$store" "$RUNS" 500
  "$B" history "$store"
  "$B" history "$store" SN-0042
  "$B" history "$store" "" 2027-01-01
  "$B" one "$store" "$QV_TMP/one"
  "$B" writers "$store" "$QV_TMP/writers"
  "$B" copies "$store" 100 "$RUNS" 500
  "$B" history "$store"
done
"$B" folder "$QV_TMP/folder" "$FOLDER_RUNS"
echo "folder     $FOLDER_RUNS reports, $(du -sh "$QV_TMP/folder" | cut -f1)"
"$B" history "$QV_TMP/folder"
"$B" compare "sqlite:$QV_TMP/folder.sqlite" "$QV_TMP/folder" || true
"${AS_SERVER[@]}" "$PGBIN/createdb" -h "$PG" -U quorvid folder
"$B" compare "${PGURL%/quorvid}/folder" "$QV_TMP/folder" || true
echo "# load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
