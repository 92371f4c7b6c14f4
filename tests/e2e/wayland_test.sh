#!/usr/bin/env bash
# On a Wayland desktop with Xwayland the console is an X client: under mutter (GNOME's compositor),
# on a 1920x1080 screen where the window fits at its place, the frame the user sees is at 352,380
# and 628x434, with every control inside. The user's QT_QPA_PLATFORM=wayland, or an X display out
# of reach, leaves it a native Wayland window.
set -u
# Xwayland's socket folder must be writable by all: a private one where the machine gives one (in a
# private /tmp where there is none).
if [ -z "${wayland_test_tmp:-}" ] && why=$(unshare -m true 2>&1); then
    exec env wayland_test_tmp=1 unshare -m sh -c 'x=/tmp/.X11-unix && { [ -d $x ] ||
        { mount -t tmpfs -o mode=1777 tmp /tmp && mkdir $x; }; } &&
        mount -t tmpfs -o mode=1777 x11 $x && exec "$0" "$@"' "$0" "$@"
fi
[ -n "${wayland_test_tmp:-}" ] || [ "$(stat -c %a /tmp/.X11-unix 2>/dev/null)" = 1777 ] ||
    { echo "skipped: /tmp/.X11-unix is not writable by all, and no private /tmp: $why"; exit 77; }
dir=$(mktemp -d) app= server= frame=none client=none
trap 'kill $app $server 2>/dev/null; wait; rm -rf "$dir"' EXIT
trap 'exit 1' INT TERM HUP
fail() { echo "$*"; exit 1; }
await() { for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done; return 1; }
xwindow() { xdotool search --onlyvisible --classname '^brivane$' 2>/dev/null | head -n1 | grep .; }
# "X Y W H", and the four sides of a _NET_FRAME_EXTENTS or _GTK_FRAME_EXTENTS as "L R T B".
box() { xwininfo -id "$1" | awk '/Absolute|Width:|Height:/ { printf "%s ", $NF } END { print "" }'; }
sides() { xprop -id "$1" "$2" | sed -n 's/.* = \(.*\)/\1/p' | tr -d , | grep .; }
# Mutter 48 draws the frame as an X window of its own titled like the client, with an invisible
# border; mutter 43 reparents the client into its frame and gives the client the frame's sides.
seen() {
    local c p l r t b x y w h
    c=$(xwindow) && read -r x y w h < <(box "$c") && client="$x $y $w $h" || return 1
    p=$(xwininfo -tree -id "$c" | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\) "Brivane".*/\1/p')
    if [ -n "$p" ] && read -r l r t b < <(sides "$p" _GTK_FRAME_EXTENTS); then
        read -r x y w h < <(box "$p") && frame="$((x + l)) $((y + t)) $((w - l - r)) $((h - t - b))"
    else
        read -r l r t b < <(sides "$c" _NET_FRAME_EXTENTS) || l=0 r=0 t=0 b=0
        frame="$((x - l)) $((y - t)) $((w + l + r)) $((h + t + b))"
    fi
    [ "$frame" = "352 380 628 434" ]
}
# The controls reach 601,393 in the client area (ScrollBar16, the last page buttons, the faders).
mutter_check() {
    await seen || fail "under mutter the frame is at $frame (X Y W H), not 352 380 628 434"
    local x y w h fx fy fw fh && read -r x y w h <<<"$client" && read -r fx fy fw fh <<<"$frame"
    ((w >= 601 && h >= 393 && x >= fx && y >= fy && x + w <= fx + fw && y + h <= fy + fh)) ||
        fail "under mutter the client area, $client (X Y W H), leaves controls out or the frame"
}
unset QT_QPA_PLATFORM DISPLAY XAUTHORITY && export XDG_RUNTIME_DIR=$dir XDG_SESSION_TYPE=wayland
export WAYLAND_DISPLAY=brivane-$$ DISPLAY XAUTHORITY
# Its own session bus; the server is mutter, not the bus.
dbus-run-session -- sh -c 'echo $$ >"$0/pid" && exec mutter --wayland --headless \
    --virtual-monitor 1920x1080 --wayland-display="$1"' "$dir" "$WAYLAND_DISPLAY" >"$dir/log" 2>&1 &
said='Using public X11 display'
await grep -qs "$said :" "$dir/log" || fail "mutter offered no X display"
server=$(cat "$dir/pid") DISPLAY=$(sed -n "s/.*$said \(:[0-9]*\).*/\1/p" "$dir/log")
XAUTHORITY=$(echo "$dir"/.mutter-Xwaylandauth.*)
for choice in "" "QT_QPA_PLATFORM=wayland" "DISPLAY=$dir/no-such-server:0"; do
    env $choice DASHARD_OUTPUT=none WAYLAND_DEBUG=client "$1" 2>"$dir/app.log" & app=$!
    [ -n "$choice" ] || mutter_check
    [ -z "$choice" ] || { await grep -q 'xdg_toplevel[@#][0-9]*\.set_title("Brivane")' \
        "$dir/app.log" && [ -z "$(xwindow)" ] || fail "with $choice no Wayland window, or an X one"; }
    kill $app; wait $app; app=
done
