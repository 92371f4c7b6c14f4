#!/usr/bin/env bash
# On a Wayland desktop with Xwayland the console is an X client. Under mutter, the compositor of
# Debian's default desktop, the frame the user sees is at the place asked, 352,380, and 628x434, with
# every control inside; under weston before 14 the window asks for that place. The user's
# QT_QPA_PLATFORM=wayland, or an X display out of reach, leaves it a native Wayland window.
set -u
# Xwayland keeps its socket in /tmp/.X11-unix, which must be writable by all: a private /tmp goes
# with this test where the machine gives one; elsewhere the machine's must do.
if [ -z "${wayland_test_tmp:-}" ] && why=$(unshare -m true 2>&1); then
    exec env wayland_test_tmp=1 unshare -m sh -c 'mount -t tmpfs -o mode=1777 tmpfs /tmp &&
        mkdir -m 1777 /tmp/.X11-unix && exec "$0" "$@"' "$0" "$@"
fi
[ -n "${wayland_test_tmp:-}" ] || [ "$(stat -c %a /tmp/.X11-unix 2>/dev/null)" = 1777 ] ||
    { echo "skipped: /tmp/.X11-unix is not writable by all, and no private /tmp: $why"; exit 77; }
for tool in mutter dbus-run-session xwininfo xprop xdotool; do
    command -v $tool >/dev/null || { echo "skipped: no $tool"; exit 77; }
done
dir=$(mktemp -d) app= server= session= frame=none client=none
trap 'kill $app $server 2>/dev/null; wait; rm -rf "$dir"' EXIT
trap 'exit 1' INT TERM HUP
fail() { echo "$*"; exit 1; }
await() { for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done; return 1; }
xwindow() { xdotool search --onlyvisible --classname '^brivane$' 2>/dev/null | head -n1 | grep .; }
geometry() { xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ \
    { y = $NF } /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, w, h }'; }
extents() { xprop -id "$1" "$2" | sed -n 's/.* = \([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\)$/\1 \2 \3 \4/p'; }
unset QT_QPA_PLATFORM DISPLAY XAUTHORITY && export XDG_RUNTIME_DIR=$dir XDG_SESSION_TYPE=wayland

# "X Y W H" of the frame the user sees and of the console's client area. Mutter 48 draws the frame
# in an X window of its own, around the client, with an invisible border (_GTK_FRAME_EXTENTS);
# mutter 43 tells the client the frame's size (_NET_FRAME_EXTENTS).
seen() {
    local c p l r t b x y w h
    c=$(xwindow) && read -r x y w h < <(geometry "$c") && client="$x $y $w $h" || return 1
    p=$(xwininfo -tree -id "$c" | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\) "Brivane".*/\1/p')
    if [ -n "$p" ] && read -r l r t b < <(extents "$p" _GTK_FRAME_EXTENTS); then
        read -r x y w h < <(geometry "$p") && frame="$((x + l)) $((y + t)) $((w - l - r)) $((h - t - b))"
    else
        read -r l r t b < <(extents "$c" _NET_FRAME_EXTENTS) || l=0 r=0 t=0 b=0
        frame="$((x - l)) $((y - t)) $((w + l + r)) $((h + t + b))"
    fi
    [ "$frame" = "352 380 628 434" ]
}
# The controls reach 601,393 in the client area: ScrollBar16 and the last page buttons at the
# right, the faders at the bottom.
frame_as_asked() {
    await seen || fail "under $1 the frame is at $frame (X Y W H), not 352 380 628 434"
    local x y w h fx fy fw fh && read -r x y w h <<<"$client" && read -r fx fy fw fh <<<"$frame"
    ((w >= 601 && h >= 393 && x >= fx && y >= fy && x + w <= fx + fw && y + h <= fy + fh)) ||
        fail "under $1 the client area $client (X Y W H) leaves controls out or is outside the frame"
}
hint_as_asked() {
    await xwindow >/dev/null && xprop -id "$(xwindow)" WM_NORMAL_HINTS |
        grep -q 'user specified location: 352, 380' || fail "under $1 no X window asking for 352,380"
}

start_mutter() {
    dbus-run-session -- sh -c 'echo $$ >"$0/server.pid" && exec mutter --wayland --headless \
        --virtual-monitor 1920x1080 --wayland-display="$1"' "$dir" "$WAYLAND_DISPLAY" \
        >"$dir/server.log" 2>&1 & session=$!
    await grep -qs 'Using public X11 display :' "$dir/server.log" || fail "mutter offered no X display"
    server=$(cat "$dir/server.pid")
    DISPLAY=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$dir/server.log")
    XAUTHORITY=$(ls "$dir"/.mutter-Xwaylandauth.* | head -n1)
}
start_weston() {
    weston --backend=headless-backend.so --xwayland --socket="$WAYLAND_DISPLAY" \
        --log="$dir/server.log" >/dev/null 2>&1 & server=$! session=
    await grep -qs 'xserver listening on display' "$dir/server.log" || fail "weston offered no X display"
    DISPLAY=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$dir/server.log")
    unset XAUTHORITY
}
stop_server() {
    kill "$server" && await eval '! kill -0 $server 2>/dev/null' || kill -KILL "$server"
    wait $session $server 2>/dev/null
    server=
}
# Weston 14 counts its shadow as frame, and Qt then asks for another place: only older ones hold.
servers="mutter:frame_as_asked"
[ "$(weston --version 2>/dev/null | sed -n 's/^weston \([0-9]*\)\..*/\1/p')" -lt 14 ] 2>/dev/null &&
    servers+=" weston:hint_as_asked"
for entry in $servers; do
    export WAYLAND_DISPLAY=brivane-$$-${entry%%:*} DISPLAY XAUTHORITY
    rm -f "$dir/server.log" && "start_${entry%%:*}"
    for choice in "" "QT_QPA_PLATFORM=wayland" "DISPLAY=$dir/no-such-server:0"; do
        env $choice DASHARD_OUTPUT=none WAYLAND_DEBUG=client "$1" 2>"$dir/app.log" & app=$!
        [ -n "$choice" ] || "${entry#*:}" "${entry%%:*}"
        [ -z "$choice" ] || { await grep -q 'xdg_toplevel@[0-9]*\.set_title("Brivane")' "$dir/app.log" &&
            [ -z "$(xwindow)" ] || fail "under ${entry%%:*} with $choice no Wayland window, or an X one"; }
        kill $app; wait $app; app=
    done
    stop_server
done
