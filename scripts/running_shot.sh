#!/usr/bin/env bash
# Takes docs/running.png from a real ./run.sh under a virtual X server, and says
# how long the window took to show live readouts. Needs xvfb, x11-utils and
# imagemagick; run it as:
#   xvfb-run -a -s "-screen 0 1024x768x24" scripts/running_shot.sh [output.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/running.png}
work=$(mktemp -d)
run_pid=""
finish() {
  if [ -n "$run_pid" ] && kill -TERM "$run_pid" 2>/dev/null; then wait "$run_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap finish EXIT

now() { date +%s.%N; }
since() { echo "$(now) - $1" | bc; }

start=$(now)
./run.sh >"$work/run.log" 2>&1 &
run_pid=$!

# The window first: its place on the screen, for the crops below.
geometry=""
for _ in $(seq 300); do
  if info=$(xwininfo -name Quorvid 2>/dev/null) && grep -q IsViewable <<<"$info"; then
    geometry=$(awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
                    /Width:/{w=$NF} /Height:/{h=$NF} END{print w "x" h "+" x "+" y}' <<<"$info")
    break
  fi
  sleep 0.1
done
[ -n "$geometry" ] || { echo "no window within 30 s"; cat "$work/run.log"; exit 1; }
shown=$(since "$start")
read -r w _ x y < <(tr 'x+' '  ' <<<"$geometry")

# Then the readouts: the row of numbers changes from the "0" it starts with.
row="$((w - 140))x40+$((x + 10))+$((y + 40))"
import -window root -crop "$row" "$work/row0.png"
live=""
for _ in $(seq 100); do
  sleep 0.1
  import -window root -crop "$row" "$work/row.png"
  if [ "$(compare -metric AE "$work/row0.png" "$work/row.png" null: 2>&1 || true)" != "0" ]; then
    live=$(since "$start")
    break
  fi
done
[ -n "$live" ] || { echo "no readouts within 10 s after the window"; exit 1; }

# A few seconds in, so that a sweep of traces and a status frame are on screen.
sleep 4
import -window root -crop "$geometry" +repage "$out"
printf 'window shown after %.1f s, live readouts after %.1f s; %s (%s)\n' "$shown" "$live" "$out" "$geometry"
