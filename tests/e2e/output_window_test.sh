#!/usr/bin/env bash
# brivane-output as an operator uses it, by keyboard alone, on an 800x480 screen with no window
# manager, in a network of its own with a veth cable to a stand-in rig (a second network with an
# Art-Net receiver): the list shows the cable's device, its address and link; Art-Net there,
# port-address 3, checks "DAS OK" in brivane-check's very lines and is saved over the file's
# setting line, its comment kept; the console then sends there. With the rig's end down the check
# says "DAS NG" and why; a setting the library refuses, and a read-only folder, save nothing.
# Usage: output_window_test.sh BRIVANE-OUTPUT BRIVANE BRIVANE-CHECK FOLDER-FOR-THE-SCREENSHOT
set -u
fail() { echo "FAIL: $*"; exit 1; }
if [ -z "${OUTPUT_TEST_INSIDE:-}" ]; then
    why=$(unshare -mn true 2>&1) || { echo "skipped: no private network and mount namespace: $why"; exit 77; }
    exec unshare -mn env OUTPUT_TEST_INSIDE=1 "$0" "$@"
fi
dir=$(mktemp -d) rig= receiver= server= app= console=
trap 'kill $console $app $server $receiver $rig 2>/dev/null; wait; umount "$dir/config/brivane" 2>/dev/null; rm -rf "$dir"' EXIT
trap 'exit 1' INT TERM HUP
await() { for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done; return 1; }
said() { grep -qF -- "$1" "$dir/window.log"; }
keys() { xdotool windowfocus --sync "$id" key --delay 80 "$@"; }
typed() { xdotool windowfocus --sync "$id" type --delay 80 "$1"; }
file=$dir/config/brivane/output

# This machine's end of the cable, veth0 10.9.0.1/24; the rig's, rig0 10.9.0.2/24, in the
# network a sleeping process holds, where a receiver prints the port-address of each ArtDmx.
ip link set lo up
unshare -n sleep 300 & rig=$!
await sh -c "[ \"\$(readlink /proc/$rig/ns/net)\" != \"\$(readlink /proc/$$/ns/net)\" ]" ||
    fail "no network for the rig"
ip link add veth0 type veth peer name rig0 netns $rig && ip addr add 10.9.0.1/24 dev veth0 &&
    ip link set veth0 up && nsenter -t $rig -n sh -ec 'ip link set lo up
        ip addr add 10.9.0.2/24 dev rig0; ip link set rig0 up' || fail "no veth pair to the rig"
nsenter -t $rig -n python3 -u -c 'import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("", 6454))
while True:
    d = s.recv(600)
    if d[:10] == b"Art-Net\0\0\x50": print("ArtDmx", d[14] | d[15] << 8)' >"$dir/rig.log" & receiver=$!
await sh -c '! ip link show veth0 | grep -q NO-CARRIER' || fail "veth0 has no link"

mkdir -p "$dir/config/brivane" "$dir/run" && chmod 700 "$dir/run" &&
    printf '# the rig in hall 2\nsacn@7\n' >"$file"
export HOME=$dir XDG_CONFIG_HOME=$dir/config XDG_CONFIG_DIRS=$dir/none XDG_RUNTIME_DIR=$dir/run
unset DASHARD_OUTPUT QT_QPA_PLATFORM WAYLAND_DISPLAY XAUTHORITY
Xvfb -displayfd 3 -screen 0 800x480x24 -nolisten tcp -noreset 3>"$dir/display" 2>/dev/null & server=$!
await grep -qs . "$dir/display" || fail "no X server"
export DISPLAY=:$(cat "$dir/display")
"$1" >"$dir/window.log" 2>&1 & app=$!
id=$(timeout 10 xdotool search --sync --onlyvisible --name '^Brivane Output$' | head -n1)
[ -n "$id" ] || fail "no window titled Brivane Output"
await said "Found: This machine" || fail "no list: $(cat "$dir/window.log")"
said "Found: veth0: 10.9.0.1/24, link" && ! said "Found: lo:" ||
    fail "the list is not veth0 with its address and link: $(grep Found "$dir/window.log")"
import -window root "$4/output-800x480.png"

# By keys alone: the cable's device picked from the list by its name, the kind's first letter,
# the port-address by its mnemonic; Enter checks, Alt+U saves.
typed veth0 && keys alt+k && typed A && keys alt+p ctrl+a && typed 3 && keys Return
await said 'Result:   the interface button would open this output ("DAS OK")' ||
    fail "no DAS OK: $(cat "$dir/window.log")"
diff <(sed -n '/^From: /,/^Result:/p' "$dir/window.log" | sed 1d) \
    <(DASHARD_OUTPUT='artnet@3,if=veth0' "$3" | sed 1,2d) || fail "not brivane-check's lines"
keys alt+u && await said "Saved artnet@3,if=veth0 in $file, line 2." || fail "not saved"
[ "$(cat "$file")" = $'# the rig in hall 2\nartnet@3,if=veth0' ] || fail "the file holds: $(cat "$file")"

# The console with that file: its interface button pressed (at its place on this screen).
"$2" >/dev/null 2>&1 & console=$!
timeout 10 xdotool search --sync --onlyvisible --name '^Brivane$' >/dev/null &&
    xdotool mousemove 214 66 click 1 && await grep -qx 'ArtDmx 3' "$dir/rig.log" ||
    fail "the rig heard no ArtDmx to port-address 3: $(cat "$dir/rig.log")"
kill $console && wait $console 2>/dev/null; console=

nsenter -t $rig -n ip link set rig0 down && await sh -c 'ip link show veth0 | grep -q NO-CARRIER'
keys Return && await said "Result:   the interface button would show \"DAS NG\": " &&
    said "veth0 has no link (cable out?)" || fail "no DAS NG for the cable: $(tail -n 5 "$dir/window.log")"

cp -p "$file" "$dir/saved"
keys alt+s ctrl+a && typed 'sacn@0' && keys alt+u
await said 'Not saved: bad output setting "sacn@0": universe out of range 1-63999.' ||
    fail "the refused setting: $(tail -n 2 "$dir/window.log")"
mount --bind "$dir/config/brivane" "$dir/config/brivane" &&
    mount -o remount,bind,ro "$dir/config/brivane" || fail "cannot make the folder read-only"
keys alt+s ctrl+a && typed 'artnet@4' && keys alt+u
await said "Not saved: cannot write in $dir/config/brivane: Read-only file system." ||
    fail "the read-only folder: $(tail -n 2 "$dir/window.log")"
cmp "$file" "$dir/saved" && ! ls "$dir/config/brivane"/.output.* 2>/dev/null || fail "the file changed"
keys Escape && await sh -c "! kill -0 $app 2>/dev/null" || fail "Escape did not close it"
wait $app || fail "it exited with $?"
app=
