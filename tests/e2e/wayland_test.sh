#!/usr/bin/env bash
# On a Wayland desktop that offers an X display (Xwayland) the console is an X client, so its
# window opens at its place; the user's QT_QPA_PLATFORM=wayland, or an X display that cannot be
# reached, leaves it a Wayland client. Under a headless weston with Xwayland.
set -u
exe=$1
# X servers keep their sockets in /tmp/.X11-unix, which a booted system makes at start. Where it
# is missing (a container), make it in a private /tmp that goes away with this test.
if [ ! -d /tmp/.X11-unix ]; then
    [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null \
        || { echo "skipped: no /tmp/.X11-unix, and no private mount namespace to make one in"; exit 77; }
    exec unshare -m sh -c 'mount -t tmpfs -o mode=1777 tmpfs /tmp && mkdir -m 1777 /tmp/.X11-unix &&
                           exec "$0" "$@"' "$0" "$@"
fi
dir=$(mktemp -d)
weston=
app=
stop_app() { [ -z "$app" ] || { kill "$app"; wait "$app"; app=; } 2>/dev/null; }
stop_weston() { [ -z "$weston" ] || { kill "$weston"; wait "$weston"; } 2>/dev/null; }
trap 'stop_app; stop_weston; rm -rf "$dir"' EXIT
trap 'exit 1' INT TERM HUP
fail() { echo "$*"; exit 1; }
# Retries a command for up to ten seconds.
await() { for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done; return 1; }
xwindow() { xdotool search --onlyvisible --name '^Brivane$' 2>/dev/null | head -n1; }
mapped() { [ -n "$(xwindow)" ]; }
start_app() { env "$@" DASHARD_OUTPUT=none WAYLAND_DEBUG=client "$exe" 2>"$dir/app.log" & app=$!; }

mkdir -m 700 "$dir/run"
export XDG_RUNTIME_DIR=$dir/run XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=brivane-$$
unset QT_QPA_PLATFORM DISPLAY
weston --backend=headless-backend.so --xwayland --socket="$WAYLAND_DISPLAY" \
    --log="$dir/weston.log" >"$dir/weston.out" 2>&1 &
weston=$!
await grep -qs 'xserver listening on display' "$dir/weston.log" ||
    fail "weston offered no X display: $(tail -n 5 "$dir/weston.log" "$dir/weston.out" 2>&1)"
DISPLAY=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$dir/weston.log")
export DISPLAY

start_app
await mapped || fail "no window titled Brivane on the X display: $(tail -n 3 "$dir/app.log")"
# An X client asks the window manager for its place, which weston then shows it at. weston 10's
# window manager now and then leaves the frame's X position at 0,0 while the window is shown at
# its place, so the request is what the X display holds for certain.
hints=$(xprop -id "$(xwindow)" WM_NORMAL_HINTS)
grep -q 'user specified location: 352, 380' <<<"$hints" ||
    fail "the window does not ask for 352,380: $hints"
stop_app

for choice in "QT_QPA_PLATFORM=wayland" "DISPLAY=$dir/no-such-server:0"; do
    start_app "$choice"
    await grep -q 'xdg_toplevel@[0-9]*\.set_title("Brivane")' "$dir/app.log" ||
        fail "with $choice no Wayland window titled Brivane: $(tail -n 3 "$dir/app.log")"
    ! mapped || fail "with $choice the window is on the X display"
    stop_app
done
echo "an X window asking for 352,380; a Wayland window with each of the other choices"
