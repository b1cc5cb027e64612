#!/usr/bin/env bash
# Whole-program figures: the real program under its own X server (Xvfb), fed
# by the simulated board at speed 150. Prints one table:
#
#   CPU of quorvid while streaming (30 s), with the X server's share beside it
#   the same with recording on (quorvid --record), in the same run
#   CPU of quorvid idle with its port open and no data (30 s)
#   peak resident memory (VmHWM)
#   start to first window (median of 7 launches)
#   values frame complete on the line -> its figures painted (median, p95)
#   quorvid-monitor at speed 150: CPU with --format text and with --format csv
#   --waveform > /dev/null (30 s each), peak resident memory, start to its
#   first values line (median of 5 launches)
#
# Usage: bench/load.sh            (about 190 s after the build)
# Builds Release into build-bench/ if needed (QV_BUILD=dir to use another);
# QV_KEEP_TMP=1 keeps the logs and traces. Exits 0 when it measured, even if a
# target is missed (the table says so); 2 when it could not measure.
#
# How each figure is taken:
# - CPU: utime + stime from /proc/PID/stat over the window, as % of one core.
# - Start-up: the shell's clock just before the program is started, to the
#   program's own stamp of its first paint (QUORVID_TRACE, see ui/trace.h);
#   both are the system clock. Without a window manager the window is mapped
#   as it is shown, and the first paint follows its first expose.
# - Values latency: quorvid-board --trace stamps "values-complete" as it
#   writes the byte that completes a values frame (the next frame's header);
#   the program stamps "values-painted" once the readouts shown for a values
#   frame have been painted and flushed. Each painted stamp belongs to the
#   latest values-complete before it: the framer keeps only the newest frame
#   of a kind, so a frame replaced before a tick took it is never shown and
#   is counted as replaced, not timed. With nothing replaced this is the k-th
#   complete against the k-th painted.
# - quorvid-monitor: on the same board after the window has gone; it sets the
#   board up as the window does and is given --send S2 for speed 150. CPU
#   and VmHWM as above, after 2 s to settle. Start to first values line: the
#   shell's clock just before the start to the local time printed on the
#   first values line, as a user would see it: the wait for the end of a
#   beat (values come once a beat, about 0.8 s) is part of it, unless a values
#   frame the board sent in the last two seconds still waits in the line (the
#   board drops what nobody reads only after about two seconds).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

STREAM_SECONDS=${STREAM_SECONDS:-30}
IDLE_SECONDS=${IDLE_SECONDS:-30}
MONITOR_SECONDS=${MONITOR_SECONDS:-30}
LAUNCHES=${LAUNCHES:-7}
MONITOR_LAUNCHES=${MONITOR_LAUNCHES:-5}
MIN_FRAMES=30

qv_install
qv_build
command -v xdotool >/dev/null || qv_die "xdotool is missing"
CLK_TCK=$(getconf CLK_TCK)
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)

qv_start_x
qv_start_board --trace "$QV_TMP/board.trace"
qv_say "X server on $DISPLAY, board on $QV_LINK"

# --- start to first window ---------------------------------------------------
startups=()
for i in $(seq "$LAUNCHES"); do
  trace=$QV_TMP/start$i.trace
  qv_start_program "$QV_LINK" "$QV_TMP/start$i.log" "$trace"
  qv_wait_for_line "$trace" window-exposed 20 || qv_die "launch $i: no window (see $QV_TMP/start$i.log)"
  exposed=$(awk '$2 == "window-exposed" { print $1; exit }' "$trace")
  startups+=($(((exposed - QV_APP_START) / 1000)))  # microseconds
  qv_stop "$QV_APP_PID"
done
qv_say "start-up (us): ${startups[*]}"

# --- streaming at speed 150 --------------------------------------------------
app_trace=$QV_TMP/stream.trace
qv_start_program "$QV_LINK" "$QV_TMP/stream.log" "$app_trace"
qv_wait_for_line "$app_trace" window-exposed 20 || qv_die "no window (see $QV_TMP/stream.log)"
STREAM_PID=$QV_APP_PID
win=$(qv_window)
[ -n "$win" ] || qv_die "no window named Quorvid"
sleep 2

# The board's output rate before and after the click tells that the speed rose.
rate() {
  local a b
  a=$(qv_board_written); sleep 3; b=$(qv_board_written)
  echo $(((b - a) / 3))
}
rate_before=$(rate)
qv_set_speed_150 "$win"
T0=$(date +%s%N)
sleep 1
rate_after=$(rate)
qv_say "board output: $rate_before bytes/s before the click, $rate_after after"
[ "$rate_after" -gt $((rate_before * 5 / 4)) ] || qv_die "the board's rate did not rise ($rate_before -> $rate_after bytes/s)"

app0=$(qv_cpu_ticks "$STREAM_PID"); x0=$(qv_cpu_ticks "$QV_XVFB"); t0=$(date +%s%N)
sleep "$STREAM_SECONDS"
app1=$(qv_cpu_ticks "$STREAM_PID") || qv_die "quorvid died while streaming (see $QV_TMP/stream.log)"
x1=$(qv_cpu_ticks "$QV_XVFB"); t1=$(date +%s%N)

# Enough values frames for a 95th percentile; a beat is under a second.
count_painted() { awk -v t0="$T0" '$2 == "values-painted" && $1 >= t0' "$app_trace" | wc -l; }
for _ in $(seq 40); do [ "$(count_painted)" -ge $((MIN_FRAMES + 2)) ] && break; sleep 1; done
T1=$(date +%s%N)
hwm_stream=$(qv_status_kb "$STREAM_PID" VmHWM)
qv_alive "$STREAM_PID" || qv_die "quorvid died while streaming"
qv_stop "$STREAM_PID"

# --- streaming at speed 150, recording on ------------------------------------
# A program of its own, started as the one before: Form_Load puts the board
# back to speed 100, so Set Speed is clicked again.
rec_trace=$QV_TMP/record.trace
qv_start_program "$QV_LINK" "$QV_TMP/record.log" "$rec_trace" --record "$QV_TMP/load.csv"
REC_PID=$QV_APP_PID
qv_wait_for_line "$rec_trace" window-exposed 20 || qv_die "no recording window (see $QV_TMP/record.log)"
win=$(qv_window)
[ -n "$win" ] || qv_die "no window named Quorvid - recording load.csv"
sleep 2
qv_set_speed_150 "$win" recording
sleep 2
rec0=$(qv_cpu_ticks "$REC_PID"); rx0=$(qv_cpu_ticks "$QV_XVFB"); rt0=$(date +%s%N)
sleep "$STREAM_SECONDS"
rec1=$(qv_cpu_ticks "$REC_PID") || qv_die "quorvid died while recording (see $QV_TMP/record.log)"
rx1=$(qv_cpu_ticks "$QV_XVFB"); rt1=$(date +%s%N)
hwm_record=$(qv_status_kb "$REC_PID" VmHWM)
qv_stop "$REC_PID"
record_sizes="$(stat -c %s "$QV_TMP/load.csv") bytes of CSV, $(stat -c %s "$QV_TMP/load.bytes") bytes of .bytes"

# --- idle: port open, no data ------------------------------------------------
qv_start_silent_pty
idle_trace=$QV_TMP/idle.trace
qv_start_program "$QV_SILENT_PTY" "$QV_TMP/idle.log" "$idle_trace"
IDLE_PID=$QV_APP_PID
qv_wait_for_line "$idle_trace" window-exposed 20 || qv_die "no idle window (see $QV_TMP/idle.log)"
sleep 3
ls -l "/proc/$IDLE_PID/fd" 2>/dev/null | grep -q -- "-> $QV_SILENT_PTY\$" \
  || qv_die "the idle program does not hold $QV_SILENT_PTY open"
idle0=$(qv_cpu_ticks "$IDLE_PID"); ix0=$(qv_cpu_ticks "$QV_XVFB"); it0=$(date +%s%N)
sleep "$IDLE_SECONDS"
idle1=$(qv_cpu_ticks "$IDLE_PID") || qv_die "quorvid died while idle"
ix1=$(qv_cpu_ticks "$QV_XVFB"); it1=$(date +%s%N)
hwm_idle=$(qv_status_kb "$IDLE_PID" VmHWM)
qv_stop "$IDLE_PID"

# --- the terminal monitor at speed 150 -----------------------------------------
monitor_starts=()
for i in $(seq "$MONITOR_LAUNCHES"); do
  out=$QV_TMP/monitor-start$i.out
  t_start=$(date +%s%N)
  "$QV_MONITOR" --port "$QV_LINK" >"$out" 2>>"$QV_TMP/monitor.log" &
  mon_pid=$!
  QV_PIDS+=("$mon_pid")
  qv_wait_for_line "$out" '  ch1 ' 20 || qv_die "monitor launch $i: no values line (see $QV_TMP/monitor.log)"
  qv_stop "$mon_pid"
  # The line's local time of day, on the day the launch began.
  first=$(grep -m1 '  ch1 ' "$out" | cut -c1-12)
  t_first=$(date -d "$(date -d "@$((t_start / 1000000000))" +%F) $first" +%s%N)
  monitor_starts+=($(((t_first - t_start) / 1000)))  # microseconds
done
qv_say "monitor start to first values line (us): ${monitor_starts[*]}"

# Runs the monitor at speed 150 with the given output file and options;
# sets MON_CPU0/1, MON_T0/1 (ticks, ns) and MON_HWM (kB).
monitor_load() {
  local out=$1
  shift
  "$QV_MONITOR" --port "$QV_LINK" --send S2 "$@" >"$out" 2>>"$QV_TMP/monitor.log" &
  local pid=$!
  QV_PIDS+=("$pid")
  sleep 2
  MON_CPU0=$(qv_cpu_ticks "$pid") || qv_die "quorvid-monitor $* died (see $QV_TMP/monitor.log)"
  MON_T0=$(date +%s%N)
  sleep "$MONITOR_SECONDS"
  MON_CPU1=$(qv_cpu_ticks "$pid") || qv_die "quorvid-monitor $* died (see $QV_TMP/monitor.log)"
  MON_T1=$(date +%s%N)
  MON_HWM=$(qv_status_kb "$pid" VmHWM)
  qv_stop "$pid"
}
monitor_load "$QV_TMP/monitor-text.out" --format text
mt0=$MON_CPU0 mt1=$MON_CPU1 mtt0=$MON_T0 mtt1=$MON_T1 hwm_mon_text=$MON_HWM
# The last link line gives the waveform rate over the run: speed 150 reached?
mon_rate=$(grep '  link  ' "$QV_TMP/monitor-text.out" | tail -n1 | sed -E 's/.* ([0-9]+) waveform\/s.*/\1/')
[ "${mon_rate:-0}" -ge 130 ] || qv_die "quorvid-monitor saw ${mon_rate:-no} waveform frames a second, not 150"
monitor_load /dev/null --format csv --waveform
mc0=$MON_CPU0 mc1=$MON_CPU1 mct0=$MON_T0 mct1=$MON_T1 hwm_mon_csv=$MON_HWM

warnings=$(cat "$QV_TMP"/start*.log "$QV_TMP/stream.log" "$QV_TMP/record.log" "$QV_TMP/idle.log" "$QV_TMP/monitor.log" \
  | sort | uniq -c | sed 's/^ */  /')

# --- the table ---------------------------------------------------------------
python3 - "$QV_TMP/board.trace" "$app_trace" "$T0" "$T1" <<EOF
import math, statistics, sys

board, app, t0, t1 = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
def stamps(path, event):
    with open(path) as f:
        return sorted(int(a) for a, b in (l.split() for l in f if l.strip()) if b == event)
complete = [c for c in stamps(board, "values-complete") if t0 <= c <= t1]
painted = [p for p in stamps(app, "values-painted") if t0 <= p]
delays, replaced, i = [], 0, 0
for p in painted:
    # The latest complete frame before this paint; older unmatched ones were
    # replaced in the slot before a tick took them.
    j = i
    while j < len(complete) and complete[j] <= p:
        j += 1
    if j == i:
        continue  # a paint for a frame completed before the window opened
    replaced += j - i - 1
    delays.append((p - complete[j - 1]) / 1e6)
    i = j
unpainted = len(complete) - i  # completed too late to be painted in the window

def cpu(a, b, ta, tb):
    return 100.0 * (b - a) / $CLK_TCK / ((tb - ta) / 1e9)
stream, xstream = cpu($app0, $app1, $t0, $t1), cpu($x0, $x1, $t0, $t1)
idle, xidle = cpu($idle0, $idle1, $it0, $it1), cpu($ix0, $ix1, $it0, $it1)
rec, xrec = cpu($rec0, $rec1, $rt0, $rt1), cpu($rx0, $rx1, $rt0, $rt1)
hwm = max($hwm_stream, $hwm_idle, $hwm_record) / 1024.0
starts = sorted(v / 1000.0 for v in [${startups[*]/%/,}])
start = statistics.median(starts)

rows = []
def row(name, value, unit, xserver, target, ok):
    rows.append((name, f"{value:.2f} {unit}" if unit != "ms" else f"{value:.1f} ms",
                 xserver, target, "" if not target else "met" if ok else "MISSED"))
row(f"CPU streaming at speed 150 ({$STREAM_SECONDS} s)", stream, "%", f"{xstream:.2f} %", "<= 3 %", stream <= 3)
row(f"CPU streaming, recording on ({$STREAM_SECONDS} s)", rec, "%", f"{xrec:.2f} %",
    f"<= 3 %, <= +0.3 ({rec - stream:+.2f})", rec <= 3 and rec - stream <= 0.3)
row(f"CPU idle, port open, no data ({$IDLE_SECONDS} s)", idle, "%", f"{xidle:.2f} %", "<= 0.5 %", idle <= 0.5)
row("Peak resident memory (VmHWM)", hwm, "MiB", "", "<= 50 MiB", hwm <= 50)
row(f"Start to first window (median of {len(starts)})", start, "ms", "", "<= 250 ms", start <= 250)
mon_text, mon_csv = cpu($mt0, $mt1, $mtt0, $mtt1), cpu($mc0, $mc1, $mct0, $mct1)
mon_hwm = max($hwm_mon_text, $hwm_mon_csv) / 1024.0
mon_starts = sorted(v / 1000.0 for v in [${monitor_starts[*]/%/,}])
mon_start = statistics.median(mon_starts)
if delays:
    delays.sort()
    p95 = delays[max(0, math.ceil(0.95 * len(delays)) - 1)]
    row(f"Values frame to screen, median (n={len(delays)})", statistics.median(delays), "ms", "", "", True)
    row(f"Values frame to screen, 95th percentile", p95, "ms", "", "<= 20 ms", p95 <= 20)
else:
    rows.append(("Values frame to screen", "no frames", "", "<= 20 ms", "MISSED"))
row(f"quorvid-monitor CPU, --format text, speed 150 ({$MONITOR_SECONDS} s)", mon_text, "%", "", "<= 0.5 %",
    mon_text <= 0.5)
row(f"quorvid-monitor CPU, --format csv --waveform > /dev/null ({$MONITOR_SECONDS} s)", mon_csv, "%", "",
    "<= 0.5 %", mon_csv <= 0.5)
row("quorvid-monitor peak resident memory (VmHWM)", mon_hwm, "MiB", "", "<= 12 MiB", mon_hwm <= 12)
row(f"quorvid-monitor start to first values line (median of {len(mon_starts)})", mon_start, "ms", "", "", True)

print()
print("Quorvid load figures: $(qv_machine)")
print("Load average before: $LOAD_BEFORE; after: " + " ".join(open("/proc/loadavg").read().split()[:3]))
print()
head = ("figure", "quorvid", "X server", "target", "")
widths = [max(len(str(r[k])) for r in rows + [head]) for k in range(5)]
fmt = "  ".join(f"{{:{'<' if k == 0 else '>'}{w}}}" for k, w in enumerate(widths))
print(fmt.format(*head))
print(fmt.format(*("-" * w for w in widths)))
for r in rows:
    print(fmt.format(*r))
print()
print(f"start-up launches (ms): {', '.join(f'{s:.0f}' for s in starts)}")
if delays:
    print(f"values delays (ms): min {delays[0]:.2f}, max {delays[-1]:.2f}; "
          f"replaced before a tick: {replaced}; completed after the window: {unpainted}")
print("board output: $rate_before bytes/s at speed 100, $rate_after bytes/s after Set Speed (S2 heard)")
print("recording: $record_sizes after about $((STREAM_SECONDS + 4)) s")
print(f"quorvid-monitor start-up launches (ms): {', '.join(f'{s:.0f}' for s in mon_starts)}; "
      f"waveform frames a second over its text run: $mon_rate")
if len(delays) < $MIN_FRAMES:
    print(f"warning: only {len(delays)} values frames timed (wanted $MIN_FRAMES)")
EOF
if [ -n "$warnings" ]; then
  echo "program stderr:"
  echo "$warnings"
fi
