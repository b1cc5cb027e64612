# Shared by bench/load.sh and bench/soak.sh (sourced, not run): a Release
# build, a private X server, the simulated board and the real program, and
# the clean-up of everything they started. Every process started here is
# recorded by its id and ended by that id when the script exits.

QV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QV_BUILD=${QV_BUILD:-$QV_ROOT/build-bench}
QV_PIDS=()
QV_TMP=$(mktemp -d "${TMPDIR:-/tmp}/quorvid-bench.XXXXXX")
# Runs measured here are stored in a results store of their own, not in the
# default one of whoever runs the benchmark.
export XDG_DATA_HOME=$QV_TMP/data
QV_KEEP_TMP=${QV_KEEP_TMP:-0}

qv_say() { printf '%s\n' "$*" >&2; }
qv_die() { qv_say "${0##*/}: $*"; exit 2; }

qv_cleanup() {
  local i pid
  for ((i = ${#QV_PIDS[@]} - 1; i >= 0; i--)); do
    pid=${QV_PIDS[i]}
    kill -0 "$pid" 2>/dev/null || continue
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ "$QV_KEEP_TMP" = 1 ]; then qv_say "logs kept in $QV_TMP"; else rm -rf "$QV_TMP"; fi
}
trap qv_cleanup EXIT
trap 'exit 130' INT TERM HUP

# Ends one process started here, politely first.
qv_stop() {
  local pid=$1
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# What the scripts need beyond the build: the X server, xdotool, python3.
qv_install() {
  # shellcheck source=../scripts/deps.sh
  source "$QV_ROOT/scripts/deps.sh"
  quorvid_install_missing
}

# Configures a Release build once, then brings the two programs up to date.
qv_build() {
  if [ ! -f "$QV_BUILD/CMakeCache.txt" ]; then
    cmake -S "$QV_ROOT" -B "$QV_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DQUORVID_BUILD_TESTS=OFF >/dev/null
  fi
  cmake --build "$QV_BUILD" --target quorvid quorvid-board quorvid-monitor -j "${QV_JOBS:-2}" >/dev/null \
    || qv_die "the build in $QV_BUILD failed"
  QV_PROGRAM=$QV_BUILD/ui/quorvid
  QV_BOARD=$QV_BUILD/sim/quorvid-board
  QV_MONITOR=$QV_BUILD/monitor/quorvid-monitor
  [ -x "$QV_PROGRAM" ] && [ -x "$QV_BOARD" ] && [ -x "$QV_MONITOR" ] \
    || qv_die "no quorvid, quorvid-board or quorvid-monitor in $QV_BUILD"
}

# Waits until a file holds a line matching a pattern; false after the timeout.
qv_wait_for_line() {
  local file=$1 pattern=$2 seconds=${3:-10}
  for _ in $(seq $((seconds * 20))); do
    grep -q -- "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# A private X server on the first free display (Xvfb picks it itself).
qv_start_x() {
  local fifo=$QV_TMP/display
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
    3>"$fifo" >"$QV_TMP/xvfb.log" 2>&1 &
  QV_XVFB=$!
  QV_PIDS+=("$QV_XVFB")
  for _ in $(seq 200); do [ -s "$fifo" ] && break; sleep 0.05; done
  [ -s "$fifo" ] || qv_die "Xvfb did not start (see $QV_TMP/xvfb.log)"
  export DISPLAY=":$(head -n1 "$fifo")"
  export QT_QPA_PLATFORM=xcb
  unset WAYLAND_DISPLAY
  if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR=$QV_TMP/runtime
    mkdir -m 700 -p "$XDG_RUNTIME_DIR"
  fi
}

# The simulated board on a pseudo-terminal behind $QV_TMP/board; extra
# arguments go to it. Commands heard are logged to $QV_TMP/board.log.
qv_start_board() {
  QV_LINK=$QV_TMP/board
  "$QV_BOARD" --link "$QV_LINK" --verbose "$@" >"$QV_TMP/board.out" 2>"$QV_TMP/board.log" &
  QV_BOARD_PID=$!
  QV_PIDS+=("$QV_BOARD_PID")
  qv_wait_for_line "$QV_TMP/board.out" . 10 || qv_die "quorvid-board did not start"
}

# A pseudo-terminal held open that nobody ever writes to; its path in
# QV_SILENT_PTY.
qv_start_silent_pty() {
  python3 -c 'import os, signal, sys
master, slave = os.openpty()
print(os.ttyname(slave), flush=True)
signal.pause()' >"$QV_TMP/silent.out" &
  QV_SILENT_PID=$!
  QV_PIDS+=("$QV_SILENT_PID")
  qv_wait_for_line "$QV_TMP/silent.out" . 10 || qv_die "no pseudo-terminal"
  QV_SILENT_PTY=$(head -n1 "$QV_TMP/silent.out")
}

# Starts the program with COM1 on the given device (--port); stderr to the
# given log; QUORVID_TRACE to the given file (empty: no trace); any further
# arguments go to the program. Sets QV_APP_PID and QV_APP_START (ns since the
# epoch, just before the start).
qv_start_program() {
  local device=$1 log=$2 trace=${3:-}
  shift $(($# < 3 ? $# : 3))
  QV_APP_START=$(date +%s%N)
  if [ -n "$trace" ]; then
    QUORVID_TRACE=$trace "$QV_PROGRAM" --port "$device" "$@" 2>"$log" &
  else
    "$QV_PROGRAM" --port "$device" "$@" 2>"$log" &
  fi
  QV_APP_PID=$!
  QV_PIDS+=("$QV_APP_PID")
}

# The main window's X id (the window named "Quorvid", or "Quorvid - recording
# NAME.csv" while it records).
qv_window() {
  timeout 10 xdotool search --sync --onlyvisible --name '^Quorvid( - recording .*)?$' 2>/dev/null | head -n1
}

# One click on Set Speed. The button's centre is at (552, 392) in the
# client area below the menu bar; without a window manager the X window is
# exactly the menu bar and the 675 x 487 client area.
qv_click_set_speed() {
  local win=$1 height menubar
  height=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')
  menubar=$((height - 487))
  [ "$menubar" -ge 0 ] || qv_die "unexpected window height $height"
  xdotool mousemove --window "$win" 552 $((menubar + 392)) click 1
}

# The commands the board has heard, run together (a command may come in
# pieces).
qv_heard() {
  sed -n 's/^quorvid-board: heard "\(.*\)"$/\1/p' "$QV_TMP/board.log" | tr -d '\n'
}

# One click on Set Speed of a program just started (its start-up put the
# board to speed 100), then waits until the board has heard "S2"; ends the
# script when it does not. WHAT names the program in that message.
qv_set_speed_150() {
  local win=$1 what=${2:-} before all
  before=$(qv_heard)
  qv_click_set_speed "$win"
  for _ in $(seq 60); do
    all=$(qv_heard)
    [[ ${all:${#before}} == *S2* ]] && return 0
    sleep 0.05
  done
  qv_die "the board never heard S2 after the click${what:+ ($what)}"
}

# Clock ticks of user and system time of a process.
qv_cpu_ticks() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  # Fields after the command name, which ends with the last ')'.
  set -- ${stat##*) }
  echo $((${12} + ${13}))
}

# A field of /proc/PID/status in kB (VmRSS, VmHWM).
qv_status_kb() {
  awk -v f="$2:" '$1 == f { print $2 }' "/proc/$1/status" 2>/dev/null
}

qv_alive() { kill -0 "$1" 2>/dev/null; }

# Bytes the board has written so far (its frames and its log).
qv_board_written() {
  awk '$1 == "wchar:" { print $2 }' "/proc/$QV_BOARD_PID/io"
}

# Runs a command with its output to two files; prints "<exit status> <wall s>
# <cpu s>". Run it in a subshell of its own (as in < <(...)): the CPU is that
# of the subshell's children, the command alone.
qv_measure() {
  local out=$1 err=$2 start end status=0
  shift 2
  start=$(date +%s.%N)
  "$@" >"$out" 2>"$err" || status=$?
  end=$(date +%s.%N)
  local cpu file=$QV_TMP/times.$BASHPID
  # The second line of `times`: the children's user and system time. Into a
  # file, since a pipe or $(...) would run it in a subshell of its own, whose
  # children are none.
  times >"$file"
  cpu=$(sed -n 2p "$file" | awk '{ gsub(/[ms]/, " "); print $1 * 60 + $2 + $3 * 60 + $4 }')
  echo "$status $(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $cpu"
}

# Date and machine, for the records.
qv_machine() {
  local cpu mem
  cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
  mem=$(awk '$1 == "MemTotal:" { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
  printf '%s, %s CPUs (%s), %s RAM, %s' "$(date '+%Y-%m-%d %H:%M %Z')" "$(nproc)" "$cpu" "$mem" \
    "$(uname -sr)"
}
