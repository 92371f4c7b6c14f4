#!/usr/bin/env bash
# Desktop benchmark: the console beside its floor (a bare Qt window with the same seventeen scroll
# bars and 100 ms timer, sending nothing) on a private Xvfb, in one bounded run: start-up to
# mapped window, resident memory, idle CPU, the Art-Net send period and fader-to-wire latency.
#
#   bench/desktop_bench.sh [BUILD_DIR]      (default BUILD_DIR: build-bench in the repository)
#
# Figures go to stdout and to BUILD_DIR/desktop-bench/results.md. Frames go only to 127.0.0.1.
set -euo pipefail
export LC_ALL=C.UTF-8 # a decimal point in $EPOCHREALTIME and the figures; UTF-8 for Qt

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
[[ $build = /* ]] || build=$PWD/$build

readonly kStarts=11    # measured starts of each program, after one unmeasured warm-up start each
readonly kFrames=620   # send intervals for the period
readonly kMoves=40     # key presses for the latency
readonly kSettle=10    # seconds from start to the memory reading and the start of the CPU window
readonly kIdle=30      # seconds of the CPU window

say() { printf '%s\n' "$*" >&2; }
die() {
    say "desktop_bench: $*"
    exit 1
}
for tool in Xvfb xdotool cmake ninja awk; do
    command -v "$tool" >/dev/null || die "$tool is missing (Debian: xvfb, xdotool, cmake, ninja-build)"
done

# Build what the run needs.
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRIVANE_BENCH=ON >/dev/null ||
        die "configuring $build failed"
fi
cmake --build "$build" -j2 --target brivane brivane_floor desktop_probe >"$build/desktop-bench-build.log" 2>&1 ||
    die "the build failed; see $build/desktop-bench-build.log"
console=$build/app/brivane
floor=$build/bench/brivane_floor
probe=$build/bench/desktop_probe

run_started=$EPOCHREALTIME
work=$(mktemp -d /tmp/brivane-desktop-bench.XXXXXX)
results=$build/desktop-bench
mkdir -p "$results"

# Everything started here is ended here, by its PID, however the run ends.
pids=()
# shellcheck disable=SC2317 # reached through the trap
cleanup() {
    local pid i
    for ((i = ${#pids[@]} - 1; i >= 0; --i)); do
        pid=${pids[i]}
        if kill -0 "$pid" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP PIPE

# A private X server on a free display; it writes the display number once it accepts clients.
# -noreset: a server that resets as its last client leaves refuses the next one for a moment.
Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || die "Xvfb did not start: $(cat "$work/xvfb.log")"
DISPLAY=:$(cat "$work/display")
export DISPLAY
for _ in $(seq 100); do
    xdotool getmouselocation >/dev/null 2>&1 && break
    sleep 0.1
done
xdotool getmouselocation >/dev/null 2>&1 || die "cannot open $DISPLAY: $(cat "$work/xvfb.log")"
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
# No session bus: neither program should spend its start looking for one.
unset DBUS_SESSION_BUS_ADDRESS

now() { printf '%s' "$EPOCHREALTIME"; }
# In short steps, so that an interrupted run cleans up at once.
sleep_until() { # EPOCH_SECONDS with six decimals
    local target=${1/./} left
    while left=$((target - ${EPOCHREALTIME/./})) && ((left > 0)); do
        ((left > 500000)) && left=500000
        sleep "$(printf '%d.%06d' $((left / 1000000)) $((left % 1000000)))"
    done
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
# utime + stime in clock ticks, from the fields after the command name.
cpu_ticks() {
    local stat
    stat=$(<"/proc/$1/stat")
    stat=${stat##*) }
    read -r -a fields <<<"$stat"
    echo $((fields[11] + fields[12]))
}
# Time on a CPU, and time ready but waiting for one, in nanoseconds summed over the threads
# (finer than the clock ticks above).
cpu_ns() { awk '{ s += $1; w += $2 } END { printf "%d %d\n", s, w }' /proc/"$1"/task/*/schedstat 2>/dev/null || true; }
# Busy, stolen (by the hypervisor) and total jiffies of the whole machine; guest time is already
# inside user time.
machine_jiffies() { awk '/^cpu / { t = 0; for (i = 2; i <= 9; ++i) t += $i; print t - $5 - $6, $9, t }' /proc/stat; }
await_window() { # TITLE -> window id
    timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true
}

model=$(lscpu | awk -F: '/^Model name/ { gsub(/^ +/, "", $2); print $2; exit }')
cores=$(nproc)
clk_tck=$(getconf CLK_TCK)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# 1. Start-up: exec to the window mapped, the two programs taking turns.
say "start-up: $kStarts starts of each program"
"$probe" startup "Brivane floor" "$floor" >/dev/null
DASHARD_OUTPUT=none "$probe" startup Brivane "$console" >/dev/null
: >"$work/start-floor"
: >"$work/start-console"
for _ in $(seq "$kStarts"); do
    "$probe" startup "Brivane floor" "$floor" >>"$work/start-floor"
    DASHARD_OUTPUT=none "$probe" startup Brivane "$console" >>"$work/start-console"
done
start_floor=$(median <"$work/start-floor")
start_console=$(median <"$work/start-console")
start_floor_max=$(sort -g "$work/start-floor" | tail -n 1)
start_console_max=$(sort -g "$work/start-console" | tail -n 1)

# 2. Both programs side by side: memory, idle CPU, and the console's frames on a loopback port.
say "side by side: memory, CPU, $kFrames frames, $kMoves key presses"
"$probe" artnet "$work/port" Brivane "$kFrames" "$kMoves" >"$work/probe.out" 2>"$work/probe.err" &
probe_pid=$!
pids+=("$probe_pid")
for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    sleep 0.1
done
[ -s "$work/port" ] || die "the probe did not bind a port: $(cat "$work/probe.err")"
port=$(cat "$work/port")

# The floor first: a window that maps takes the keyboard focus, and the console must keep it.
"$floor" 2>"$work/floor.err" &
floor_pid=$!
pids+=("$floor_pid")
floor_started=$(now)
[ -n "$(await_window "Brivane floor")" ] || die "the floor's window did not appear"

DASHARD_OUTPUT=artnet:127.0.0.1:$port "$console" 2>"$work/console.err" &
console_pid=$!
pids+=("$console_pid")
console_started=$(now)
window=$(await_window Brivane)
[ -n "$window" ] || die "the console's window did not appear"
# The interface button pressed in; ScrollBar1 keeps the focus inside the window.
xdotool mousemove --window "$window" 42 20 click 1
xdotool windowfocus --sync "$window"

sleep_until "$(awk -v t="$console_started" -v d="$kSettle" 'BEGIN { printf "%.6f", t + d }')"
rss_floor=$(rss_kb "$floor_pid")
rss_console=$(rss_kb "$console_pid")
ticks_floor_0=$(cpu_ticks "$floor_pid")
ticks_console_0=$(cpu_ticks "$console_pid")
read -r ns_floor_0 wait_floor_0 < <(cpu_ns "$floor_pid")
read -r ns_console_0 wait_console_0 < <(cpu_ns "$console_pid")
read -r busy_0 steal_0 total_0 < <(machine_jiffies)

sleep_until "$(awk -v t="$console_started" -v d=$((kSettle + kIdle)) 'BEGIN { printf "%.6f", t + d }')"
ticks_floor_1=$(cpu_ticks "$floor_pid")
ticks_console_1=$(cpu_ticks "$console_pid")
read -r ns_floor_1 wait_floor_1 < <(cpu_ns "$floor_pid")
read -r ns_console_1 wait_console_1 < <(cpu_ns "$console_pid")
read -r busy_1 steal_1 total_1 < <(machine_jiffies)
load_window=$(cut -d' ' -f1-3 /proc/loadavg)

# The probe finishes the period, then presses the keys; bounded at three minutes.
for _ in $(seq 1800); do
    kill -0 "$probe_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$probe_pid" 2>/dev/null && die "the probe did not finish within three minutes: $(cat "$work/probe.err")"
probe_status=0
wait "$probe_pid" || probe_status=$?
[ "$probe_status" -eq 0 ] || say "desktop_bench: the probe reported a failure ($probe_status): $(cat "$work/probe.err")"
kill -0 "$console_pid" 2>/dev/null || die "the console ended during the run: $(cat "$work/console.err")"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
cp "$work/probe.out" "$results/probe.txt"
cp "$work/start-floor" "$results/start-floor.txt"
cp "$work/start-console" "$results/start-console.txt"

fig() { awk -F= -v k="$1" '$1 == k { print $2 }' "$work/probe.out"; }
cpu_floor_ms=$(((ticks_floor_1 - ticks_floor_0) * 1000 / clk_tck))
cpu_console_ms=$(((ticks_console_1 - ticks_console_0) * 1000 / clk_tck))
ns_floor_ms=$(awk -v a="$ns_floor_0" -v b="$ns_floor_1" 'BEGIN { printf "%.1f", (b - a) / 1e6 }')
ns_console_ms=$(awk -v a="$ns_console_0" -v b="$ns_console_1" 'BEGIN { printf "%.1f", (b - a) / 1e6 }')
machine_busy=$(awk -v b0="$busy_0" -v b1="$busy_1" -v t0="$total_0" -v t1="$total_1" \
    'BEGIN { printf "%.0f", 100 * (b1 - b0) / (t1 - t0) }')
machine_steal=$(awk -v s0="$steal_0" -v s1="$steal_1" -v t0="$total_0" -v t1="$total_1" \
    'BEGIN { printf "%.1f", 100 * (s1 - s0) / (t1 - t0) }')
wait_floor_ms=$(awk -v a="$wait_floor_0" -v b="$wait_floor_1" 'BEGIN { printf "%.1f", (b - a) / 1e6 }')
wait_console_ms=$(awk -v a="$wait_console_0" -v b="$wait_console_1" 'BEGIN { printf "%.1f", (b - a) / 1e6 }')
missed=$(($(fig period_frames_missed_by_sequence) + $(fig period_intervals_over_150ms)))
verdict() { awk -v c="$1" 'BEGIN { print (c ? "met" : "missed") }'; }

elapsed=$(awk -v a="$run_started" -v b="$(now)" 'BEGIN { printf "%.0f", b - a }')
{
    echo "Machine: $model, $cores cores, CLK_TCK $clk_tck; load average $load_before before, $load_window at the end of the CPU window, $load_after after; whole machine ${machine_busy}% busy (${machine_steal}% stolen by the hypervisor) during the CPU window."
    floor_lead=$(awk -v f="$floor_started" -v c="$console_started" 'BEGIN { printf "%.1f", c - f }')
    echo "Run: bench/desktop_bench.sh $build ($elapsed s after the build; Xvfb $DISPLAY 1920x1200x24; side by side, the floor started $floor_lead s before the console and both were read at the same moments)."
    echo
    echo "| Figure | Console | Floor | Ratio | Target | Verdict |"
    echo "|---|---:|---:|---:|---|---|"
    r=$(ratio "$start_console" "$start_floor")
    echo "| Start-up, exec to window mapped, median of $kStarts | $start_console ms | $start_floor ms | $r | ≤ 1.2× floor | $(verdict "$(awk -v r="$r" 'BEGIN { print (r <= 1.2) }')") |"
    echo "| Start-up, slowest of $kStarts | $start_console_max ms | $start_floor_max ms | $(ratio "$start_console_max" "$start_floor_max") | – | – |"
    r=$(ratio "$rss_console" "$rss_floor")
    echo "| VmRSS ${kSettle} s after start | $rss_console kB | $rss_floor kB | $r | ≤ 1.2× floor | $(verdict "$(awk -v r="$r" 'BEGIN { print (r <= 1.2) }')") |"
    r=$(ratio "$cpu_console_ms" "$cpu_floor_ms")
    echo "| CPU in ${kIdle} s idle, utime+stime | $cpu_console_ms ms | $cpu_floor_ms ms | $r | ≤ 1.5× floor | $(verdict "$(awk -v r="$r" 'BEGIN { print (r <= 1.5) }')") |"
    r=$(ratio "$ns_console_ms" "$ns_floor_ms")
    echo "| CPU in ${kIdle} s idle, schedstat (ns clock) | $ns_console_ms ms | $ns_floor_ms ms | $r | ≤ 1.5× floor | $(verdict "$(awk -v r="$r" 'BEGIN { print (r <= 1.5) }')") |"
    echo "| Ready to run but waiting for a CPU, same ${kIdle} s | $wait_console_ms ms | $wait_floor_ms ms | – | – | – |"
    p99=$(fig period_p99_ms)
    echo "| Send period p50 over $(fig period_intervals) intervals | $(fig period_p50_ms) ms | – | – | – | – |"
    echo "| Send period p99 | $p99 ms | – | – | 100 ± 5 ms | $(verdict "$(awk -v p="$p99" 'BEGIN { print (p >= 95 && p <= 105) }')") |"
    echo "| Send period min / max | $(fig period_min_ms) / $(fig period_max_ms) ms | – | – | – | – |"
    echo "| Reference: a bare 100 ms sleeper in the probe, same time: p50 / p99 / min / max | $(fig reference_p50_ms) / $(fig reference_p99_ms) / $(fig reference_min_ms) / $(fig reference_max_ms) ms | – | – | – | – |"
    echo "| Frames missed (sequence gaps $(fig period_frames_missed_by_sequence), intervals > 150 ms $(fig period_intervals_over_150ms)) | $missed | – | – | 0 | $(verdict "$((missed == 0))") |"
    lmax=$(fig latency_from_key_max_ms)
    echo "| Key press to wire, median over $(fig latency_moves) presses | $(fig latency_from_key_p50_ms) ms | – | – | – | – |"
    echo "| Key press to wire, max | $lmax ms | – | – | ≤ 105 ms | $(verdict "$(awk -v l="$lmax" -v n="$(fig latency_lost)" 'BEGIN { print (l <= 105 && n == 0) }')") |"
    echo "| Same, from xdotool's exit: median / max | $(fig latency_from_xdotool_exit_p50_ms) / $(fig latency_from_xdotool_exit_max_ms) ms | – | – | – | – |"
    echo "| Same, from xdotool's spawn: median / max | $(fig latency_from_xdotool_spawn_p50_ms) / $(fig latency_from_xdotool_spawn_max_ms) ms | – | – | – | – |"
    echo "| xdotool's own run, spawn to exit: median / max | $(fig xdotool_run_p50_ms) / $(fig xdotool_run_max_ms) ms | – | – | – | – |"
} | tee "$results/results.md"
exit "$probe_status"
