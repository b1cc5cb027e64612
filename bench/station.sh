#!/usr/bin/env bash
# The station's figures, side by side in one run: quorvid-monitor --evaluate
# with the default plan on one simulated board, then on four at once (one
# quorvid-board --boards 4, the references set for all through its control
# pipe by --reference-command). Prints:
#
#   each run's duration and exit status, and the four boards' against the
#   one board's (target: at most 1.2 times)
#   quorvid-monitor's CPU during each, and the four boards' against the one
#   board's (target: at most 4 times)
#   the time to write the station's summary (target: under 1 s), as the
#   program states it
#
# Usage: bench/station.sh [DIR]   (about 200 s after the build)
# The reports stay in DIR (one.*, four.*, four-B1.* ...) when DIR is given.
# QV_BUILD=dir uses another build (default build-bench/, Release). CPU: the
# monitor's user + system time that the shell's `times` reports once it has
# ended, over its wall time.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

OUT=${1:-$QV_TMP}
mkdir -p "$OUT"
qv_build

# A board (or four) on pseudo-terminals behind links, with a control pipe.
start_boards() {
  local name=$1
  shift
  "$QV_BOARD" --link "$QV_TMP/$name" --control "$QV_TMP/$name.ctl" "$@" >"$QV_TMP/$name.out" 2>"$QV_TMP/$name.log" &
  QV_BOARD_PID=$!
  QV_PIDS+=("$QV_BOARD_PID")
  qv_wait_for_line "$QV_TMP/$name.out" . 10 || qv_die "quorvid-board did not start"
  sleep 0.5  # every line printed
}

# The reference command for the boards behind control pipe NAME.ctl.
reference() { printf '%s' "printf 'ch1 {ch1}\nch2 {ch2}\nrate {rate}\n' > '$QV_TMP/$1.ctl'"; }

start_boards one --set "ch1 gain 1.06"
qv_say "one board on $QV_TMP/one; evaluating (about 95 s)"
read -r O_STATUS O_WALL O_CPU < <(
  cd "$OUT" && qv_measure "$QV_TMP/one.eval" "$QV_TMP/one.err" \
    "$QV_MONITOR" --port "$QV_TMP/one" --evaluate --report one --operator "bench/station.sh" \
    --reference-command "$(reference one)"
)
qv_stop "$QV_BOARD_PID"

start_boards four --boards 4 --set "2: ch1 gain 1.06"
qv_say "four boards on $QV_TMP/four1 .. four4; evaluating (about 95 s)"
read -r F_STATUS F_WALL F_CPU < <(
  cd "$OUT" && qv_measure "$QV_TMP/four.eval" "$QV_TMP/four.err" \
    "$QV_MONITOR" --evaluate --report four --operator "bench/station.sh" \
    --port "$QV_TMP/four1" --board-id B1 --port "$QV_TMP/four2" --board-id B2 \
    --port "$QV_TMP/four3" --board-id B3 --port "$QV_TMP/four4" --board-id B4 \
    --reference-command "$(reference four)"
)
qv_stop "$QV_BOARD_PID"
SUMMARY_MS=$(sed -n 's/^Report: .*(written in \([0-9]*\) ms).*/\1/p' "$QV_TMP/four.eval")

O_PCT=$(awk -v c="$O_CPU" -v w="$O_WALL" 'BEGIN { print 100 * c / w }')
F_PCT=$(awk -v c="$F_CPU" -v w="$F_WALL" 'BEGIN { print 100 * c / w }')
echo "# $(qv_machine)"
echo "# load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-52s %12s %12s %10s %s\n' "default plan" "1 board" "4 boards" "ratio" "target"
printf '%-52s %12s %12s %10s %s\n' "whole run (exit status $O_STATUS, $F_STATUS)" \
  "$(printf '%.1f s' "$O_WALL")" "$(printf '%.1f s' "$F_WALL")" \
  "$(awk -v a="$O_WALL" -v b="$F_WALL" 'BEGIN { printf "%.3f", b / a }')" "<= 1.2"
printf '%-52s %12s %12s %10s %s\n' "quorvid-monitor CPU, % of one core" \
  "$(printf '%.2f %%' "$O_PCT")" "$(printf '%.2f %%' "$F_PCT")" \
  "$(awk -v a="$O_PCT" -v b="$F_PCT" 'BEGIN { printf "%.2f", b / a }')" "<= 4"
printf '%-52s %12s %12s\n' "quorvid-monitor CPU seconds" "$(printf '%.2f s' "$O_CPU")" "$(printf '%.2f s' "$F_CPU")"
printf '%-52s %12s %12s %10s %s\n' "station summary written (JSON, HTML, JUnit)" "" "${SUMMARY_MS:-?} ms" "" "< 1000 ms"
echo
echo "The four boards' summary:"
sed -n '/^Report:/,$p' "$QV_TMP/four.eval"
