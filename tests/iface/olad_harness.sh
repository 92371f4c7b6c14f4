#!/usr/bin/env bash
# Runs the OLA output's tests against a real olad inside a private network namespace.
#   bash olad_harness.sh TEST_BINARY NO_DAEMON_FILTER DAEMON_FILTER
# runs TEST_BINARY's NO_DAEMON_FILTER cases with no daemon at all, then starts a locked-down olad
# (Dummy plugin only, its output port patched to universe 1, run as nobody, no HTTP) and runs the
# DAEMON_FILTER cases. Those end and restart the daemon with `bash olad_harness.sh stop|start CFG`.
# Exits 77 (skipped) where root, namespaces or the OLA tools are missing.
set -u

kSkip=77
kPort=9010
kPlugins="artnet e131 espnet ftdidmx gpio karate kinet milinst opendmx openpixelcontrol osc
          pathport renard sandnet shownet spi stageprofi uartdmx usbdmx usbserial"

portOpen() { (exec 3<>"/dev/tcp/127.0.0.1/$kPort") 2>/dev/null; }

# True while PID runs; a zombie counts as gone, since the daemon may not be our child.
alive() { [[ -r /proc/$1/stat ]] && [[ $(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null) != Z ]]; }

# Starts olad on config dir $1 in the background, records its PID in $1/olad.pid and waits
# (at most 4 s) until its RPC port accepts connections.
startOlad() {
    local cfg=$1 pid i
    setpriv --reuid=nobody --regid=nogroup --clear-groups \
        olad --config-dir "$cfg" --no-http --no-register-with-dns-sd --log-level 3 \
        >>"$cfg/olad.log" 2>&1 </dev/null &
    pid=$!
    echo "$pid" >"$cfg/olad.pid"
    for ((i = 0; i < 200; i++)); do
        portOpen && return 0
        alive "$pid" || break
        sleep 0.02
    done
    echo "olad_harness: olad did not open 127.0.0.1:$kPort; its log:" >&2
    cat "$cfg/olad.log" >&2
    stopOlad "$cfg"
    return 1
}

# Ends the daemon recorded in $1/olad.pid: SIGTERM, then SIGKILL after 5 s.
stopOlad() {
    local pid i
    pid=$(cat "$1/olad.pid" 2>/dev/null) || return 0
    [[ -n $pid ]] || return 0
    kill "$pid" 2>/dev/null
    for ((i = 0; i < 250; i++)); do
        alive "$pid" || break
        sleep 0.02
    done
    alive "$pid" && kill -KILL "$pid" 2>/dev/null
    rm -f "$1/olad.pid"
}

makeConfig() {
    local cfg=$1 name
    for name in $kPlugins; do
        echo "enabled = false" >"$cfg/ola-$name.conf"
    done
    echo "1-1-O-0 = 1" >"$cfg/ola-port.conf"
    chown -R nobody:nogroup "$cfg"
}

inside() {
    local test=$1 noDaemon=$2 daemon=$3 rc=0
    ip link set lo up || return 1
    if portOpen; then
        echo "olad_harness: 127.0.0.1:$kPort is taken in a fresh namespace" >&2
        return 1
    fi
    DAS_OLA_PRIVATE_NET=1 "$test" --gtest_filter="$noDaemon" || rc=1

    # Global, so that the exit trap still sees it.
    cfg=$(mktemp -d /tmp/das-olad.XXXXXX) || return 1
    trap 'stopOlad "$cfg"; rm -rf "$cfg"' EXIT
    makeConfig "$cfg"
    startOlad "$cfg" || return 1
    DAS_OLA_PRIVATE_NET=1 DAS_OLAD_HARNESS="$0" DAS_OLAD_CONFIG="$cfg" \
        "$test" --gtest_filter="$daemon" || rc=1
    if [[ $rc -ne 0 ]]; then
        echo "olad_harness: olad log:" >&2
        cat "$cfg/olad.log" >&2
    fi
    return $rc
}

case ${1:-} in
start) startOlad "$2"; exit ;;
stop) stopOlad "$2"; exit ;;
inside) shift; inside "$@"; exit ;;
esac

if [[ $# -ne 3 ]]; then
    echo "usage: olad_harness.sh TEST_BINARY NO_DAEMON_FILTER DAEMON_FILTER" >&2
    exit 2
fi
if [[ $(id -u) -ne 0 ]]; then
    echo "olad_harness: skipped: needs root for a private network namespace"
    exit $kSkip
fi
for tool in unshare setpriv ip olad; do
    if ! command -v "$tool" >/dev/null; then
        echo "olad_harness: skipped: '$tool' is not installed"
        exit $kSkip
    fi
done
if ! id nobody >/dev/null 2>&1 || ! getent group nogroup >/dev/null; then
    echo "olad_harness: skipped: user nobody or group nogroup is missing"
    exit $kSkip
fi
if ! unshare -n true 2>/dev/null; then
    echo "olad_harness: skipped: cannot create a network namespace here"
    exit $kSkip
fi
exec unshare -n bash "$0" inside "$@"
