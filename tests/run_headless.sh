#!/usr/bin/env bash
# ./run.sh where there is no display: it must start the simulated board and
# the terminal monitor, print live values lines within a bounded time, and end
# both (and remove its temporary directory) when it gets SIGTERM.
#
# Usage: tests/run_headless.sh     (run by ./test.sh after the build stage)
# The Release build that run.sh uses is brought up to date first, untimed;
# from then on LIMIT seconds (default 60) bound the whole run, run.sh's own
# up-to-date build check included.
set -euo pipefail
cd "$(dirname "$0")/.."
LIMIT=${LIMIT:-60}

fail() { echo "run_headless: $*" >&2; exit 1; }

source scripts/release-tree.sh
quorvid_configure_release >/dev/null
quorvid_build_release quorvid-board quorvid-monitor >/dev/null

out=$(mktemp -d "${TMPDIR:-/tmp}/quorvid-headless.XXXXXX")
pid=""
finish() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -TERM "$pid"; wait "$pid" || true; fi
  rm -rf "$out"
}
trap finish EXIT

# run.sh makes its private directory under TMPDIR: here, so that what it
# leaves behind, and the programs it started, can be found.
mkdir "$out/tmp"
TMPDIR="$out/tmp" env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
  ./run.sh >"$out/stdout" 2>"$out/stderr" </dev/null &
pid=$!

values='^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}  ch1 [0-9]+/[0-9]+ \([0-9]+\)  ch2 [0-9]+/[0-9]+ \([0-9]+\)  pulse [0-9]+$'
start=$SECONDS
until [ "$(grep -cE "$values" "$out/stdout" || true)" -ge 2 ]; do
  if ! kill -0 "$pid" 2>/dev/null; then
    cat "$out/stderr" >&2
    fail "run.sh ended before printing values lines"
  fi
  if (( SECONDS - start >= LIMIT )); then
    cat "$out/stdout" "$out/stderr" >&2
    fail "no two values lines within $LIMIT s"
  fi
  sleep 0.2
done
took=$((SECONDS - start))
grep -q "there is no display" "$out/stderr" || fail "run.sh did not say that there is no display"
grep -q "xvfb-run -a ./run.sh" "$out/stderr" || fail "run.sh did not say how to see the window"

kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 143 ] || fail "run.sh ended with status $status after SIGTERM (wanted 143)"
# The board's link and the monitor's port both lie in run.sh's directory.
if pgrep -f -- "$out/tmp/" >/dev/null; then fail "a program run.sh started is still running"; fi
[ -z "$(ls -A "$out/tmp")" ] || fail "run.sh left $(ls "$out/tmp") behind"

echo "run.sh without a display: values lines after ${took} s (limit $LIMIT s), ended cleanly by SIGTERM"
grep -E "$values" "$out/stdout" | head -2
