#!/usr/bin/env bash
# Builds every test suite with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ and runs them (no display needed). Only our own targets are
# instrumented; see tests/sanitizers/ for what is suppressed in the libraries
# under us, and why.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_missing_packages "${VELMORA_PACKAGES[@]}"
VELMORA_ASAN_BUILD=${VELMORA_ASAN_BUILD:-$VELMORA_ROOT/build-asan}
if [ ! -f "$VELMORA_ASAN_BUILD/CMakeCache.txt" ]; then
    cmake -S "$VELMORA_ROOT" -B "$VELMORA_ASAN_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELMORA_SANITIZE=ON
fi
cmake --build "$VELMORA_ASAN_BUILD" -j2 --target velmora_tests
cd "$VELMORA_ASAN_BUILD"
ctest --output-on-failure -j2
