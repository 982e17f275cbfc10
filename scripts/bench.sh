#!/usr/bin/env bash
# Installs what is missing, builds Velmora and runs the throughput benchmark:
# every convert button against mogrify and the codec tools on the same photos,
# the preview of a large picture, and the peak memory of long batches. Prints a
# Markdown report; extra arguments go to the benchmark (see velmora_bench --help).
# The photos are made on the first run and kept in build/bench-corpus.
# `--per-core [WORK-FOLDER]` instead builds only velmora_convert and prints the
# per-core table of bench/per-core.sh: every tool on one CPU, the same pictures.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# What the benchmark adds: ImageMagick for the corpus and mogrify, the codec
# libraries' own tools for the floor, and exiftool to read the metadata kept;
# for the per-core table also vips, libtiff's tools and GNU time.
BENCH_PACKAGES=(imagemagick libjpeg-turbo-progs netpbm libimage-exiftool-perl libvips-tools libtiff-tools
    time)

install_missing_packages "${VELMORA_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
if [ "${1:-}" = --per-core ]; then
    shift
    [ -f "$VELMORA_BUILD/CMakeCache.txt" ] ||
        cmake -S "$VELMORA_ROOT" -B "$VELMORA_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$VELMORA_BUILD" -j2 --target velmora_convert
    exec "$VELMORA_ROOT/bench/per-core.sh" "$VELMORA_BUILD" "$@"
fi
build_velmora
exec "$VELMORA_BUILD/bench/velmora_bench" "$@"
