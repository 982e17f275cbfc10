#!/usr/bin/env bash
# Installs what is missing, builds Velmora and runs the throughput benchmark:
# every convert button against mogrify and the codec tools on the same photos,
# the preview of a large picture, and the peak memory of long batches. Prints a
# Markdown report; extra arguments go to the benchmark (see velmora_bench --help).
# The photos are made on the first run and kept in build/bench-corpus.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# What the benchmark adds: ImageMagick for the corpus and mogrify, the codec
# libraries' own tools for the floor, and exiftool to read the metadata kept.
BENCH_PACKAGES=(imagemagick libjpeg-turbo-progs netpbm libimage-exiftool-perl)

install_missing_packages "${VELMORA_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
build_velmora
exec "$VELMORA_BUILD/bench/velmora_bench" "$@"
