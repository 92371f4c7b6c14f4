#!/usr/bin/env bash
# The Debian package CPack builds: what it needs at run time, its files under /usr, its output
# setting, device rule and menu entries; unpacked, its check and its program run on its library.
set -u
fail() { echo "FAIL: $*"; exit 1; }
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work # Qt's runtime folder, not left in /tmp
cpack --config "$1/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/log" 2>&1 || fail "cpack: $(cat "$work/log")"
deb=$(ls "$work"/out/*.deb) && depends=$(dpkg-deb -f "$deb" Depends)
names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*)//; s/ //g')
for need in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins fonts-ipafont-gothic; do
    grep -qxE "$need(t64)?" <<<"$names" || fail "Depends lacks $need: $depends"; done
# The OLA client serves the OLA output alone: recommended, not required.
! grep -q '^libola' <<<"$names" || fail "libola: $depends"
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/files"
! grep -vE '^\./(usr/.*|etc/(xdg/(brivane/(output)?)?)?)?$' "$work/files" || fail "files outside /usr"
for f in bin/brivane bin/brivane-check 'lib/.*brivane/libdashard\.so\.1' 'lib/.*brivane/libdashard-ola\.so' \
    share/applications/brivane{,-check}.desktop share/icons/hicolor/48x48/apps/brivane.png; do
    grep -qxE "\./usr/$f" "$work/files" || fail "the package lacks /usr/$f"; done
dpkg-deb -x "$deb" "$work/root" && cd "$work/root" || fail "dpkg-deb -x"
# The output setting is a conffile of comments only, so the default holds.
dpkg-deb -I "$deb" conffiles | grep -qx /etc/xdg/brivane/output && [ "$(grep -cv '^#' etc/xdg/brivane/output)" = 0 ] ||
    fail "/etc/xdg/brivane/output is no conffile of comments"
# The OLA client recommended, and named in the manual pages, is the package that holds the
# libola the OLA output binds on this system.
libola=$(readlink -f "$(ldd "$(find usr/lib -name libdashard-ola.so)" | awk '$1 == "libola.so.1" {print $3}')")
ola=$(dpkg -S "$libola" | cut -d: -f1)
[ -n "$ola" ] && [ "$(dpkg-deb -f "$deb" Recommends)" = "$ola" ] || fail "Recommends: $(dpkg-deb -f "$deb" Recommends), not $ola"
# The copyright file is in Debian's machine-readable format and carries LICENSE word for word.
doc=usr/share/doc/brivane
head -1 $doc/copyright | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' &&
    grep -qxF "Copyright: $(sed -n 's/^Copyright (c) //p' "$src/LICENSE")" $doc/copyright &&
    diff <(sed '1,/^License: Expat$/d; s/^ //' $doc/copyright) <(sed '1,4d; s/^$/./' "$src/LICENSE") ||
    fail "$doc/copyright does not carry LICENSE"
# Compressed as Debian wants: maximum compression, no file name or time stamp in the header.
for gz in $doc/changelog.Debian.gz usr/share/man/man1/brivane{,-check}.1.gz; do
    [ "$(od -An -tx1 -j3 -N6 "$gz" | tr -d ' \n')" = 000000000002 ] || fail "$gz is not gzip -9n"; done
zcat $doc/changelog.Debian.gz >"$work/changelog"
for field in Version Maintainer; do
    [ "$(dpkg-parsechangelog -l "$work/changelog" -S $field)" = "$(dpkg-deb -f "$deb" $field)" ] ||
        fail "the changelog's $field is not the package's"; done
# Each manual page renders without a warning and names the OLA client package.
for page in brivane brivane-check; do
    out=$(zcat usr/share/man/man1/$page.1.gz | groff -k -man -Tutf8 -ww -z 2>&1) && [ -z "$out" ] &&
        zgrep -q "^$page \\\\- " usr/share/man/man1/$page.1.gz && zgrep -q "$ola" usr/share/man/man1/$page.1.gz ||
        fail "$page(1): $out"; done
# Built with Debian's hardening flags: relocations read-only and bound at load time.
if grep -qx 'BRIVANE_DEB_FLAGS:BOOL=ON' "$1/CMakeCache.txt"; then
    for elf in usr/bin/* $(find usr/lib -name "libdashard*"); do
        [ "$(readelf -dlW "$elf" | grep -cE 'GNU_RELRO|\(FLAGS\).*BIND_NOW')" = 2 ] || fail "$elf: no relro or bindnow"; done
fi
# The widgets' tty nodes go to the user at the seat, not to everyone.
grep -qxF 'SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", TAG+="uaccess"' \
    usr/lib/udev/rules.d/70-brivane.rules || fail "no uaccess rule for 0403:6001"
for desktop in usr/share/applications/*.desktop; do
    out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || fail "$desktop: $out"; done
unset LD_LIBRARY_PATH
out=$(DASHARD_OUTPUT=none usr/bin/brivane-check </dev/null 2>&1)
[ $? -eq 1 ] && grep -q '"DAS NG": the setting turns the output off' <<<"$out" || fail "brivane-check: $out"
[ "$(ldd usr/bin/brivane | awk '/libdashard/ {print $3}')" -ef "$(find usr/lib -name libdashard.so.1)" ] ||
    fail "the unpacked program binds $(ldd usr/bin/brivane | grep libdashard)"
DASHARD_OUTPUT=none xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" sh -c 'usr/bin/brivane & timeout 15 \
    xdotool search --sync --onlyvisible --name "^Brivane$" >/dev/null; rc=$?; kill $!; wait $!; exit $rc' ||
    fail "the unpacked program opened no window"
