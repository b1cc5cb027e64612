#!/usr/bin/env bash
# The evaluation's figures: quorvid-monitor --evaluate with the default plan on
# the simulated board with "ch1 gain 1.06", the references set through the
# board's control pipe by --reference-command. Prints:
#
#   the whole run's duration (target: under 150 s) and its exit status
#   quorvid-monitor's CPU during it, beside quorvid-monitor only monitoring
#   (text lines to /dev/null) on the same board for as long (target: at most
#   0.3 points above)
#   the time to write the report (target: under 1 s), as the program states it
#
# Usage: bench/evaluate.sh [DIR]   (about 200 s after the build)
# The report and recording stay in DIR as r.json, r.html, r.xml, r.csv and
# r.bytes when DIR is given. QV_BUILD=dir uses another build (default
# build-bench/, Release). CPU: the children's user + system time that the
# shell's `times` reports once each program has ended, over its wall time.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

OUT=${1:-$QV_TMP}
mkdir -p "$OUT"
qv_install
qv_build

qv_start_board --control "$QV_TMP/ctl" --set "ch1 gain 1.06"
qv_say "board on $QV_LINK; evaluating (about 95 s)"

read -r E_STATUS E_WALL E_CPU < <(
  cd "$OUT" && qv_measure "$QV_TMP/evaluate.out" "$QV_TMP/evaluate.err" \
    "$QV_MONITOR" --port "$QV_LINK" --evaluate --report r --operator "bench/evaluate.sh" \
    --reference-command "printf 'ch1 {ch1}\nch2 {ch2}\nrate {rate}\n' > '$QV_TMP/ctl'"
)
REPORT_MS=$(sed -n 's/.*(written in \([0-9]*\) ms).*/\1/p' "$QV_TMP/evaluate.out")
SECONDS_RUN=$(printf '%.0f' "$E_WALL")

qv_say "monitoring alone for ${SECONDS_RUN} s"
read -r M_STATUS M_WALL M_CPU < <(
  qv_measure /dev/null "$QV_TMP/monitor.err" "$QV_MONITOR" --port "$QV_LINK" --seconds "$SECONDS_RUN"
)

E_PCT=$(awk -v c="$E_CPU" -v w="$E_WALL" 'BEGIN { print 100 * c / w }')
M_PCT=$(awk -v c="$M_CPU" -v w="$M_WALL" 'BEGIN { print 100 * c / w }')
echo "# $(qv_machine)"
printf '%-58s %s\n' "default plan, whole run (exit status $E_STATUS)" "$(printf '%.1f s' "$E_WALL")"
printf '%-58s %s\n' "quorvid-monitor --evaluate, CPU" "$(printf '%.2f %% of one core (%.2f s)' "$E_PCT" "$E_CPU")"
printf '%-58s %s\n' "quorvid-monitor monitoring alone, CPU (exit status $M_STATUS)" "$(printf '%.2f %% of one core (%.2f s)' "$M_PCT" "$M_CPU")"
printf '%-58s %s\n' "difference" "$(awk -v e="$E_PCT" -v m="$M_PCT" 'BEGIN { printf "%+.2f points", e - m }')"
printf '%-58s %s\n' "report written (JSON, HTML, JUnit)" "${REPORT_MS:-?} ms"
echo
echo "The run's summary:"
sed -n '/^Board:/,$p' "$QV_TMP/evaluate.out"
