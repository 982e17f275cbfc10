#!/usr/bin/env bash
# Bounded libFuzzer runs over our readers and the picture load path:
#   ./scripts/fuzz.sh [seconds] [harness...]   (default 60, every harness)
# Builds build-fuzz/ with clang and the harnesses of tests/fuzz (one per
# reader, fuzz_pictures over the whole load path) and runs them one after
# another, the seconds shared equally among them. Each harness has its own
# working corpus, build-fuzz/corpus/<harness>/, which grows from run to run;
# the seeds (the shared picture corpus, good and bad, and tests/regressions/,
# copied: the shared folder is only read) are added each time. A crash
# leaves its input in build-fuzz/artifacts/<harness>/ and makes this script
# fail once every harness has had its turn; fix the reader and add the input
# under tests/regressions/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

SECONDS_TO_RUN=${1:-60}
shift || true
VELMORA_FUZZ_BUILD=${VELMORA_FUZZ_BUILD:-$VELMORA_ROOT/build-fuzz}
SHARED_CORPUS=${VELMORA_CORPUS:-$VELMORA_ROOT/../shared/corpus}

install_missing_packages "${VELMORA_PACKAGES[@]}" clang libclang-rt-14-dev libtiff-tools
if [ ! -f "$VELMORA_FUZZ_BUILD/CMakeCache.txt" ]; then
    launcher=()
    if command -v ccache >/dev/null; then
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    CC=clang CXX=clang++ cmake -S "$VELMORA_ROOT" -B "$VELMORA_FUZZ_BUILD" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON -DBUILD_TESTING=OFF "${launcher[@]}"
fi
cmake --build "$VELMORA_FUZZ_BUILD" -j2 --target velmora_fuzzers

if [ $# -gt 0 ]; then
    harnesses=("$@")
else
    mapfile -t harnesses <"$VELMORA_FUZZ_BUILD/tests/fuzz/fuzzers.txt"
fi
share=$((SECONDS_TO_RUN / ${#harnesses[@]}))
[ "$share" -ge 1 ] || share=1

seeds=("$VELMORA_ROOT"/tests/regressions/*)
if [ -d "$SHARED_CORPUS" ]; then
    seeds+=("$SHARED_CORPUS"/good/* "$SHARED_CORPUS"/bad/*)
    # The corpus has no TIFF in separate planes, which one decoder reads and
    # the fuzzer does not find by itself: a 32 x 32 corner of each of its
    # TIFFs is stored so (small, so the decoder runs fast).
    planar="$VELMORA_FUZZ_BUILD/seeds/planar"
    rm -rf "$planar"
    mkdir -p "$planar"
    for tiff in "$SHARED_CORPUS"/good/*.tif "$SHARED_CORPUS"/good/*.tiff; do
        [ -f "$tiff" ] || continue
        tiffcrop -U px -X 32 -Y 32 -p separate "$tiff" "$planar/planar-$(basename "$tiff")" \
            2>/dev/null ||
            rm -f "$planar/planar-$(basename "$tiff")"
    done
    seeds+=("$planar"/*)
else
    echo "No shared corpus at $SHARED_CORPUS; fuzzing from the working corpora only." >&2
fi

# The whole load path writes each input to seven files; on a memory file
# system that costs no disk syncs (about a third more inputs per second).
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$VELMORA_ROOT/tests/sanitizers/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1:suppressions=$VELMORA_ROOT/tests/sanitizers/ubsan.supp}

failed=()
for harness in "${harnesses[@]}"; do
    corpus="$VELMORA_FUZZ_BUILD/corpus/$harness"
    artifacts="$VELMORA_FUZZ_BUILD/artifacts/$harness"
    log="$VELMORA_FUZZ_BUILD/logs/$harness.log"
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    for seed in "${seeds[@]}"; do
        [ -f "$seed" ] || continue
        cp --no-preserve=mode,ownership "$seed" "$corpus/seed-$(basename "$seed")"
    done
    status=0
    "$VELMORA_FUZZ_BUILD/tests/fuzz/$harness" "$corpus" \
        -max_total_time="$share" -max_len=262144 -rss_limit_mb=2048 -timeout=10 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    printf '%-24s %4ss %9s runs %6s exec/s %5s inputs  %s\n' "$harness" "$share" "${runs:-?}" \
        "${speed:-?}" "$(find "$corpus" -type f | wc -l)" \
        "$([ "$status" -eq 0 ] && echo ok || echo "FAILED, see $log")"
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log" >&2
        failed+=("$harness")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzzing found faults in: ${failed[*]} (inputs in $VELMORA_FUZZ_BUILD/artifacts/)" >&2
    exit 1
fi
