#!/usr/bin/env bash
# On a Wayland desktop with Xwayland (a headless weston) the console is an X client asking for its
# place; the user's QT_QPA_PLATFORM=wayland, or an X display out of reach, leaves it a Wayland one.
set -u
# X servers keep their sockets in /tmp/.X11-unix; where it is missing (a container), it is made in
# a private /tmp that goes with this test.
[ -d /tmp/.X11-unix ] || unshare -m true 2>/dev/null || { echo "skipped: no /tmp/.X11-unix"; exit 77; }
[ -d /tmp/.X11-unix ] || exec unshare -m sh -c 'mount -t tmpfs -o mode=1777 tmpfs /tmp &&
    mkdir -m 1777 /tmp/.X11-unix && exec "$0" "$@"' "$0" "$@"
dir=$(mktemp -d) app= weston= && trap 'kill $app $weston 2>/dev/null; wait; rm -rf "$dir"' EXIT
trap 'exit 1' INT TERM HUP
fail() { echo "$*"; exit 1; }
await() { for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done; return 1; }
xwindow() { xdotool search --onlyvisible --name '^Brivane$' 2>/dev/null | head -n1 | grep .; }
unset QT_QPA_PLATFORM DISPLAY && export XDG_RUNTIME_DIR=$dir XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=brivane-$$
weston --backend=headless-backend.so --xwayland --socket="$WAYLAND_DISPLAY" --log="$dir/weston.log" >/dev/null 2>&1 & weston=$!
await grep -qs 'xserver listening on display' "$dir/weston.log" || fail "weston offered no X display"
export DISPLAY=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$dir/weston.log")
for choice in "" "QT_QPA_PLATFORM=wayland" "DISPLAY=$dir/no-such-server:0"; do
    env $choice DASHARD_OUTPUT=none WAYLAND_DEBUG=client "$1" 2>"$dir/app.log" & app=$!
    # weston's window manager may show the frame at 0,0; the place asked for is certain.
    [ -n "$choice" ] || { await xwindow >/dev/null && xprop -id "$(xwindow)" WM_NORMAL_HINTS |
        grep -q 'user specified location: 352, 380' || fail "no X window asking for 352,380"; }
    [ -z "$choice" ] || { await grep -q 'xdg_toplevel@[0-9]*\.set_title("Brivane")' "$dir/app.log" &&
        [ -z "$(xwindow)" ] || fail "with $choice no Wayland window, or an X one"; }
    kill $app; wait $app; app=
done
