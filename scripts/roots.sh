# Sourced by scripts/debian-root and scripts/arm64: the minimal Debian root both run in. The root
# as debootstrap left it, and every package downloaded into it, are kept in $BRIVANE_ROOTS (default
# /var/cache/brivane-roots); the copy a run uses, and all it mounts, are gone when the run ends.
# Each script runs itself again with --inside in a private mount and PID namespace ($self).
# The sourcing script sets self, and reads what these functions set.
# shellcheck shell=bash disable=SC2034,SC2154

# Inside that namespace: the root's own mounts, the folder of downloads over its apt archives, this
# machine's name service, and no service started. Arguments: the root, the folder of downloads.
brivane_root_mounts() {
    local r=$1 debs=$2
    mount --bind "$r" "$r" # so that "/" is a mount point in the root, as on a machine
    mount -t proc proc "$r/proc"
    mount --rbind /sys "$r/sys"
    mount --rbind /dev "$r/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$r/tmp"
    mount --bind "$debs" "$r/var/cache/apt/archives"
    cp /etc/resolv.conf "$r/etc/resolv.conf"
    # As in any chroot: no package starts its service here; there is no init to stop it.
    printf '#!/bin/sh\nexit 101\n' >"$r/usr/sbin/policy-rc.d" && chmod 755 "$r/usr/sbin/policy-rc.d"
}

# Sets started, src and head (this checkout and its last commit), cache and debs (the kept folder
# of downloads of RELEASE), work (the run's own folder, named after NAME, removed when the script
# exits) and mirror; `child` is the run in the root, ended with the script. Arguments: RELEASE,
# NAME, and what the run does with the last commit ("runs", "builds").
brivane_roots_begin() {
    local release=$1 name=$2 does=$3
    started=$SECONDS
    src=$(git -C "$(dirname "$self")" rev-parse --show-toplevel)
    head=$(git -C "$src" rev-parse HEAD)
    [ -z "$(git -C "$src" status --porcelain)" ] ||
        echo "note: $does the committed state, $head; uncommitted changes are left out"
    cache=${BRIVANE_ROOTS:-/var/cache/brivane-roots}
    debs=$cache/debs-$release
    mkdir -p "$debs/partial"
    work=$(mktemp -d "/var/tmp/$name.XXXXXX") child=
    trap brivane_roots_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM HUP
    # apt locks the folder of downloads: a second run of the same release at once keeps its own.
    exec 9>"$debs.lock"
    flock -n 9 || { debs=$work/debs && mkdir -p "$debs/partial"; }
    # The Debian mirror this machine's apt already uses: the first source of its sources
    # (deb822 or one-line) whose path is Debian's own archive.
    mirror=$(cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list \
        /etc/apt/sources.list.d/*.list 2>/dev/null | grep -v '^[[:space:]]*#' | tr ' ' '\n' |
        grep -m1 -E '^(https?|file)://[^ ]*/debian/?$' || true)
    [ -n "$mirror" ] || { echo "$0: no Debian mirror in this machine's apt sources" >&2; exit 1; }
}

brivane_roots_cleanup() {
    # The killed run's status is no failure of the clean-up, which must still reach its rm.
    [ -z "$child" ] || { kill "$child" 2>/dev/null; wait "$child" 2>/dev/null || true; }
    # The mounts were made in the child's namespace only; never remove through one.
    if grep -q " $work/" /proc/self/mountinfo; then
        echo "$0: $work still has mounts; left in place" >&2
    else
        rm -rf --one-file-system "$work"
    fi
}

# The root in $work/root: BASE unpacked, debootstrapped first with the packages INCLUDE names
# (comma-separated) when it is not kept yet; apt in it downloads, as its own user, into debs.
brivane_root_unpack() { # release, base, include
    local release=$1 base=$2 include=$3
    if [ ! -s "$base" ]; then
        echo "== $(date -u +%T) debootstrap $release (kept in $base)"
        timeout -k 30 30m debootstrap --variant=minbase --cache-dir="$debs" --include="$include" \
            "$release" "$work/base" "$mirror" >"$work/debootstrap.log" 2>&1 ||
            { tail -n 30 "$work/debootstrap.log"; exit 1; }
        rm -f "$work/base/var/cache/apt/archives/"*.deb
        tar -C "$work/base" --numeric-owner -I 'zstd -T0' -cf "$base.part" . &&
            mv "$base.part" "$base"
        rm -rf --one-file-system "$work/base"
    fi
    mkdir "$work/root"
    tar -C "$work/root" --numeric-owner -I zstd -xpf "$base"
    chown "$(awk -F: '$1 == "_apt" { print $3 }' "$work/root/etc/passwd")" "$debs/partial"
}

# Runs "$self" --inside ARGS in a private mount and PID namespace, ended after LIMIT, and sets
# status to how it ended.
brivane_root_enter() { # limit, args
    local limit=$1
    shift
    timeout -k 30 "$limit" unshare -m --propagation private --pid --fork --kill-child \
        "$self" --inside "$@" & child=$!
    status=0 && wait "$child" || status=$?
    child=
}
