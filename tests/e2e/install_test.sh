#!/usr/bin/env bash
# The installed program binds the libdashard beside it and does not start without it; the installed
# library opens the OLA output through the module beside it, naming what is missing. (The package
# test checks the files installed and the user's setting through the installed check.)
set -u
# The OLA rows need a private network and mount namespace: asked for once, and skipped without.
private=$(unshare -mn true 2>&1) && private= || private="skipped: the OLA rows need a private namespace: $private"
stage=$(mktemp -d) && trap 'rm -rf "$stage"' EXIT
fail() { echo "$*"; exit 1; }
cmake --install "$1" --prefix "$stage" >/dev/null || fail "install failed"
exe=$stage/bin/brivane lib=$(ls "$stage"/lib*/brivane/libdashard.so.1) || fail "no libdashard.so.1 installed"
[ "$(ldd "$exe" | awk '/libdashard/ {print $3}')" -ef "$lib" ] || fail "it binds $(ldd "$exe" | grep dashard)"
# The OLA output opened through the installed library, loaded as the program binds it: it says
# why, and DasCall returns DAS_E_UNAVAILABLE.
ola_open() { # what the library must say, then a command prefix
    local said=$1 out && shift && out=$(DASHARD_OUTPUT=ola "$@" python3 -c \
        'import ctypes, sys; print(ctypes.CDLL(sys.argv[1]).DasCall(1, 0, None))' "$lib" 2>&1)
    [[ $out == *"$said"* && $out == *$'\n-6' ]] || fail "expected \"$said\" and -6, got: $out"
}
# No olad in a network of its own: the module beside the library was loaded. Then libola hidden.
[ -n "$private" ] || ola_open "olad is not running on 127.0.0.1:9010" unshare -n
# The package named, at the line's end, is the one that holds the client library the module binds.
libola=$(readlink -f "$(ldd "${lib%/*}/libdashard-ola.so" | awk '$1 == "libola.so.1" { print $3 }')")
[ -n "$private" ] || ola_open "install the Debian package $(dpkg -S "$libola" | cut -d: -f1)"$'\n' \
    unshare -mn sh -c 'mount --bind /dev/null "$0" && exec "$@"' "$libola"
# A module of another version, here one with the entry of the versions before it had a version,
# is never run (this one would crash the program).
echo 'extern "C" void *dashard_ola_module() { return 0; }' \
    | g++ -shared -fPIC -x c++ - -o "${lib%/*}/libdashard-ola.so" || fail "cannot build the old module"
ola_open "libdashard-ola.so is not of this version (it has no dashard_ola_module_"
rm "${lib%/*}/libdashard-ola.so"
ola_open "libdashard-ola.so is missing: the installation is incomplete (reinstall the brivane package)"
rm "$stage"/lib*/brivane/libdashard.so*
out=$(XDG_RUNTIME_DIR=$stage QT_QPA_PLATFORM=offscreen timeout 5 "$exe" 2>&1)
[ $? -eq 127 ] && grep -q 'libdashard.so.1: cannot open shared object file' <<<"$out" || fail "without it: $out"
[ -z "$private" ] || { echo "$private"; exit 77; }
