#!/usr/bin/env bash
# The history's speed: quorvid-monitor --history over 1,000 evaluation reports
# (target: under 2 s). The reports are made from two real runs of a short
# plan on the simulated board (ch1 gain 1.00 and 1.06, references set through
# its control pipe), each copied 500 times with its own board ID (100
# boards), start (over 200 days), recording SHA-256 and figures (every
# error and mean moved by up to 60 % of its limit, the verdicts and marginal
# marks judged again), in 20 folders. Prints the machine, the load average,
# the reports' size and, of 5 runs, the median wall time (and the slowest)
# and the median CPU time (user + system), for every board and for one.
#
# Usage: bench/history.sh [DIR]   (about a minute after the build)
# The reports stay in DIR and the summary in DIR-summary.* when DIR is given. QV_BUILD=dir
# uses another build (default build-bench/, Release).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

OUT=${1:-$QV_TMP/reports}
SUMMARY=${1:+$1-summary}
SUMMARY=${SUMMARY:-$QV_TMP/summary}
mkdir -p "$OUT"
qv_install
qv_build

cat >"$QV_TMP/plan.toml" <<'PLAN'
[plan]
name = "bench short"
marginal_percent = 75
[[check]]
kind = "identify"
[[check]]
kind = "zero"
[[check]]
kind = "static"
points = [0, 50, 100, 200, 300]
settle_s = 1
measure_s = 2
[[check]]
kind = "dynamic"
settle_s = 2
beats = 10
PLAN

for gain in 1.00 1.06; do
  qv_start_board --control "$QV_TMP/ctl" --set "ch1 gain $gain"
  qv_say "board with ch1 gain $gain on $QV_LINK; evaluating (about 30 s)"
  "$QV_MONITOR" --port "$QV_LINK" --evaluate "$QV_TMP/plan.toml" --report "$QV_TMP/seed-$gain" \
    --operator "bench/history.sh" \
    --reference-command "printf 'ch1 {ch1}\nch2 {ch2}\nrate {rate}\n' > '$QV_TMP/ctl'" >"$QV_TMP/seed-$gain.out" || true
  qv_stop "$QV_BOARD_PID"
done

python3 - "$QV_TMP" "$OUT" <<'PY'
import hashlib, json, os, random, sys, datetime
tmp, out = sys.argv[1], sys.argv[2]
random.seed(22)
seeds = [json.load(open(os.path.join(tmp, f"seed-{g}.json"))) for g in ("1.00", "1.06")]
start = datetime.datetime(2026, 5, 1, tzinfo=datetime.timezone.utc)
for i in range(1000):
    r = json.loads(json.dumps(seeds[i % 2]))
    r["board_id"] = f"SN-{i % 100 + 1:04d}"
    when = start + datetime.timedelta(minutes=random.randrange(200 * 24 * 60))
    r["started_utc"] = when.strftime("%Y-%m-%dT%H:%M:%S.000Z")
    r["recording"]["bytes_sha256"] = hashlib.sha256(f"run {i}".encode()).hexdigest()
    failed = 0
    for c in r["checks"]:
        for row in c["results"]:
            if row.get("error") is None or row.get("limit") is None or row["verdict"] == "skipped":
                continue
            d = random.uniform(-0.6, 0.6) * row["limit"]
            row["error"] += d
            if row.get("mean") is not None and row.get("reference") is not None:
                row["mean"] += d
            row["verdict"] = "pass" if abs(row["error"]) <= row["limit"] else "fail"
            row.pop("marginal", None)
            if row["verdict"] == "pass" and abs(row["error"]) > 0.75 * row["limit"]:
                row["marginal"] = True
            failed += row["verdict"] == "fail"
        c["verdict"] = "fail" if any(x["verdict"] == "fail" for x in c["results"]) else "pass"
    r["verdict"] = "fail" if failed else "pass"
    folder = os.path.join(out, f"batch-{i % 20:02d}")
    os.makedirs(folder, exist_ok=True)
    json.dump(r, open(os.path.join(folder, f"run-{i:04d}.json"), "w"), indent=4)
PY

SIZE=$(du -sh "$OUT" | cut -f1)
# Runs the summary 5 times; prints the median and the slowest wall time and
# the median CPU time, in s.
timed() {
  local walls=() cpus=() line
  for _ in 1 2 3 4 5; do
    line=$( { TIMEFORMAT='%R %U %S'; time "$QV_MONITOR" --history "$OUT" --summary "$SUMMARY" "$@" >"$QV_TMP/history.out"; } 2>&1 )
    walls+=("$(awk '{ print $1 }' <<<"$line")")
    cpus+=("$(awk '{ printf "%.3f", $2 + $3 }' <<<"$line")")
  done
  local wall cpu
  wall=$(printf '%s\n' "${walls[@]}" | sort -n | awk '{ v[NR] = $1 } END { printf "%.2f s wall (slowest %.2f s)", v[3], v[5] }')
  cpu=$(printf '%s\n' "${cpus[@]}" | sort -n | awk '{ v[NR] = $1 } END { printf "%.2f s CPU", v[3] }')
  echo "$wall, $cpu"
}
ALL=$(timed)
head -1 "$QV_TMP/history.out" >"$QV_TMP/all.line"
ONE=$(timed --board-id SN-0042)
echo "# $(qv_machine); load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-58s %s\n' "reports: 1000 in 20 folders, $SIZE" ""
printf '%-58s %s\n' "--history, every board, median of 5" "$ALL"
printf '%-58s %s\n' "--history --board-id SN-0042, median of 5" "$ONE"
echo
cat "$QV_TMP/all.line"
