#!/usr/bin/env bash
# Velmora for Windows, built on Debian 12: installs what is missing, builds the
# Windows SDK once (static Qt, ImageMagick and the codec libraries, from
# Debian's source packages), cross-builds Velmora, runs its suites under Wine
# and writes the installer and the portable program into build-windows/.
#
#   scripts/windows.sh            everything
#   scripts/windows.sh sdk [pkg]  only the SDK (or some of its packages)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

VELMORA_WINDOWS_BUILD=${VELMORA_WINDOWS_BUILD:-$VELMORA_ROOT/build-windows}
export VELMORA_WINDOWS_SDK=${VELMORA_WINDOWS_SDK:-$VELMORA_WINDOWS_BUILD/sdk}
source "$VELMORA_ROOT/scripts/windows/sdk.sh"

# What the cross build, the SDK's sources, Wine and the installer need.
WINDOWS_PACKAGES=(
    cmake ninja-build make pkg-config dpkg-dev patch zip
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    qt6-base-dev-tools qt6-translations-l10n
    wine wine64 xvfb xauth nsis fonts-noto-cjk fonts-dejavu-core
)

install_missing_packages "${WINDOWS_PACKAGES[@]}"

if [ "${1:-}" = sdk ]; then
    shift
    build_windows_sdk "$@"
    exit 0
fi

build_windows_sdk

# Velmora itself, in build-windows/build.
WINDOWS_APP_BUILD=$VELMORA_WINDOWS_BUILD/build
# A package of the SDK built again may link more libraries than CMake has
# cached from its pkg-config file, and Ninja does not see a static library
# named with -l change: build Velmora afresh then.
if [ -f "$WINDOWS_APP_BUILD/CMakeCache.txt" ] &&
    [ -n "$(find "$SDK_STAMPS" -newer "$WINDOWS_APP_BUILD/CMakeCache.txt")" ]; then
    rm -rf "$WINDOWS_APP_BUILD"
fi
if [ ! -f "$WINDOWS_APP_BUILD/CMakeCache.txt" ]; then
    cmake -G Ninja -S "$VELMORA_ROOT" -B "$WINDOWS_APP_BUILD" \
        -DCMAKE_TOOLCHAIN_FILE="$WINDOWS_SCRIPTS/toolchain.cmake" \
        -DVELMORA_WINDOWS_SDK="$VELMORA_WINDOWS_SDK" -DCMAKE_PREFIX_PATH="$VELMORA_WINDOWS_SDK" \
        -DCMAKE_BUILD_TYPE=Release \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$WINDOWS_SCRIPTS/wine-run.sh"
fi
cmake --build "$WINDOWS_APP_BUILD" -j"$SDK_JOBS"

# The suites under Wine, in a Wine prefix of the build's own, on Qt's
# offscreen platform. One Wine server serves them all.
export WINEPREFIX=$VELMORA_WINDOWS_BUILD/wine
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot --init
wineserver --persistent=60 2>/dev/null || true
# Wine's own processes (services, the desktop) start with the first program
# and outlive it: started here, they do not hold ctest's output pipes open.
"$WINDOWS_SCRIPTS/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1
(cd "$WINDOWS_APP_BUILD" && ctest --output-on-failure -j"$SDK_JOBS")

# The installer and the portable program: the same Velmora.exe, stripped.
VERSION=$(sed -n 's/^set(VELMORA_VERSION_TEXT "\(.*\)")$/\1/p' "$VELMORA_ROOT/CMakeLists.txt")
VERSION4=$(echo "$VERSION" | awk -F. '{ printf "%d.%d.%d.%d", $1, $2, substr($3, 1, 2), substr($3, 3) }')
STAGE=$VELMORA_WINDOWS_BUILD/stage
rm -rf "$STAGE" && mkdir -p "$STAGE"
$WINDOWS_HOST-strip -o "$STAGE/Velmora.exe" "$WINDOWS_APP_BUILD/Velmora.exe"

PORTABLE=$VELMORA_WINDOWS_BUILD/Velmora-$VERSION-portable.zip
rm -f "$PORTABLE"
(cd "$STAGE" && zip -q -9 "$PORTABLE" Velmora.exe)

SETUP=$VELMORA_WINDOWS_BUILD/Velmora-$VERSION-setup.exe
makensis -V2 -DVERSION="$VERSION" -DVERSION4="$VERSION4" -DEXE="$STAGE/Velmora.exe" \
    -DICON="$VELMORA_ROOT/resources/velmora.ico" -DOUTFILE="$SETUP" "$WINDOWS_SCRIPTS/velmora.nsi"

echo "Written: $SETUP ($(du -h "$SETUP" | cut -f1))"
echo "Written: $PORTABLE ($(du -h "$PORTABLE" | cut -f1))"
