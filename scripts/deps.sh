# Sourced by scripts/run and scripts/test, or run on its own: makes sure the Debian packages the
# console's build, tests and package need are installed: the build dependencies debian/control
# declares (apt-get build-dep), and the tools the tests use beside them. As root it installs what
# is missing; otherwise it prints the apt-get lines and stops. Every name is one that Debian 12 and
# Debian 13 both have (libclang-rt-dev is the default clang's runtime on each).
brivane_root=${brivane_root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
brivane_packages=(
    g++ dpkg-dev qt6-qpa-plugins ola libbenchmark-dev
    xvfb xauth xdotool x11-utils x11-xserver-utils imagemagick iproute2 util-linux xwayland
    qt6-wayland desktop-file-utils clang libclang-rt-dev file libxcb1-dev python3 groff-base
    mutter dbus lintian autopkgtest hostname
)

brivane_missing_packages() {
    local p missing=()
    for p in "${brivane_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    echo "${missing[@]}"
}

brivane_install_deps() {
    local missing build_deps=
    missing=$(brivane_missing_packages)
    (cd "$brivane_root" && dpkg-checkbuilddeps >/dev/null 2>&1) || build_deps=1
    [ -z "$missing" ] && [ -z "$build_deps" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Install them with:"
        echo "  sudo apt-get update${missing:+ && sudo apt-get install -y $missing}${build_deps:+ && (cd $brivane_root && sudo apt-get build-dep -y ./)}"
        exit 1
    fi
    echo "Installing: ${missing}${build_deps:+${missing:+ and }the build dependencies of debian/control}"
    # RUNLEVEL=1 keeps the ola package from starting its daemon with every plugin on.
    apt-get update -qq
    [ -z "$missing" ] || DEBIAN_FRONTEND=noninteractive RUNLEVEL=1 apt-get install -y -qq $missing >/dev/null
    [ -z "$build_deps" ] || (cd "$brivane_root" &&
        DEBIAN_FRONTEND=noninteractive RUNLEVEL=1 apt-get build-dep -y -qq ./ >/dev/null)
}

# Further cmake options for brivane_build; a build folder keeps what it was configured with.
brivane_cmake_options=()

brivane_build() { # build directory, build type, targets...
    local dir=$1 type=$2
    shift 2
    cmake -S "$brivane_root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" \
        "${brivane_cmake_options[@]}" >/dev/null
    cmake --build "$dir" -j"$(nproc)" "$@"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    brivane_install_deps
fi
