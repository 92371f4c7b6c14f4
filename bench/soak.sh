#!/usr/bin/env bash
# Soak: ten minutes of random operator input through the X server on the sanitizer build of the
# program, its output open to an Art-Net listener on loopback. Reports the frames received, any
# missing sequence number, resident memory after the first minute and at the end, and any
# sanitizer report on the program's stderr.
#   bench/soak.sh [BUILD_DIR]    default build-asan, as scripts/hardening configures it; a normal
#                                build directory soaks that program instead, for comparison
# SOAK_SECONDS (default 600) and SOAK_SEED (default 1) vary the run. Needs Xvfb, xdotool, python3.
# Not a test: it takes ten minutes, and its figures go to BENCHMARKS.md.
set -euo pipefail
brivane_root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$brivane_root/build-asan}
seconds=${SOAK_SECONDS:-600}
seed=${SOAK_SEED:-1}

if [[ -z ${BRIVANE_SOAK_DISPLAY:-} ]]; then
    if [[ ! -f $build/CMakeCache.txt ]]; then
        sanitizers=-fsanitize=address,undefined
        cmake -S "$brivane_root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRIVANE_BENCH=OFF \
            "-DCMAKE_CXX_FLAGS=-O1 $sanitizers -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
            "-DCMAKE_EXE_LINKER_FLAGS=$sanitizers" "-DCMAKE_SHARED_LINKER_FLAGS=$sanitizers" >/dev/null
    fi
    cmake --build "$build" --target brivane
    BRIVANE_SOAK_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" "$0" "$build"
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# The listener: one line per ArtDmx datagram, "arrival-seconds sequence".
python3 -u - "$work" <<'EOF' &
import socket, sys, time
work = sys.argv[1]
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
sock.bind(("127.0.0.1", 0))
open(work + "/port.tmp", "w").write(str(sock.getsockname()[1]))
__import__("os").rename(work + "/port.tmp", work + "/port")
with open(work + "/frames", "w", buffering=1) as out:
    while True:
        data = sock.recv(2048)
        if len(data) == 530 and data[:8] == b"Art-Net\0" and data[8:10] == b"\x00\x50":
            out.write(f"{time.monotonic():.6f} {data[12]}\n")
EOF
pids+=($!)
until [[ -s $work/port ]]; do sleep 0.1; done

# A small quarantine: the default 256 MiB of freed blocks held back would fill over the run and
# read as growth. The statistics at exit show what the sanitizer keeps for itself (StackDepot: one
# record per distinct allocation stack, which grows as the input reaches new paths).
ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=4:atexit=1:print_stats=1:${SOAK_ASAN_OPTIONS:-} \
    LSAN_OPTIONS=suppressions=$brivane_root/fuzz/third_party_leaks.supp:print_suppressions=0 \
    UBSAN_OPTIONS=print_stacktrace=1 DASHARD_OUTPUT="artnet:127.0.0.1:$(cat "$work/port")" \
    "$build/app/brivane" 2>"$work/stderr" &
program=$!
pids+=($program)
window=
for ((i = 0; i < 200 && ${#window} == 0; i++)); do
    sleep 0.1
    window=$(xdotool search --onlyvisible --name '^Brivane$' 2>/dev/null | head -1 || true)
done
[[ -n $window ]] || { echo "soak: no window appeared" >&2; cat "$work/stderr" >&2; exit 1; }
xdotool mousemove --window "$window" 42 20 click 1 # the toggle: open the output
until [[ -s $work/frames ]]; do sleep 0.05; done

rss() { awk '/^VmRSS/ { print $2 }' "/proc/$program/status"; }
# Random numbers without subshells, so that a seed replays the same run.
pick() { r=$((RANDOM % $1)); }
keyNames=(Up Down Prior Next Home End)
randomKeys() {
    keys=()
    pick 4
    for ((i = 0; i <= r; i++)); do
        pick 6
        keys+=("${keyNames[r]}")
    done
}
xdo() { xdotool "$@" 2>/dev/null || true; }

# Random input anywhere but the toggle, for the whole window. Clear adds one frame each time.
RANDOM=$seed
clears=0 operations=0 rss_minute= minutes=()
start=$SECONDS
while ((SECONDS - start < seconds - 1)) && kill -0 "$program" 2>/dev/null; do
    if ((SECONDS - start >= 60 * (${#minutes[@]} + 1))); then minutes+=("$(rss)"); fi
    pick 16
    x=$((96 + 32 * r + 12))
    pick 232
    y=$((152 + r))
    pick 232
    to=$((152 + r))
    randomKeys
    pick 20
    case $r in
    0 | 1 | 2 | 3 | 4) # drag a fader in steps
        xdo mousemove --window "$window" $x $y mousedown 1 \
            mousemove --window "$window" $x $(((y + to) / 2)) mousemove --window "$window" $x $to \
            mouseup 1 ;;
    5 | 6 | 7 | 8 | 9 | 10) # click a fader, then keys
        xdo mousemove --window "$window" $x $y click 1 key --delay 10 "${keys[@]}" ;;
    11 | 12) # keys on the fader in focus, after a Tab
        xdo key --delay 10 Tab "${keys[@]}" ;;
    13) # ... or a Tab backwards
        xdo key --delay 10 shift+Tab "${keys[@]}" ;;
    14 | 15 | 16) # a page button
        pick 32
        xdo mousemove --window "$window" $((152 + 56 * (r % 8) + 28)) $((8 + 24 * (r / 8) + 8)) click 1 ;;
    17) # the 0-100 fader
        xdo mousemove --window "$window" 48 $y mousedown 1 mousemove --window "$window" 48 $to mouseup 1 ;;
    18)
        xdo mousemove --window "$window" 120 68 click 1
        clears=$((clears + 1)) ;;
    19)
        sleep 0.2 ;;
    esac
    operations=$((operations + 1))
done
kill -0 "$program" 2>/dev/null || { echo "soak: the program ended during the run" >&2; cat "$work/stderr" >&2; exit 1; }
sleep 1.5 # the last frames of the window arrive
rss_end=$(rss)
rss_minute=${minutes[0]:-$rss_end}
# Ends the program as a lost X connection does, through exit(), so LeakSanitizer runs.
xdotool windowkill "$window" 2>/dev/null || true
wait "$program" 2>/dev/null || true
sleep 0.5

# Frames that arrived within the window from the first one, and sequence numbers skipped
# (they run 1-255, then 1 again).
read -r frames missing < <(python3 - "$work/frames" "$seconds" <<'EOF'
import sys
rows = [line.split() for line in open(sys.argv[1])]
t0 = float(rows[0][0])
seq = [int(s) for t, s in rows if float(t) - t0 < float(sys.argv[2])]
print(len(seq), sum((b - a - 1) % 255 for a, b in zip(seq, seq[1:])))
EOF
)
ticks=$((frames - clears))
growth=$((rss_end - rss_minute))
reports=$(grep -cE 'ERROR: (Address|Leak)Sanitizer|runtime error:|SUMMARY: [A-Za-z]+Sanitizer' \
    "$work/stderr" || true)
verdict() { if eval "$1"; then echo ok; else echo "NOT MET"; fi; }
echo "seed $seed, $seconds s, $operations operations, $clears Clear clicks"
echo "frames: $frames, of them $ticks from the timer (expected $((seconds * 10)) +- 2):" \
    "$(verdict '((ticks >= seconds * 10 - 2 && ticks <= seconds * 10 + 2))')"
echo "sequence numbers missing: $missing: $(verdict '((missing == 0))')"
echo "resident memory: $rss_minute KiB after the first minute, $rss_end KiB at the end, growth" \
    "$growth KiB: $(verdict '((growth < 1024))'); by minute: ${minutes[*]} KiB"
echo "sanitizer reports on stderr: $reports: $(verdict '((reports == 0))')"
grep -E '^Stats: StackDepot' "$work/stderr" || true
if ((reports > 0)); then cat "$work/stderr"; fi
