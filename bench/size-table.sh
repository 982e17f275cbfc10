#!/bin/sh
# The size table: every file of the shared corpus's good pictures, and a few
# generated ones (a fax page, palette screenshots, gray scans, icons, 16-bit
# pictures), converted to every target by Velmora (build/bench/velmora_convert,
# the product's own load and write) and by ImageMagick's mogrify. Prints one
# row a file and target: Velmora bytes, mogrify bytes, their ratio, and
# flags a Velmora output more than 1.25 times mogrify's.
#
#   bench/size-table.sh [BUILD-FOLDER] [CORPUS-FOLDER]
#
# Both take the first frame of a multi-frame file and, from an icon, its
# largest entry; mogrify fits icons into 256 x 256 as the bench does.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
corpus=${2:-$here/../shared/corpus/good}
convert_tool=$build/bench/velmora_convert
[ -x "$convert_tool" ] || { echo "build $convert_tool first (cmake --build $build --target velmora_convert)" >&2; exit 1; }
command -v mogrify >/dev/null || { echo "mogrify is missing (package imagemagick)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in"

# The generated pictures, drawn by ImageMagick and seeded, so every run gets
# the same ones.
gen=$work/in
convert -size 2480x3508 xc:white -fill black \
    -draw 'rectangle 200,200 2280,260' -draw 'rectangle 200,400 1800,430' \
    -draw 'rectangle 200,500 2100,530' -draw 'rectangle 200,600 1500,630' \
    -draw 'circle 1240,2000 1240,2600' -monochrome -compress Group4 "$gen/fax-page.tif"
convert "$gen/fax-page.tif" "$gen/fax-page.pcx"
convert -size 2000x1000 xc:'#f0f0f0' -fill '#3366cc' -draw 'rectangle 0,0 2000,60' \
    -fill white -draw 'rectangle 100,150 900,900' -fill '#cc3333' -draw 'rectangle 1000,150 1900,500' \
    -fill '#222222' -draw 'rectangle 1000,600 1900,620' "$gen/screenshot-few-colours.png"
convert -seed 4 -size 640x480 plasma:fractal -colors 200 +dither -depth 8 "$gen/screenshot-200-colours.png"
convert -seed 5 -size 800x600 plasma:fractal -colorspace Gray -blur 0x2 -quality 90 "$gen/gray-scan.jpg"
convert -size 800x280 xc:'#c0c0c0' -quality 92 "$gen/blank-gray.jpg"
convert -seed 6 -size 48x48 plasma:fractal -colors 16 +dither -depth 8 "$gen/icon-16-colours.png"
convert -size 32x32 xc:none -fill '#2060c0' -draw 'circle 16,16 16,4' "$gen/icon-cut-out.png"
convert -seed 7 -size 640x480 plasma:fractal -depth 16 "$gen/photo-16-bit.png"
convert -size 400x300 gradient:black-white -depth 16 "$gen/gray-16-bit.png"

target_list="jpg bmp gif pcx png ico tiff"
printf '| file | target | Velmora bytes | mogrify bytes | ratio |\n|---|---|---:|---:|---:|\n'
for file in "$corpus"/* "$gen"/*; do
    case $file in *.md|*README*) continue ;; esac
    name=$(basename "$file")
    frame=0
    case $name in
    *.ico) frame=$(identify -format '%[fx:w*h] %p\n' "$file" 2>/dev/null | sort -n -s -k1,1 | tail -1 | cut -d' ' -f2) ;;
    esac
    for target in $target_list; do
        mkdir -p "$work/v/$target" "$work/m/$name-$target"
        "$convert_tool" "$target" "$work/v/$target" "$file" 2>/dev/null || true
        extra=
        [ "$target" = ico ] && extra='-resize 256x256>'
        # shellcheck disable=SC2086
        mogrify -path "$work/m/$name-$target" -format "$target" $extra "$file[$frame]" 2>/dev/null || true
        v=$(stat -c %s "$work/v/$target/$name.$target" 2>/dev/null || echo -)
        m=$(find "$work/m/$name-$target" -type f -exec stat -c %s {} + 2>/dev/null | head -1)
        [ -n "$m" ] || m=-
        echo "$name $target $v $m"
    done
done | awk '
    function ratio(v, m) { return (v == "-" || m == "-" || m == 0) ? "-" : sprintf("%.2f", v / m) }
    {
        r = ratio($3, $4)
        flag = (r != "-" && r + 0 > 1.25) ? " **" : ""
        printf "| %s | %s | %s | %s | %s%s |\n", $1, $2, $3, $4, r, flag
        if (r != "-") { vt[$2] += $3; mt[$2] += $4; if (flag != "") over[$2]++ }
    }
    END {
        printf "\n| target | Velmora total bytes | mogrify total bytes | ratio | over 1.25x |\n|---|---:|---:|---:|---:|\n"
        n = split("jpg bmp gif pcx png ico tiff", t, " ")
        for (i = 1; i <= n; ++i)
            printf "| %s | %d | %d | %s | %d |\n", t[i], vt[t[i]], mt[t[i]], ratio(vt[t[i]], mt[t[i]]), over[t[i]]
    }'
