#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quorvid: on the simulated board
# unless a real one is named. See ./run.sh --help.
set -euo pipefail
cd "$(dirname "$0")"

usage() {
  cat <<'EOF'
Usage: ./run.sh [--port DEVICE | --no-board] [BOARD OPTIONS...]

Installs what is missing (apt-get), builds Quorvid (Release, in build-release/)
and starts it.

With no board named, it first starts the simulated board, quorvid-board, on a
private pseudo-terminal and points COM1 at it, so the window shows live
readouts and moving traces within seconds. Ending the program ends the
simulated board too; so does Ctrl-C here.

  --port DEVICE   use the real board on DEVICE (e.g. /dev/ttyUSB0) as COM1;
                  no simulated board
  --no-board      no simulated board: COM1..COM8 are the system's serial ports
                  (or those QUORVID_COM1..QUORVID_COM8 name)
  -h, --help      this text

If any of QUORVID_COM1..QUORVID_COM8 is set, the program uses those devices
and no simulated board is started.

Every other option goes to the simulated board, for instance
  ./run.sh --drop 0.01       lose 1 byte in 100 on the line
  ./run.sh --no-sensor 2     channel 2 reports "No Sensor !!!"
  ./run.sh --seed 7          other beat-to-beat variation
  ./run.sh --verbose         log every command the board hears
(build-release/sim/quorvid-board --help lists them all.)

Without a display (no DISPLAY or WAYLAND_DISPLAY, QT_QPA_PLATFORM not set)
it starts the terminal monitor, quorvid-monitor, instead of the window: the
same board, the same port options, its readouts as lines in the terminal
until Ctrl-C. To see the window there, run it under a virtual X server:
  xvfb-run -a ./run.sh
EOF
}

fail() {
  echo "run.sh: $*" >&2
  exit 2
}

port=""
no_board=false
board_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) usage; exit 0 ;;
    --port) if [ $# -lt 2 ] || [ -z "$2" ]; then fail "--port wants a device, e.g. --port /dev/ttyUSB0"; fi
            port=$2; shift 2 ;;
    --port=*) port=${1#--port=}; [ -n "$port" ] || fail "--port wants a device"; shift ;;
    --no-board) no_board=true; shift ;;
    --link|--link=*) fail "the simulated board's link is run.sh's own; --link is not needed" ;;
    *) board_args+=("$1"); shift ;;
  esac
done

named_ports=false
for n in 1 2 3 4 5 6 7 8; do
  var="QUORVID_COM$n"
  [ -n "${!var:-}" ] && named_ports=true
done

simulate=true
if [ -n "$port" ] || $no_board || $named_ports; then simulate=false; fi
if ! $simulate && [ ${#board_args[@]} -gt 0 ]; then
  fail "${board_args[*]}: options of the simulated board, but a real board is in use (see --help)"
fi

# No display: the terminal monitor shows the board instead of the window.
headless=false
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  headless=true
fi

# shellcheck source=scripts/deps.sh
source scripts/deps.sh
quorvid_install_missing

# The Release tree the tests and the package share (scripts/release-tree.sh).
# Ninja re-runs CMake by itself when a CMakeLists.txt changes; configuring
# every time would only cost the user a second or two.
# shellcheck source=scripts/release-tree.sh
source scripts/release-tree.sh
quorvid_configure_release >/dev/null
# Without a display the window is not needed, and a first build is quicker
# without it.
if $headless; then
  quorvid_build_release quorvid-board quorvid-monitor
else
  quorvid_build_release quorvid quorvid-board quorvid-monitor
fi

program=./build-release/ui/quorvid
board=./build-release/sim/quorvid-board
monitor=./build-release/monitor/quorvid-monitor

if $headless && ! $simulate; then
  if [ -n "$port" ]; then exec "$monitor" --port "$port"; fi
  exec "$monitor"
fi

if ! $simulate; then
  if [ -n "$port" ]; then
    exec "$program" --port "$port"
  fi
  exec "$program"
fi

board_pid=""
program_pid=""
workdir=""

# Asks a process to end, and makes sure it has after a few seconds.
stop() {
  local pid=$1
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 30); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

cleanup() {
  trap - EXIT INT TERM HUP
  [ -n "$program_pid" ] && stop "$program_pid"
  [ -n "$board_pid" ] && stop "$board_pid"
  [ -n "$workdir" ] && rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

workdir=$(mktemp -d "${TMPDIR:-/tmp}/quorvid.XXXXXX")
link="$workdir/board"
"$board" --link "$link" "${board_args[@]}" >"$workdir/board.out" &
board_pid=$!

# The board makes the link before it serves; a board that refuses its options
# ends at once with its reason on standard error.
for _ in $(seq 100); do
  [ -L "$link" ] && break
  if ! kill -0 "$board_pid" 2>/dev/null; then
    status=0
    wait "$board_pid" || status=$?
    board_pid=""
    echo "run.sh: the simulated board did not start (exit status $status)" >&2
    exit 1
  fi
  sleep 0.05
done
[ -L "$link" ] || { echo "run.sh: the simulated board made no line within 5 seconds" >&2; exit 1; }
if $headless; then
  cat >&2 <<EOF
run.sh: there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so
this is the terminal monitor, quorvid-monitor, on the simulated board
($(cat "$workdir/board.out")): a line per values frame and status change, link
figures every 10 s; type a command (Z3, I, S2, ...) and Enter to send it;
Ctrl-C ends both. To see the window, log in to a desktop session, or run it
under a virtual X server: xvfb-run -a ./run.sh
EOF
  # Standard input stays the terminal's, for typed commands; in the
  # background, so that a signal to this script is handled at once.
  "$monitor" --port "$link" <&0 &
  program_pid=$!
  status=0
  wait "$program_pid" || status=$?
  program_pid=""
  exit "$status"
fi
echo "Simulated board on $(cat "$workdir/board.out") (COM1); close the window to end both."

# In the background, so that a signal to this script is handled at once
# rather than after the window closes.
"$program" --port "$link" &
program_pid=$!
status=0
wait "$program_pid" || status=$?
program_pid=""
exit "$status"
