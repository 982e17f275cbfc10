# Shared by run.sh and test.sh: install missing Debian packages, then build.
# Sourced, not run.

VELMORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VELMORA_BUILD=${VELMORA_BUILD:-$VELMORA_ROOT/build}

# What building and running needs on a fresh Debian 12.
VELMORA_PACKAGES=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-translations-l10n
    libmagick++-6.q16-dev libjpeg62-turbo-dev libturbojpeg0-dev libpng-dev libtiff-dev libdeflate-dev
    fonts-noto-cjk
)

# Installs whichever of the given packages are missing; does nothing (and asks
# nothing of the network) when all are present.
install_missing_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "Installing: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
}

# Configures once, then builds only what changed.
build_velmora() {
    if [ ! -f "$VELMORA_BUILD/CMakeCache.txt" ]; then
        cmake -S "$VELMORA_ROOT" -B "$VELMORA_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    fi
    cmake --build "$VELMORA_BUILD" -j2
}
