# Sourced by scripts/run and scripts/test, or run on its own: makes sure the Debian packages the
# console's build, tests and package need are installed. As root it installs what is missing;
# otherwise it prints the apt-get line and stops. Every name is one that Debian 12 and Debian 13
# both have (libclang-rt-dev is the default clang's runtime on each).
brivane_packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-qpa-plugins libgl-dev fonts-ipafont-gothic
    libola-dev ola
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdotool x11-utils imagemagick iproute2 util-linux weston xwayland qt6-wayland
    librsvg2-bin desktop-file-utils dpkg-dev clang libclang-rt-dev
    file libxcb1-dev python3 groff-base
    mutter dbus
)

brivane_missing_packages() {
    local p missing=()
    for p in "${brivane_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    echo "${missing[@]}"
}

brivane_install_deps() {
    local missing
    missing=$(brivane_missing_packages)
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Install them with:"
        echo "  sudo apt-get update && sudo apt-get install -y $missing"
        exit 1
    fi
    echo "Installing: $missing"
    # RUNLEVEL=1 keeps the ola package from starting its daemon with every plugin on.
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive RUNLEVEL=1 apt-get install -y -qq $missing >/dev/null
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
