#!/usr/bin/env bash
# `olad_harness.sh TEST_BINARY` runs OlaNoDaemon.* in a private network namespace, then OlaDaemon.*
# against an olad (Dummy plugin only, patched to universe 1, run as nobody, no HTTP) that the tests
# end and restart with `olad_harness.sh stop|start CFG`. Exits 77 (skipped) without root or tools.
set -u

# True while PID $1 runs; a zombie counts as gone, since olad need not be our child.
alive() { [[ -r /proc/$1/stat && $(cut -d' ' -f3 "/proc/$1/stat") != Z ]]; }

start() {
    setpriv --reuid=nobody --regid=nogroup --clear-groups olad --config-dir "$1" --no-http \
        --no-register-with-dns-sd --log-level 3 >>"$1/olad.log" 2>&1 </dev/null &
    echo $! >"$1/olad.pid"
    for ((i = 0; i < 200; i++)); do
        (exec 3<>/dev/tcp/127.0.0.1/9010) 2>/dev/null && return 0
        sleep 0.02
    done
    cat "$1/olad.log" >&2
    return 1
}

# Ends the daemon recorded in $1/olad.pid, forgetting it so a later stop hits no reused PID.
stop() {
    local pid
    pid=$(cat "$1/olad.pid" 2>/dev/null) && rm "$1/olad.pid" && kill "$pid" || return 0
    for ((i = 0; i < 250; i++)); do
        alive "$pid" || return 0
        sleep 0.02
    done
    kill -KILL "$pid"
}

inside() {
    local rc=0
    ip link set lo up || return 1
    # Bounded well inside ctest's timeout, which would kill with no clean-up.
    timeout -k 5 20 "$1" --gtest_filter='OlaNoDaemon.*' || rc=1
    cfg=$(mktemp -d /tmp/das-olad.XXXXXX) || return 1
    trap 'stop "$cfg"; rm -rf "$cfg"' EXIT
    for plugin in artnet e131 espnet ftdidmx gpio karate kinet milinst opendmx openpixelcontrol osc \
        pathport renard sandnet shownet spi stageprofi uartdmx usbdmx usbserial; do
        echo "enabled = false" >"$cfg/ola-$plugin.conf"
    done
    echo "1-1-O-0 = 1" >"$cfg/ola-port.conf"
    chown -R nobody:nogroup "$cfg"
    start "$cfg" || return 1
    DAS_OLAD_HARNESS="$0" DAS_OLAD_CONFIG="$cfg" timeout -k 5 40 "$1" --gtest_filter='OlaDaemon.*' || rc=1
    return $rc
}

case ${1:-} in
start | stop | inside) "$1" "$2"; exit ;;
esac
[[ $(id -u) -eq 0 ]] || { echo "olad_harness: skipped: needs root"; exit 77; }
for tool in unshare setpriv ip olad; do
    command -v "$tool" >/dev/null || { echo "olad_harness: skipped: no $tool"; exit 77; }
done
unshare -n true 2>/dev/null || { echo "olad_harness: skipped: no network namespaces"; exit 77; }
exec unshare -n bash "$0" inside "$1"
