#!/usr/bin/env bash
# Soak: the real program under its own X server (Xvfb), fed by the simulated
# board at speed 150 on a line that loses 1 % of its bytes, for a given time.
# Reports resident memory (VmRSS) after a 5 s warm-up and at the end, and any
# error; exits 1 when the program died or its resident memory grew by more
# than 2 MiB, 2 when it could not run.
#
# Usage: bench/soak.sh [--seconds N] [--build-dir DIR]
#   --seconds N      streaming time at speed 150 (default 600)
#   --build-dir DIR  take quorvid and quorvid-board from this build (brought up
#                    to date); default a Release build in build-bench/
set -euo pipefail

SECONDS_TO_RUN=600
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) SECONDS_TO_RUN=${2:?--seconds wants a number}; shift 2 ;;
    --seconds=*) SECONDS_TO_RUN=${1#*=}; shift ;;
    --build-dir) QV_BUILD=$(cd "${2:?--build-dir wants a directory}" && pwd); shift 2 ;;
    --build-dir=*) QV_BUILD=$(cd "${1#*=}" && pwd); shift ;;
    -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "soak.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done
[[ $SECONDS_TO_RUN =~ ^[0-9]+$ ]] && [ "$SECONDS_TO_RUN" -ge 10 ] || {
  echo "soak.sh: --seconds wants a whole number of at least 10" >&2; exit 2; }

source "$(dirname "$0")/lib.sh"
WARMUP=5
GROWTH_LIMIT_KB=2048

qv_install
qv_build
qv_start_x
qv_start_board --drop 0.01
qv_start_program "$QV_LINK" "$QV_TMP/soak.log" "$QV_TMP/soak.trace"
APP=$QV_APP_PID
qv_wait_for_line "$QV_TMP/soak.trace" window-exposed 20 || qv_die "no window (see $QV_TMP/soak.log)"
win=$(qv_window)
[ -n "$win" ] || qv_die "no window named Quorvid"
sleep 1
heard_before=$(qv_heard)
qv_click_set_speed "$win"
heard_s2() { local all; all=$(qv_heard); [[ ${all:${#heard_before}} == *S2* ]]; }
for _ in $(seq 60); do heard_s2 && break; sleep 0.05; done
heard_s2 || qv_die "the board never heard S2 after the click"

echo "soak: $SECONDS_TO_RUN s at speed 150 with 1 % of the bytes lost; $(qv_machine)"
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
if [ -s "$QV_TMP/soak.log" ]; then
  echo "program stderr:"
  sort "$QV_TMP/soak.log" | uniq -c | sed 's/^ */  /'
else
  echo "program stderr: nothing"
fi
[ "$status" -eq 0 ] && echo "soak passed"
exit "$status"
