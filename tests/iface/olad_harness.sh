#!/usr/bin/env bash
# `olad_harness.sh PROBE CHECK`: the ola output and brivane-check in a network of their own, with
# no daemon, then with an olad (Dummy plugin patched to universe 1, run as nobody) that dies and
# returns between the probe's calls (`olad_harness.sh start|stop|fetch DIR`). 77: skipped.
set -u
up() { (exec 3<>/dev/tcp/127.0.0.1/9010) 2>/dev/null; }
start() {
    setpriv --reuid=nobody --regid=nogroup --clear-groups olad --config-dir "$1" \
        --no-register-with-dns-sd --log-level 3 >>"$1/olad.log" 2>&1 </dev/null &
    echo $! >"$1/olad.pid"
    for ((i = 0; i < 200; i++)); do up && return; sleep 0.02; done; cat "$1/olad.log" >&2; return 1
}
# Ends the daemon and forgets it, so that a later stop hits no reused PID; a zombie counts as gone.
stop() {
    local pid; pid=$(cat "$1/olad.pid" 2>/dev/null) && rm "$1/olad.pid" && kill "$pid" || return 0
    for ((i = 0; i < 250; i++)); do [[ $(cut -d' ' -f3 /proc/$pid/stat 2>/dev/null) == [^Z] ]] || return 0; sleep 0.02; done
    kill -KILL "$pid"
}
# Says "read" once universe 1 holds the probe's frame (byte i is i), asking olad's web server.
fetch() {
    local want="\"dmx\":[$(seq -s, 0 255),$(seq -s, 0 255)]"
    for ((i = 0; i < 100; i++)); do
        { exec 3<>/dev/tcp/127.0.0.1/9090 && printf 'GET /get_dmx?u=1 HTTP/1.0\r\n\r\n' >&3 &&
            tr -d ' \r\n' <&3; } 2>/dev/null | grep -qF "$want" && echo read && return; sleep 0.02
    done; echo unread
}
expect() { # REGEX COMMAND...: all the command prints must match
    local got=$(timeout 30 "${@:2}" 2>&1)
    [[ $got =~ ^$1$ ]] || { echo "FAILED: ${*:2}"$'\n'"$got"; rc=1; }
}
inside() {
    ip link set lo up && dir=$(mktemp -d /tmp/das-olad.XXXXXX) || exit 1
    trap 'stop "$dir"; rm -rf "$dir"' EXIT
    export DASHARD_OUTPUT=ola rc=0
    # No daemon: open fails with one line and starts none, and the check says why.
    expect $'dashard: cannot open output "ola": [^\n]*\n-6 ' "$1" open
    up && echo "FAILED: a daemon was started" && rc=1
    expect '.*olad is not running on 127.0.0.1:9010.*' "$2"
    echo "enabled = false" | tee "$dir"/ola-{artnet,e131,espnet,ftdidmx,gpio,karate,kinet,milinst,opendmx}.conf \
        "$dir"/ola-{openpixelcontrol,osc,pathport,renard,sandnet,shownet,spi,stageprofi,uartdmx,usbdmx,usbserial}.conf >/dev/null
    echo "1-1-O-0 = 1" >"$dir/ola-port.conf"
    chown -R nobody:nogroup "$dir" && start "$dir" || exit 1
    # The check finds the patched universe only.
    expect '.*universe 1 exists.*DAS OK.*' "$2"
    expect '.*has no universe 2: patch a port to it.*' env DASHARD_OUTPUT=ola@2 "$2"
    # A frame reads back; once the daemon is gone a send fails and the output is closed; a new
    # daemon opens and takes frames again.
    expect $'read\nread\n0 0 (0 )*-[0-9]+ (-3 )*0 0 ' "$1" open send "sh:bash $0 fetch $dir" \
        "sh:bash $0 stop $dir" send "sh:sleep 1" send "sh:sleep 1" send \
        "sh:bash $0 start $dir" open send "sh:bash $0 fetch $dir"
    exit $rc
}
[[ ${1:-} == @(start|stop|fetch) ]] && { "$1" "$2"; exit; }
[[ ${1:-} == inside ]] && inside "$2" "$3"
for tool in unshare setpriv ip olad; do command -v "$tool" >/dev/null || skip="no $tool"; done
[[ -n ${skip:-} ]] || why=$(unshare -n true 2>&1) || skip="no private network namespace: $why"
[[ -z ${skip:-} ]] || { echo "olad_harness: skipped: $skip"; exit 77; }
exec unshare -n bash "$0" inside "$1" "$2"
