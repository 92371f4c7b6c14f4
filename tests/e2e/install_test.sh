#!/usr/bin/env bash
# The installed program finds its output library next to it, and without the library it does
# not start: the loader says why. Its menu entry and icons are installed beside it. The installed
# library opens the OLA output through the module beside it, and without the module or libola
# the open fails naming what to install.
# Usage: install_test.sh BUILD_DIR DAS_OPEN_PROBE
set -u
build=$1
probe=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# Qt's runtime folder inside this test's own, not left behind in /tmp.
export XDG_RUNTIME_DIR=$stage/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
cmake --install "$build" --prefix "$stage" >/dev/null || { echo "install failed"; exit 1; }
exe=$stage/bin/brivane
lib=$(ls "$stage"/lib*/brivane/libdashard.so.1 2>/dev/null | head -n1)
[ -n "$lib" ] || { echo "libdashard.so.1 was not installed"; exit 1; }
resolved=$(ldd "$exe" | awk '/libdashard/ {print $3}')
[ "$(readlink -f "$resolved")" = "$(readlink -f "$lib")" ] \
    || { echo "installed program binds $resolved, not $lib"; exit 1; }
# It runs: still up after a second on the offscreen platform.
QT_QPA_PLATFORM=offscreen DASHARD_OUTPUT=none timeout 1 "$exe" >/dev/null 2>&1
rc=$?
[ "$rc" -eq 124 ] || { echo "installed program ended early with $rc"; exit 1; }
# The menu entry and the program icon go where desktops look for them.
[ -f "$stage/share/applications/brivane.desktop" ] || { echo "brivane.desktop was not installed"; exit 1; }
for icon in 16x16 32x32 48x48 64x64 128x128 256x256; do
    [ -s "$stage/share/icons/hicolor/$icon/apps/brivane.png" ] || { echo "no $icon icon installed"; exit 1; }
done
[ -s "$stage/share/icons/hicolor/scalable/apps/brivane.svg" ] || { echo "no scalable icon installed"; exit 1; }

# The OLA output, opened through the installed library by the probe: "-6" is DAS_E_UNAVAILABLE.
module=$(dirname "$lib")/libdashard-ola.so
[ -f "$module" ] || { echo "libdashard-ola.so was not installed beside $lib"; exit 1; }
ola_open() { # what the open must say, then a command prefix to run the probe with
    local said=$1 out
    shift
    out=$(DASHARD_OUTPUT=ola "$@" "$probe" "$lib" 2>&1)
    [[ $out == *"$said"*$'\n-6' ]] || { echo "expected \"$said\" and -6, got: $out"; exit 1; }
}
if [ "$(id -u)" -eq 0 ] && unshare -mn true 2>/dev/null; then
    # Outside this machine's network, so no olad answers: the installed module was loaded.
    ola_open "olad is not running on 127.0.0.1:9010" unshare -n
    # libola hidden behind an empty file, in a mount namespace of the probe's own.
    libola=$(readlink -f "$(ldd "$module" | awk '$1 == "libola.so.1" { print $3 }')")
    ola_open "install the Debian package libola1" \
        unshare -mn sh -c 'mount --bind /dev/null "$0" && exec "$@"' "$libola"
else
    echo "not root: the OLA output is checked without its module only"
fi
rm "$module"
ola_open "libdashard-ola.so is missing: the installation is incomplete (reinstall the brivane package)"

rm -f "$stage"/lib*/brivane/libdashard.so*
out=$(QT_QPA_PLATFORM=offscreen timeout 5 "$exe" 2>&1); rc=$?
if [ "$rc" -ne 127 ] || ! grep -q 'libdashard.so.1: cannot open shared object file' <<<"$out"; then
    echo "without its library the program gave $rc: $out"; exit 1
fi
echo "installed program binds $lib; without it the loader refuses: $out"
