#!/usr/bin/env bash
# With no window manager the window is its own frame. On a screen too small for it at its place,
# 352,380, it moves the least way that brings it whole into the screen's free area (here a bottom
# panel's, as _NET_WORKAREA gives it); on a screen large enough it is exactly there.
set -u
dir=$(mktemp -d) app= server=
trap 'kill $app $server 2>/dev/null; wait; rm -rf "$dir"' EXIT
trap 'exit 1' INT TERM HUP
fail() { echo "$*"; exit 1; }
await() { for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done; return 1; }
unset QT_QPA_PLATFORM WAYLAND_DISPLAY XAUTHORITY && export XDG_RUNTIME_DIR=$dir DASHARD_OUTPUT=none
# Screen, its monitors where several (WxH+X+Y, as RandR gives a laptop's panel and a monitor beside
# it), free area (X,Y,W,H; - for the whole screen), and the place the window must take. With two
# monitors Qt leaves the free area out; the panel's bottom bar must still keep the window above it.
for row in "800x480 - - 172 46" "1366x768 - 0,0,1366,740 352 306" "1920x1080 - - 352 380" \
    "3286x1080 1366x768+0+0,1920x1080+1366+0 0,0,3286,740 352 306"; do
    read -r size monitors area x y <<<"$row" && rm -f "$dir/display" && output=screen
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$dir/display" 2>/dev/null &
    server=$! && await grep -qs . "$dir/display" || fail "no X server at $size"
    export DISPLAY=:$(cat "$dir/display")
    for m in ${monitors//[-,]/ }; do # the first takes the screen's output; 96 dpi
        IFS=x+ read -r w h left top <<<"$m" && mm() { echo $(($1 * 254 / 960)); }
        xrandr --setmonitor "$m" "$w/$(mm $w)x$h/$(mm $h)+$left+$top" $output >/dev/null ||
            fail "xrandr cannot make monitor $m"
        output=none; done
    [ "$area" = - ] || xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "$area"
    "$1" </dev/null & app=$!
    id=$(timeout 10 xdotool search --sync --onlyvisible --classname '^brivane$' | head -n1)
    got=$(xwininfo -id "${id:-none}" | awk '/Absolute|Width:|Height:/ { printf "%s ", $NF }')
    [ "$got" = "$x $y 628 434 " ] ||
        fail "on $size (free: $area) the window is at ${got:-nowhere} (X Y W H), not at $x,$y"
    kill $app $server; wait; app= server=
done
