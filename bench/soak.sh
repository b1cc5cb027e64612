#!/usr/bin/env bash
# Soak: the real program under its own X server (Xvfb), fed by the simulated
# board at speed 150 on a line that loses 1 % of its bytes, for a given time.
# Reports resident memory (VmRSS) after a 5 s warm-up and at the end, and any
# error; exits 1 when the program died or its resident memory grew by more
# than 2 MiB, 2 when it could not run.
#
# Usage: bench/soak.sh [--seconds N] [--record FILE.csv] [--build-dir DIR]
#   --seconds N        streaming time at speed 150 (default 600)
#   --record FILE.csv  the program records into FILE.csv and FILE.bytes
#                      (quorvid --record); at the end the files' sizes, their
#                      rows by kind and the frames the board wrote are shown
#   --build-dir DIR    take quorvid and quorvid-board from this build (brought
#                      up to date); default a Release build in build-bench/
set -euo pipefail

SECONDS_TO_RUN=600
RECORD=""
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) SECONDS_TO_RUN=${2:?--seconds wants a number}; shift 2 ;;
    --seconds=*) SECONDS_TO_RUN=${1#*=}; shift ;;
    --record) RECORD=${2:?--record wants a file name}; shift 2 ;;
    --record=*) RECORD=${1#*=}; [ -n "$RECORD" ] || { echo "soak.sh: --record wants a file name" >&2; exit 2; }; shift ;;
    --build-dir) QV_BUILD=$(cd "${2:?--build-dir wants a directory}" && pwd); shift 2 ;;
    --build-dir=*) QV_BUILD=$(cd "${1#*=}" && pwd); shift ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "soak.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done
[[ $SECONDS_TO_RUN =~ ^[0-9]+$ ]] && [ "$SECONDS_TO_RUN" -ge 10 ] || {
  echo "soak.sh: --seconds wants a whole number of at least 10" >&2; exit 2; }

if [ -n "$RECORD" ]; then
  # The program is started from elsewhere; the files are where the user meant.
  case $RECORD in /*) ;; *) RECORD=$PWD/$RECORD ;; esac
  [ -d "$(dirname "$RECORD")" ] || { echo "soak.sh: no folder $(dirname "$RECORD")" >&2; exit 2; }
  RECORD_CSV=${RECORD%.csv}.csv
  RECORD_BYTES=${RECORD_CSV%.csv}.bytes
fi

source "$(dirname "$0")/lib.sh"
WARMUP=5
GROWTH_LIMIT_KB=2048

qv_install
qv_build
qv_start_x
qv_start_board --drop 0.01
record_args=()
[ -n "$RECORD" ] && record_args=(--record "$RECORD")
qv_start_program "$QV_LINK" "$QV_TMP/soak.log" "$QV_TMP/soak.trace" "${record_args[@]}"
APP=$QV_APP_PID
qv_wait_for_line "$QV_TMP/soak.trace" window-exposed 20 || qv_die "no window (see $QV_TMP/soak.log)"
win=$(qv_window)
[ -n "$win" ] || qv_die "no window named Quorvid"
sleep 1
qv_set_speed_150 "$win"

echo "soak: $SECONDS_TO_RUN s at speed 150 with 1 % of the bytes lost${RECORD:+, recording into $RECORD_CSV}; $(qv_machine)"
died=""
sample() { qv_status_kb "$APP" VmRSS; }
sleep "$WARMUP"
rss_start=$(sample)
[ -n "$rss_start" ] || died="before the warm-up ended"
rss_peak=${rss_start:-0}
deadline=$((SECONDS + SECONDS_TO_RUN - WARMUP))
next_report=$((SECONDS + 60))
while [ -z "$died" ] && [ "$SECONDS" -lt "$deadline" ]; do
  sleep 1
  if ! qv_alive "$APP"; then died="after $((SECONDS_TO_RUN - (deadline - SECONDS))) s"; break; fi
  rss=$(sample)
  [ -n "$rss" ] && [ "$rss" -gt "$rss_peak" ] && rss_peak=$rss
  if [ "$SECONDS" -ge "$next_report" ]; then
    echo "  $((SECONDS_TO_RUN - (deadline - SECONDS))) s: VmRSS $rss kB"
    next_report=$((SECONDS + 60))
  fi
done
rss_end=$(sample || true)
qv_alive "$QV_BOARD_PID" || echo "warning: quorvid-board stopped during the soak"

status=0
if [ -n "$died" ]; then
  wait "$APP" 2>/dev/null && code=0 || code=$?
  echo "FAILED: quorvid died $died (exit status $code)"
  status=1
else
  growth=$((rss_end - rss_start))
  echo "VmRSS: $rss_start kB after ${WARMUP} s, $rss_end kB at the end ($((growth >= 0 ? growth : -growth)) kB $([ "$growth" -ge 0 ] && echo more || echo less)), peak $rss_peak kB"
  if [ "$growth" -gt "$GROWTH_LIMIT_KB" ]; then
    echo "FAILED: resident memory grew by more than $GROWTH_LIMIT_KB kB"
    status=1
  fi
fi
if [ -n "$RECORD" ]; then
  # The program ends first, closing its files; then the board, which says on
  # its way out how many frames of each kind it wrote.
  qv_alive "$APP" && qv_stop "$APP"
  qv_stop "$QV_BOARD_PID"
  echo "recording (the board's frames include those it wrote before the program opened the line):"
  for f in "$RECORD_CSV" "$RECORD_BYTES"; do
    if [ -f "$f" ]; then echo "  $f: $(stat -c %s "$f") bytes, $(wc -l <"$f") lines"; else echo "  $f: missing"; status=1; fi
  done
  if [ -f "$RECORD_CSV" ]; then
    # Read as CSV: an identification's text may hold commas or line ends.
    echo "  rows by kind: $(python3 -c 'import collections, csv, sys
rows = collections.Counter(r["kind"] for r in csv.DictReader(open(sys.argv[1], newline="", encoding="utf-8")))
print(", ".join(f"{k} {n}" for k, n in sorted(rows.items())))' "$RECORD_CSV")"
  fi
  [ -f "$RECORD_BYTES" ] && echo "  blocks: $(grep -vc '^#' "$RECORD_BYTES"), notes: $(grep -c '^#' "$RECORD_BYTES")"
  sed -n 's/^quorvid-board: wrote /  the board wrote /p' "$QV_TMP/board.log"
fi
if [ -s "$QV_TMP/soak.log" ]; then
  echo "program stderr:"
  sort "$QV_TMP/soak.log" | uniq -c | sed 's/^ */  /'
else
  echo "program stderr: nothing"
fi
[ "$status" -eq 0 ] && echo "soak passed"
exit "$status"
