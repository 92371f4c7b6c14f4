#!/usr/bin/env bash
# The Debian package: CPack builds it, it names the packages the console needs at run time, it lays
# the program, its library, menu entry and icons under /usr, and the unpacked program opens its window.
# Usage: package_test.sh BUILD_DIR PROJECT_VERSION
set -u
fail() {
    echo "FAIL: $*"
    exit 1
}

# Second stage, run inside the X server: start the unpacked program and find its window.
if [ "${1:-}" = "--in-x" ]; then
    exe=$2 wm_class=$3 log=$4
    DASHARD_OUTPUT=none "$exe" >"$log" 2>&1 &
    pid=$!
    win=$(timeout 15 xdotool search --sync --onlyvisible --name '^Brivane$' | head -n1)
    owner=
    [ -n "$win" ] && owner=$(xdotool getwindowpid "$win" 2>/dev/null)
    class=
    [ -n "$win" ] && class=$(xprop -id "$win" WM_CLASS | sed -n 's/.*= "\(.*\)", "\(.*\)"$/\2/p')
    alive=yes
    kill -0 "$pid" 2>/dev/null || alive=no
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    [ -n "$win" ] || fail "no visible window named Brivane within 15 s (alive: $alive): $(cat "$log")"
    [ "$owner" = "$pid" ] || fail "window $win belongs to pid $owner, not the started program $pid"
    if [ -n "$class" ] && [ -n "$wm_class" ] && [ "$class" != "$wm_class" ]; then
        fail "window class is $class but the menu entry's StartupWMClass is $wm_class"
    fi
    echo "unpacked program opened window $win (pid $pid, class ${class:-not read})"
    exit 0
fi

build=$1
version=$2
# Every tool this test or CPack's DEB generator runs, with the Debian package that provides it.
for need in cpack:cmake dpkg-deb:dpkg dpkg-shlibdeps:dpkg-dev file:file strip:binutils ldd:libc-bin \
    xvfb-run:xvfb xauth:xauth xdotool:xdotool xprop:x11-utils desktop-file-validate:desktop-file-utils; do
    command -v "${need%%:*}" >/dev/null || fail "needs ${need%%:*} (Debian package ${need#*:})"
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Qt's runtime folder inside this test's own, not left behind in /tmp.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Build the package from the current build tree.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 \
    || fail "cpack failed: $(cat "$work/cpack.log")"
debs=("$work"/out/*.deb)
if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then fail "expected one .deb, got: ${debs[*]}"; fi
deb=${debs[0]}

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = brivane ] || fail "Package is '$(field Package)'"
case "$(field Version)" in
"$version" | "$version"-*) ;;
*) fail "Version '$(field Version)' is not the project's $version" ;;
esac
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] \
    || fail "Architecture is '$(field Architecture)'"
grep -qE '^.+ <[^ @]+@[^ >]+>$' <<<"$(field Maintainer)" || fail "Maintainer is '$(field Maintainer)'"
[ -n "$(field Section)" ] || fail "no Section"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
# One package name a line, alternatives split and version bounds dropped.
names=$(sed 's/(.*)//; s/^ *//; s/ *$//' <<<"${depends//[,|]/$'\n'}")
for need in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins fonts-ipafont-gothic; do
    # Debian renamed some libraries with a t64 suffix; either name satisfies the need.
    grep -qxE "$need(t64)?" <<<"$names" || fail "Depends lacks $need: $depends"
done
# The OLA client serves the OLA output module alone: recommended, not required.
grep -qE '^lib(ola|protobuf)' <<<"$names" && fail "Depends names the OLA client: $depends"
[ "$(field Recommends)" = libola1 ] || fail "Recommends is '$(field Recommends)', not libola1"

# File list: everything under /usr but the output setting, never /usr/local, and no development files.
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/files"
outside=$(grep -vE '^\./(usr/.*|etc/(xdg/(brivane/(output)?)?)?)?$' "$work/files") && fail "files outside /usr: $outside"
grep -qE '^\./usr/(local|include)/|\.a$' "$work/files" && fail "unexpected files: $(cat "$work/files")"
sizes=(16 32 48 64 128 256)
wanted=(./usr/bin/brivane ./usr/bin/brivane-check ./usr/share/applications/brivane.desktop
    ./usr/share/applications/brivane-check.desktop
    ./usr/share/icons/hicolor/scalable/apps/brivane.svg)
for s in "${sizes[@]}"; do wanted+=("./usr/share/icons/hicolor/${s}x${s}/apps/brivane.png"); done
for f in "${wanted[@]}"; do
    grep -qxF "$f" "$work/files" || fail "package lacks $f"
done
for lib in libdashard.so.1 libdashard-ola.so; do
    grep -qE "^\./usr/lib/([^/]+/)?brivane/${lib//./\\.}\$" "$work/files" \
        || fail "package lacks $lib under /usr/lib: $(grep libdashard "$work/files")"
done

# Unpack into a staging root; the package is never installed on this machine.
root=$work/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"

# The output setting is a conffile whose lines are all comments, so the default holds.
conf=$root/etc/xdg/brivane/output
[ -s "$conf" ] || fail "package lacks /etc/xdg/brivane/output"
grep -qv '^#' "$conf" && fail "/etc/xdg/brivane/output has a line that is not a comment: $(grep -v '^#' "$conf")"
dpkg-deb -I "$deb" conffiles | grep -qx /etc/xdg/brivane/output || fail "/etc/xdg/brivane/output is not a conffile"

# Each fixed-size icon really has its size: width and height are the IHDR's first two words.
for s in "${sizes[@]}"; do
    png=$root/usr/share/icons/hicolor/${s}x${s}/apps/brivane.png
    read -r -a b <<<"$(od -An -tu1 -N24 "$png" | tr '\n' ' ')"
    [ "${b[1]} ${b[2]} ${b[3]}" = "80 78 71" ] || fail "$png is not a PNG"
    w=$(((b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19]))
    h=$(((b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23]))
    if [ "$w" -ne "$s" ] || [ "$h" -ne "$s" ]; then fail "$png is ${w}x${h}, not ${s}x${s}"; fi
done
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/brivane.svg" || fail "scalable icon is not SVG"

# The udev rule, where udev reads package rules, tags the FTDI interfaces' tty nodes for the
# local seat rather than opening them to everyone.
rule=$root/usr/lib/udev/rules.d/70-brivane.rules
grep -qxF 'SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", TAG+="uaccess"' "$rule" \
    || fail "no uaccess rule for 0403:6001 in $rule: $(cat "$rule" 2>&1)"
grep -q 'MODE' "$rule" && fail "$rule sets a mode: $(cat "$rule")"

# Menu entries: valid, and their Exec and Icon name what the package ships.
key() { sed -n "/^\[Desktop Entry\]/,/^\[/ s/^$1=//p" "$desktop" | head -n1; }
for desktop in "$root"/usr/share/applications/brivane-check.desktop \
    "$root"/usr/share/applications/brivane.desktop; do
    out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate warns: $out"
    exec_name=$(key Exec | awk '{print $1}')
    [ -x "$root/usr/bin/$exec_name" ] || fail "Exec=$(key Exec) is not a program in /usr/bin"
    [ -f "$root/usr/share/icons/hicolor/48x48/apps/$(key Icon).png" ] || fail "Icon=$(key Icon) has no icon file"
    [ "$(key Type)" = Application ] || fail "Type is '$(key Type)'"
done
[ "$(key Terminal)" = false ] || fail "Terminal is '$(key Terminal)'"

# The unpacked check runs on the unpacked library and says why the output would fail.
out=$(env -u LD_LIBRARY_PATH DASHARD_OUTPUT=none "$root/usr/bin/brivane-check" </dev/null 2>&1)
[ $? -eq 1 ] && grep -q '"DAS NG": the setting turns the output off' <<<"$out" \
    || fail "brivane-check from the package: $out"

# The unpacked program binds the unpacked library through its RPATH.
exe=$root/usr/bin/brivane
libs=("$root"/usr/lib/*/brivane/libdashard.so.1 "$root"/usr/lib/brivane/libdashard.so.1)
for lib in "${libs[@]}"; do [ -e "$lib" ] && break; done
deps=$(env -u LD_LIBRARY_PATH ldd "$exe")
grep -q 'not found' <<<"$deps" && fail "unresolved libraries: $deps"
resolved=$(awk '/libdashard/ {print $3}' <<<"$deps")
[ "$(readlink -f "$resolved")" = "$(readlink -f "$lib")" ] || fail "program binds '$resolved', not $lib"

# It opens its window on a real X server.
env -u LD_LIBRARY_PATH xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    "$0" --in-x "$exe" "$(key StartupWMClass)" "$work/run.log" || exit 1
echo "$(basename "$deb"): Depends: $depends; Recommends: $(field Recommends)"
