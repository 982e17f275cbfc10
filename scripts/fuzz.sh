#!/usr/bin/env bash
# A bounded libFuzzer run over the picture load path:
#   ./scripts/fuzz.sh [seconds]      (default 60)
# Builds build-fuzz/ with clang, seeds a working corpus from the shared picture
# corpus (good and bad files, copied; the shared folder is only read) and fuzzes
# for the given time. A crash leaves its input in build-fuzz/artifacts/ and
# makes this script fail; add it under tests/regressions/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

SECONDS_TO_RUN=${1:-60}
VELMORA_FUZZ_BUILD=${VELMORA_FUZZ_BUILD:-$VELMORA_ROOT/build-fuzz}
SHARED_CORPUS=${VELMORA_CORPUS:-$VELMORA_ROOT/../shared/corpus}

install_missing_packages "${VELMORA_PACKAGES[@]}" clang libclang-rt-14-dev
if [ ! -f "$VELMORA_FUZZ_BUILD/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$VELMORA_ROOT" -B "$VELMORA_FUZZ_BUILD" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON -DBUILD_TESTING=OFF
fi
cmake --build "$VELMORA_FUZZ_BUILD" -j2 --target fuzz_pictures

# The working corpus grows from run to run; the seeds are added each time.
corpus="$VELMORA_FUZZ_BUILD/corpus"
artifacts="$VELMORA_FUZZ_BUILD/artifacts"
mkdir -p "$corpus" "$artifacts"
if [ -d "$SHARED_CORPUS" ]; then
    for seed in "$SHARED_CORPUS"/good/* "$SHARED_CORPUS"/bad/* "$VELMORA_ROOT"/tests/regressions/*; do
        [ -f "$seed" ] || continue
        cp --no-preserve=mode,ownership "$seed" "$corpus/seed-$(basename "$seed")"
    done
else
    echo "No shared corpus at $SHARED_CORPUS; fuzzing from the working corpus only." >&2
fi

# Each input is written to seven files; on a memory file system that costs no
# disk syncs (about a third more inputs per second here).
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$VELMORA_ROOT/tests/sanitizers/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1:suppressions=$VELMORA_ROOT/tests/sanitizers/ubsan.supp}
"$VELMORA_FUZZ_BUILD/tests/fuzz/fuzz_pictures" "$corpus" \
    -max_total_time="$SECONDS_TO_RUN" -max_len=262144 -rss_limit_mb=2048 -timeout=10 \
    -artifact_prefix="$artifacts/" -print_final_stats=1
