#!/usr/bin/env bash
# The Debian package as a packager builds it: dpkg-buildpackage on a copy of this checkout, its
# Depends, Recommends and files, lintian, and as root installed with apt and put through
# autopkgtest (debian/tests), then removed again. A brivane package installed before is left
# alone, and the test skips the install.
set -u
fail() { echo "FAIL: $*"; exit 1; }
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d) installed=
cleanup() {
    [ -z "$installed" ] || DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 purge -y -qq brivane >/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$work # Qt's runtime folder, not left in /tmp
if [ -n "${BRIVANE_DEBS:-}" ]; then
    # Built already, from the build dependencies alone (scripts/debian-root --package).
    cp "$BRIVANE_DEBS"/brivane*_* "$work/" && ln -s "$src" "$work/brivane" || fail "no packages in $BRIVANE_DEBS"
else
    # The checkout as it is, without its build folders and packages made from it.
    mkdir "$work/brivane" && tar -C "$src" --exclude-vcs --exclude='./build*' --exclude=./out --exclude=./obj-\* \
        -cf - . | tar -C "$work/brivane" -xf - || fail "cannot copy the checkout"
    echo "dpkg-buildpackage -us -uc -b ($(date -u +%T))"
    (cd "$work/brivane" && DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
        dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1 || fail "dpkg-buildpackage: $(tail -n 40 "$work/build.log")"
    # The build's tests ran: a build that runs none has no summary.
    grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$work/build.log" ||
        fail "the package build ran no tests (no ctest summary in its log)"
fi
deb=$(ls "$work"/brivane_*.deb) && depends=$(dpkg-deb -f "$deb" Depends)
names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*)//; s/ //g')
for need in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins fonts-ipafont-gothic; do
    grep -qxE "$need(t64)?" <<<"$names" || fail "Depends lacks $need: $depends"; done
# The OLA client serves the OLA output alone: recommended, not required, by the names Debian 13
# and Debian 12 give it, of which this release's is the one holding the libola the module binds.
! grep -q '^libola' <<<"$names" || fail "libola: $depends"
recommends=$(dpkg-deb -f "$deb" Recommends)
[ "$recommends" = "libola1t64 | libola1" ] || fail "Recommends: $recommends"
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/files"
! grep -vE '^\./(usr/.*|etc/(xdg/(brivane/(output)?)?)?)?$' "$work/files" || fail "files outside /usr"
for f in bin/brivane{,-check,-output} 'lib/[^/]+/brivane/libdashard\.so\.1' 'lib/[^/]+/brivane/libdashard-ola\.so' \
    share/applications/brivane{,-output}.desktop \
    share/icons/hicolor/{{16x16,32x32,48x48,64x64,128x128,256x256}/apps/brivane{,-output}.png,scalable/apps/brivane{,-output}.svg} \
    lib/udev/rules.d/70-brivane.rules share/doc/brivane/copyright; do
    grep -qxE "\./usr/$f" "$work/files" || fail "the package lacks /usr/$f"; done
dpkg-deb -x "$deb" "$work/root" && cd "$work/root" || fail "dpkg-deb -x"
# The output setting is a conffile of comments only, so the default holds.
dpkg-deb -I "$deb" conffiles | grep -qx /etc/xdg/brivane/output && [ "$(grep -cv '^#' etc/xdg/brivane/output)" = 0 ] ||
    fail "/etc/xdg/brivane/output is no conffile of comments"
libola=$(readlink -f "$(ldd "$(find usr/lib -name libdashard-ola.so)" | awk '$1 == "libola.so.1" {print $3}')")
ola=$(dpkg -S "$libola" | cut -d: -f1)
[[ " $recommends " == *" $ola "* ]] || fail "Recommends: $recommends, without $ola"
# The copyright file is in Debian's machine-readable format and carries LICENSE word for word.
doc=usr/share/doc/brivane
head -1 $doc/copyright | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' &&
    grep -qxF "Copyright: $(sed -n 's/^Copyright (c) //p' "$src/LICENSE")" $doc/copyright &&
    diff <(sed '1,/^License: Expat$/d; s/^ //' $doc/copyright) <(sed '1,4d; s/^$/./' "$src/LICENSE") ||
    fail "$doc/copyright does not carry LICENSE"
# Each manual page renders without a warning and names the OLA client package.
for page in brivane brivane-check brivane-output; do
    out=$(zcat usr/share/man/man1/$page.1.gz | groff -k -man -Tutf8 -ww -z 2>&1) && [ -z "$out" ] &&
        zgrep -q "^$page \\\\- " usr/share/man/man1/$page.1.gz && zgrep -q "^\\.BR $ola )" usr/share/man/man1/$page.1.gz ||
        fail "$page(1): $out"; done
# Built with Debian's hardening flags: relocations read-only and bound at load time.
for elf in usr/bin/* $(find usr/lib -name "libdashard*"); do
    [ "$(readelf -dlW "$elf" | grep -cE 'GNU_RELRO|\(FLAGS\).*BIND_NOW')" = 2 ] || fail "$elf: no relro or bindnow"; done
# The widgets' tty nodes go to the user at the seat, not to everyone.
grep -qxF 'SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", TAG+="uaccess"' \
    usr/lib/udev/rules.d/70-brivane.rules || fail "no uaccess rule for 0403:6001"
for desktop in usr/share/applications/*.desktop; do
    out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || fail "$desktop: $out"; done
# lintian says only what these tags name; on Debian 13 the missing AppStream file, as a valid one
# needs a project home page and a reverse-domain ID, which the project does not have.
# Its temporary files (databases it leaves behind) go in the test's folder.
mkdir "$work/tmp" && TMPDIR=$work/tmp lintian --pedantic --allow-root --tag-display-limit 0 \
    "$work"/brivane_*.changes >"$work/lintian" 2>&1
! grep -vE '^[EWIP]: brivane[^:]*: (bogus-mail-host|bogus-mail-host-in-debian-changelog|initial-upload-closes-no-bugs|appstream-metadata-missing-modalias-provide) ' \
    "$work/lintian" || fail "lintian says more"
cd "$work" || exit 1
[ "$(id -u)" = 0 ] || { echo "skipped: installing the package needs root"; exit 77; }
dpkg -s brivane >/dev/null 2>&1 && { echo "skipped: a brivane package is installed already; not replaced"; exit 77; }
echo "apt-get install, autopkgtest ($(date -u +%T))"
# Installed by apt from the file (no download once its dependencies are there), then tested.
installed=1
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y -qq "$deb" >"$work/install.log" 2>&1 ||
    fail "apt-get install: $(cat "$work/install.log")"
autopkgtest -B "$work/brivane" -- null >"$work/autopkgtest.log" 2>&1 ||
    fail "autopkgtest: $(sed -n '/@@@@ summary/,$p' "$work/autopkgtest.log")"
sed -n '/@@@@ summary/,$p' "$work/autopkgtest.log" | sed 1d
