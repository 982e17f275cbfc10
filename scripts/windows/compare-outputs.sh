#!/usr/bin/env bash
# Converts every picture of ../shared/corpus/good to all seven formats with the
# Linux build and with the Windows build (under Wine), and compares the
# outputs: the same bytes, or else the same pixels (the lossless formats must
# have them); JPEGs that differ are reported with their difference.
#   scripts/windows/compare-outputs.sh [linux build] [windows build]
# Needs both builds and the imagemagick package (compare).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
linux_build=${1:-$root/build}
windows_build=${2:-$root/build-windows/build}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
mkdir -p "$out/linux" "$out/windows"

VELMORA_KEEP_OUTPUTS=$out/linux QT_QPA_PLATFORM=offscreen \
    "$linux_build/tests/tst_pictures" convertsGoodPictures >/dev/null
VELMORA_KEEP_OUTPUTS=Z:$out/windows QT_QPA_PLATFORM=offscreen \
    "$root/scripts/windows/wine-run.sh" "$windows_build/tst_pictures.exe" convertsGoodPictures >/dev/null

same_bytes=0 same_pixels=0 differ=0 missing=0
for linux in "$out/linux"/*; do
    name=$(basename "$linux")
    windows=$out/windows/$name
    if [ ! -f "$windows" ]; then
        echo "missing on Windows: $name"; missing=$((missing + 1)); continue
    fi
    if cmp -s "$linux" "$windows"; then
        same_bytes=$((same_bytes + 1)); continue
    fi
    # Pixels (and alpha) of the first frame, compared exactly.
    pixels=$(compare -metric AE "$linux[0]" "$windows[0]" null: 2>&1 || true)
    if [ "$pixels" = 0 ]; then
        same_pixels=$((same_pixels + 1))
    else
        echo "differs: $name ($pixels pixels)"; differ=$((differ + 1))
    fi
done
echo "$(ls "$out/linux" | wc -l) outputs: $same_bytes the same bytes, $same_pixels the same pixels," \
     "$differ different, $missing missing"
[ $((differ + missing)) -eq 0 ]
