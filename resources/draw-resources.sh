#!/usr/bin/env bash
# Draws Velmora's own pictures and writes them next to this script:
#   background.jpg   1024x768 night sky behind the main window (it shows the top-left 696x454)
#   velmora.ico      the window/executable icon: 32x32 and 48x48, 8 bits per pixel with a mask
#   velmora-32.png   the same icon for the Linux hicolor theme
#   velmora-48.png
#
# Needs bash and ImageMagick 6 `convert` (Debian: apt-get install imagemagick).
# Everything is drawn from fixed shapes and gradients, with no randomness and no
# timestamps in the files, so running it again gives the same bytes for the
# same ImageMagick version. The results are committed; run this only to change them.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

command -v convert >/dev/null || {
    echo "draw-resources.sh: ImageMagick 'convert' not found (apt-get install imagemagick)" >&2
    exit 1
}

# No dates or other changing metadata in anything we write.
strip=(-strip +set date:create +set date:modify)

# ---------------------------------------------------------------------------
# background.jpg
# ---------------------------------------------------------------------------
W=1024
H=768
moon_x=712   # just past the visible 696 px, so the window shows the glow and a sliver of the disc
moon_y=150
moon_r=34

# Sky: muted blue at the top, bright blue lower down, then a pale horizon band
# from y = 380 to the bottom.
convert -size ${W}x380 gradient:'#1f3559'-'#3f7fcf' "$work/sky-top.png"
convert -size ${W}x40 gradient:'#3f7fcf'-'#9cc3ea' "$work/sky-blend.png"
convert -size ${W}x348 gradient:'#9cc3ea'-'#c9def2' "$work/horizon.png"
convert "$work/sky-top.png" "$work/sky-blend.png" "$work/horizon.png" -append \
    -crop ${W}x${H}+0+0 +repage "$work/sky.png"

# The moon's glow: a Gaussian falloff around the moon (a tight bright core plus a
# wide faint halo) used as the mask that blends the sky towards a pale moonlight blue.
# Computed at a quarter of the size (it is smooth, and -fx is slow) and scaled up.
convert -size $((W / 4))x$((H / 4)) xc:black -fx \
    "dd=(4*i+2-$moon_x)^2+(4*j+2-$moon_y)^2; min(1, 0.80*exp(-dd/(2*55*55)) + 0.30*exp(-dd/(2*170*170)))" \
    -filter Triangle -resize ${W}x${H}! "$work/glow-mask.png"

# The disc itself, slightly warm white with a soft edge.
convert -size ${W}x${H} xc:none -fill '#f6f3e8' \
    -draw "circle $moon_x,$moon_y $((moon_x + moon_r)),$moon_y" \
    -blur 0x1.2 "$work/moon.png"

# A few faint stars in the dark upper sky, at fixed places, kept away from the
# strip near the top-left where the window puts its white text.
stars=()
for xy in 52,96 188,118 263,84 331,152 420,41 468,128 547,73 603,28 78,197 239,231 \
          392,206 506,188 855,52 930,121 987,236 821,268; do
    x=${xy%,*}
    y=${xy#*,}
    stars+=(-draw "circle $x,$y $x,$((y + 1))")
done
convert -size ${W}x${H} xc:none -fill 'rgba(235,242,255,0.55)' "${stars[@]}" \
    -blur 0x0.6 "$work/stars.png"

convert "$work/sky.png" "$work/stars.png" -compose Over -composite \
    \( -size ${W}x${H} xc:'#cfe0ff' \) "$work/glow-mask.png" -compose Over -composite \
    "$work/moon.png" -compose Over -composite \
    -alpha off -colorspace sRGB -type TrueColor \
    "${strip[@]}" -sampling-factor 1x1 -quality 92 "$here/background.jpg"

# ---------------------------------------------------------------------------
# The icon: a grey file folder with a photo camera in front of it. Drawn once
# on a 256x256 canvas, then scaled down to each icon size.
# ---------------------------------------------------------------------------
S=256

# A shape filled with a vertical gradient over the whole canvas.
# usage: shape out.png top-colour bottom-colour "draw primitives"
shape() {
    convert -size ${S}x${S} gradient:"$2"-"$3" \
        \( -size ${S}x${S} xc:black -fill white -stroke white -strokewidth 0 -draw "$4" \) \
        -alpha off -compose CopyOpacity -composite "$1"
}
# An outline only. usage: outline out.png colour width "draw primitives"
outline() {
    convert -size ${S}x${S} xc:none -fill none -stroke "$2" -strokewidth "$3" -draw "$4" "$1"
}
# A flat-coloured shape. usage: flat out.png colour "draw primitives"
flat() {
    convert -size ${S}x${S} xc:none -fill "$2" -stroke none -draw "$3" "$1"
}

# Each outlined part is an outline drawn first and the fill drawn over it, so only
# the outer half of the stroke shows and shapes that overlap merge cleanly.

# Folder: back panel with its tab, a sheet of paper, then the front flap.
folder_back="roundrectangle 10,34 104,72 12,12 roundrectangle 10,54 240,204 14,14"
outline "$work/i01.png" '#43474d' 9 "$folder_back"
shape "$work/i02.png" '#979ca3' '#70757c' "$folder_back"
flat "$work/i03.png" '#f6f7f9' "polygon 30,68 220,68 220,150 30,150"
outline "$work/i04.png" '#c8ccd1' 3 "line 30,68 220,68"
folder_front="polygon 10,100 240,90 240,214 10,214"
outline "$work/i05.png" '#43474d' 9 "$folder_front"
shape "$work/i06.png" '#e6e9ed' '#a3a8af' "$folder_front"
outline "$work/i07.png" '#fafbfc' 3 "line 14,106 236,96"

# Camera, lower right, in front of the folder: prism hump, shutter button, body,
# flash window, then the lens from its dark barrel in to the glass and a glint.
cam_body="roundrectangle 98,136 248,244 16,16"
cam_hump="roundrectangle 136,114 198,146 9,9"
cam_button="roundrectangle 210,122 236,140 5,5"
outline "$work/i10.png" '#14171a' 8 "$cam_hump $cam_button $cam_body"
shape "$work/i11.png" '#5a616b' '#2f343b' "$cam_hump"
flat "$work/i12.png" '#dc4438' "$cam_button"
shape "$work/i13.png" '#626a75' '#262a30' "$cam_body"
outline "$work/i14.png" '#838b96' 3 "line 110,142 236,142"
flat "$work/i15.png" '#eef3f8' "roundrectangle 110,150 134,165 3,3"
lx=174
ly=192
flat "$work/i20.png" '#101215' "circle $lx,$ly $((lx + 43)),$ly"
flat "$work/i21.png" '#a1a9b4' "circle $lx,$ly $((lx + 36)),$ly"
flat "$work/i22.png" '#1b1e22' "circle $lx,$ly $((lx + 31)),$ly"
shape "$work/i23.png" '#55a2f4' '#0a2a63' "circle $lx,$ly $((lx + 25)),$ly"
flat "$work/i24.png" '#eef5ff' "circle $((lx - 9)),$((ly - 9)) $((lx - 9)),$((ly - 2))"

convert -size ${S}x${S} xc:none \
    "$work"/i0?.png "$work"/i1?.png "$work"/i2?.png -background none -compose Over -flatten \
    "$work/icon-256.png"

for px in 32 48; do
    # Soft-edged version for the Linux icon theme.
    convert "$work/icon-256.png" -filter Lanczos -resize ${px}x${px} -unsharp 0x0.6+0.6+0 \
        -depth 8 "${strip[@]}" -define png:color-type=6 "$here/velmora-$px.png"
done

# ICO entries carry a 1-bit mask: a pixel is either opaque or not, so the alpha
# is cut at one half; each size gets its own 256-entry palette (8 bits per pixel).
convert "$here/velmora-32.png" "$here/velmora-48.png" \
    -channel A -threshold 50% +channel +dither -colors 256 "${strip[@]}" "$here/velmora.ico"

# Check the ICO directory: two entries, 32 and 48 pixels, 8 bits per pixel each
# (bytes 6.. hold 16-byte entries: width, height, ..., bit count at offset 6).
read -r -a dir <<<"$(od -An -tu1 -j4 -N2 "$here/velmora.ico") \
$(od -An -tu1 -j6 -N1 "$here/velmora.ico") $(od -An -tu2 -j12 -N2 "$here/velmora.ico") \
$(od -An -tu1 -j22 -N1 "$here/velmora.ico") $(od -An -tu2 -j28 -N2 "$here/velmora.ico")"
if [ "${dir[*]}" != "2 0 32 8 48 8" ]; then
    echo "draw-resources.sh: unexpected velmora.ico directory: ${dir[*]}" >&2
    exit 1
fi
