#!/usr/bin/env bash
# The per-core table: every tool held to the same single CPU, the same
# pictures, one run each. Velmora (build/bench/velmora_convert, the product's
# own load and durable write) against ImageMagick's mogrify, `vips copy` and the
# codec libraries' own command-line tools, for every target, from JPEG photos,
# from the same photos as PNG, and from generated graphics. Prints a Markdown
# table of seconds (wall clock, and CPU) and bytes, then the time and size
# targets, each met or not met.
#
#   bench/per-core.sh [--report] [BUILD-FOLDER] [WORK-FOLDER]
#
# With --report nothing is measured: the table is printed again from the last
# run's numbers, kept in WORK-FOLDER/results.txt and run.txt.
#
# The pictures are made once, seeded, and kept in WORK-FOLDER (default
# BUILD-FOLDER/per-core) between runs. Settings from the environment:
#   VELMORA_BENCH_CPU       the CPU every tool runs on (default: the last one)
#   VELMORA_BENCH_PHOTOS    how many 4000x3000 photos (default 8)
#   VELMORA_BASELINE_CONVERT  an older velmora_convert; its photo TIFF times
#                           are the "no slower than before" line
set -euo pipefail
measure_now=true
if [ "${1:-}" = --report ]; then
    measure_now=false
    shift
fi
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
work=${2:-$build/per-core}
cpus=$(nproc) # before OMP_NUM_THREADS is set below, which nproc would report
cpu=${VELMORA_BENCH_CPU:-$((cpus - 1))}
photo_count=${VELMORA_BENCH_PHOTOS:-8}
baseline=${VELMORA_BASELINE_CONVERT:-}
convert_tool=$build/bench/velmora_convert
[ -x "$convert_tool" ] || {
    echo "build $convert_tool first (cmake --build $build --target velmora_convert)" >&2
    exit 1
}
for tool in convert mogrify vips djpeg cjpeg pngtopnm pnmtopng pnmtotiff ppm2tiff ppmtobmp ppmtopcx \
    pamscale pamtowinicon taskset /usr/bin/time; do
    command -v "$tool" >/dev/null || {
        echo "$tool is missing (scripts/bench.sh installs what the bench needs)" >&2
        exit 1
    }
done

# One CPU, and no tool starts more threads than that.
export MAGICK_THREAD_LIMIT=1 VIPS_CONCURRENCY=1 OMP_NUM_THREADS=1 QT_QPA_PLATFORM=offscreen
quality=90
targets="jpg bmp gif pcx png ico tiff"
say() { echo "[per-core] $*" >&2; }

# ---- the pictures -------------------------------------------------------------
corpus=$work/corpus
stamp="per-core corpus 1: $photo_count x 4000x3000 q$quality 4:2:0 plasma fractal, blur 0x2, noise; PNG copies; graphics"
# (The photos' recipe; the graphics have their own stamp below.)
make_corpus() {
    if [ -f "$corpus/stamp" ] && [ "$(cat "$corpus/stamp")" = "$stamp" ]; then
        say "photos: reusing $corpus"
        return
    fi
    say "photos: making them in $corpus (kept for the next run)"
    rm -rf "$corpus/jpeg" "$corpus/png"
    mkdir -p "$corpus/jpeg" "$corpus/png"
    # Two fractal bases; each photo is one of them with its own exposure,
    # colour and framing, then saved as a camera would (quality 90, 4:2:0).
    local b i
    for b in 0 1; do
        convert -seed $((21 + 12 * b)) -size 4000x3000 plasma:fractal -blur 0x2 \
            -attenuate 0.4 +noise Gaussian -depth 8 "$corpus/base-$b.ppm"
    done
    for ((i = 0; i < photo_count; ++i)); do
        local name flop=()
        name=$(printf 'photo-%02d' "$i")
        (((i / 2) % 2)) && flop=(-flop)
        convert "$corpus/base-$((i % 2)).ppm" -modulate "$((85 + (i * 7) % 30)),$((80 + (i * 13) % 50)),$((70 + (i * 17) % 60))" \
            -roll "+$(((i * 331) % 4000))+$(((i * 187) % 3000))" "${flop[@]}" \
            -quality $quality -sampling-factor 2x2 "$corpus/jpeg/$name.jpg"
        convert "$corpus/jpeg/$name.jpg" "$corpus/png/$name.png"
    done
    rm -f "$corpus"/base-*.ppm
    echo "$stamp" >"$corpus/stamp"
}

# Graphics: a flat pink page with gradient triangles and gradient corners, and
# 16-bit pictures of a few colours (the gray one held at 16 bits, which
# ImageMagick would otherwise write at 8, its levels being exact at 8).
graphics_stamp="per-core graphics 2: pink gradients, 16-bit few colours, 16-bit gray levels"
make_graphics() {
    local g=$corpus/graphics
    if [ -f "$corpus/graphics-stamp" ] && [ "$(cat "$corpus/graphics-stamp")" = "$graphics_stamp" ]; then
        return
    fi
    say "graphics: making them in $g"
    rm -rf "$g" && mkdir -p "$g"
    convert -size 2000x1000 'xc:rgb(255,64,127)' \
        \( -size 500x500 'gradient:rgb(255,230,240)-rgb(255,64,127)' -write mpr:down +delete \) \
        \( -size 500x500 -define gradient:angle=90 'gradient:rgb(40,20,120)-rgb(255,64,127)' -write mpr:side +delete \) \
        \( -size 400x400 'radial-gradient:white-rgb(255,64,127)' -write mpr:corner +delete \) \
        -tile mpr:down -draw 'polygon 600,200 1100,200 850,700' \
        -tile mpr:side -draw 'polygon 1200,300 1700,800 1200,800' \
        -tile mpr:corner -draw 'rectangle 0,0 200,200' -draw 'rectangle 1800,800 2000,1000' \
        -depth 8 -type TrueColor "$g/pink-gradients.png"
    convert -size 1600x1200 'xc:rgb(20%,30%,70%)' -fill 'rgb(90%,85%,10%)' -draw 'rectangle 100,100 700,600' \
        -fill 'rgb(10%,60%,20%)' -draw 'circle 1100,700 1100,1100' -fill white -draw 'rectangle 0,1100 1600,1200' \
        -depth 16 "$g/few-colours-16-bit.png"
    convert -size 1200x900 gradient:black-white -posterize 6 -depth 16 -define png:bit-depth=16 \
        "$g/gray-levels-16-bit.png"
    echo "$graphics_stamp" >"$corpus/graphics-stamp"
}

# ---- the tools ----------------------------------------------------------------
# Each prints the shell command that writes $f's target to "$o.<target>"; an
# empty one means the tool does not write that target.
decode_command() { # the codec tool that turns one source into PNM on stdout
    case $1 in
    jpeg) echo 'djpeg "$f"' ;;
    *) echo 'pngtopnm "$f"' ;;
    esac
}
codec_commands() { # set target: one command a line, "label<TAB>command"
    local dec
    dec=$(decode_command "$1")
    case $2 in
    jpg) printf 'cjpeg\t%s | cjpeg -quality %s -sample 2x2 -optimize > "$o.jpg"\n' "$dec" $quality ;;
    bmp)
        if [ "$1" = jpeg ]; then printf 'djpeg -bmp\tdjpeg -bmp "$f" > "$o.bmp"\n'; fi
        printf 'ppmtobmp\t%s | ppmtobmp > "$o.bmp"\n' "$dec"
        ;;
    # netpbm's own reduction (pnmquant) takes over a minute a photo, so only
    # libjpeg's, which needs a JPEG source.
    gif) if [ "$1" = jpeg ]; then printf 'djpeg -gif\tdjpeg -colors 256 -gif "$f" > "$o.gif"\n'; fi ;;
    pcx) printf 'ppmtopcx\t%s | ppmtopcx > "$o.pcx"\n' "$dec" ;;
    png) printf 'pnmtopng\t%s | pnmtopng > "$o.png"\n' "$dec" ;;
    ico) printf 'pamscale | pamtowinicon\t%s | pamscale -xyfit 256 256 | pamtowinicon > "$o.ico"\n' "$dec" ;;
    tiff)
        printf 'pnmtotiff\t%s | pnmtotiff > "$o.tiff"\n' "$dec"
        printf 'ppm2tiff\t%s | ppm2tiff -c none "$o.tiff"\n' "$dec"
        ;;
    esac
}
vips_writes() { case $1 in jpg | png | tiff) return 0 ;; *) return 1 ;; esac }

# Runs one batch on the CPU: "seconds cpu-seconds bytes" on stdout, or "fail".
results=$work/results.txt
measure() { # set target tool label script
    local set=$1 target=$2 tool=$3 label=$4 script=$5 out=$work/out timing=$work/timing
    rm -rf "$out" && mkdir -p "$out"
    cat "$corpus/$set"/* >/dev/null # the sources come from the page cache for every tool
    local status=ok
    (cd "$out" && /usr/bin/time -f '%e %U %S' -o "$timing" \
        taskset -c "$cpu" bash -c "$script" per-core "$corpus/$set" "$target" >/dev/null 2>"$work/errors") ||
        status=fail
    local bytes seconds user system
    bytes=$(find "$out" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
    read -r seconds user system < <(tail -1 "$timing")
    [ "$bytes" -gt 0 ] || status=fail
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$set" "$target" "$tool" "$label" "$status" "$seconds" \
        "$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }')" "$bytes" >>"$results"
    [ $status = ok ] || say "$set $target $tool ($label) failed: $(head -c 300 "$work/errors")"
    rm -rf "$out"
}

# The batch scripts: $1 is the source folder, $2 the target.
velmora_script='exec "'$convert_tool'" "$2" . "$1"/*'
baseline_script='exec "'$baseline'" "$2" . "$1"/*'
# mogrify at its own settings: a JPEG's quality is kept, a PNG is zlib level 7
# with adaptive filters (a -quality would change those too). It fits icons
# into 256 x 256, since it cannot write a larger one.
mogrify_script='extra=(); [ "$2" = ico ] && extra=(-resize "256x256>"); exec mogrify -path . -format "$2" "${extra[@]}" "$1"/*'
vips_script='for f in "$1"/*; do vips copy "$f" "$(basename "$f").$2" || exit 1; done'
codec_script() { # one codec command run on every source
    echo 'for f in "$1"/*; do o=$(basename "$f"); '"$2"' || exit 1; done'
}

run_set() {
    local set=$1 target label command
    for target in $targets; do
        say "$set → $target"
        measure "$set" "$target" velmora velmora_convert "$velmora_script"
        [ -z "$baseline" ] || [ "$target" != tiff ] || [ "$set" = graphics ] ||
            measure "$set" "$target" baseline "before" "$baseline_script"
        measure "$set" "$target" mogrify mogrify "$mogrify_script"
        if vips_writes "$target"; then measure "$set" "$target" vips "vips copy" "$vips_script"; fi
        while IFS=$'\t' read -r label command; do
            measure "$set" "$target" codec "$label" "$(codec_script "$set" "$command")"
        done < <(codec_commands "$set" "$target")
    done
}

run_info=$work/run.txt
if $measure_now; then
    make_corpus
    make_graphics
    mkdir -p "$work"
    : >"$results"
    load_before=$(cut -d' ' -f1-3 /proc/loadavg)
    started=$(date -u '+%Y-%m-%d %H:%M UTC')
    for set in jpeg png graphics; do run_set "$set"; done
    load_after=$(cut -d' ' -f1-3 /proc/loadavg)
    printf '%s\n' "$started" "$cpu" "$load_before" "$load_after" >"$run_info"
fi
if [ ! -s "$results" ] || [ ! -s "$run_info" ]; then
    echo "no numbers in $work: run bench/per-core.sh without --report first" >&2
    exit 1
fi
{ read -r started && read -r cpu && read -r load_before && read -r load_after; } <"$run_info"

# ---- the report ---------------------------------------------------------------
echo "## Per-core table"
echo
echo "$started, $cpus CPUs, every tool on CPU $cpu alone (\`taskset -c $cpu\`, MAGICK_THREAD_LIMIT=1," \
    "VIPS_CONCURRENCY=1, OMP_NUM_THREADS=1); one run of each batch, wall clock with CPU time (user + system)" \
    "in brackets. Load average (1, 5, 15 min): $load_before before, $load_after after. Velmora's time" \
    "includes its durable write (each output flushed to disk before it is renamed into place); the others' do not." \
    "velmora_convert decodes and encodes every source, JPEG to JPG too (the batch carries a JPEG's own data over)."
echo
echo "Sources: $photo_count JPEG photos of 4000×3000 (quality $quality, 4:2:0), the same photos as PNG," \
    "and generated graphics ($(cd "$corpus/graphics" && ls | tr '\n' ' ' | sed 's/ $//'))." \
    "Codec tools: the fastest of those listed for the target (its name is in the cell)."
echo
awk -F'\t' -v targets="$targets" '
    function cell(k) { return (k in secs) ? sprintf("%.2f (%.2f) / %d", secs[k], cpu[k], bytes[k]) : "—" }
    function ratio(a, b) {
        if (!(a in secs) || !(b in secs) || secs[b] <= 0 || cpu[b] <= 0) return "—"
        return sprintf("%.2f (%.2f)", secs[a] / secs[b], cpu[a] / cpu[b])
    }
    $5 == "ok" {
        k = $1 SUBSEP $2 SUBSEP $3
        if ($3 == "codec") {
            if ((k in secs) && secs[k] <= $6) next
            label[k] = $4
        }
        secs[k] = $6; cpu[k] = $7; bytes[k] = $8
    }
    $5 == "fail" { failed[$1 SUBSEP $2 SUBSEP $3] = failed[$1 SUBSEP $2 SUBSEP $3] " " $4 }
    END {
        n = split(targets, t, " ")
        print "| source | target | Velmora s (CPU) / bytes | mogrify | vips copy | codec tools | tool | Velmora ÷ mogrify time (CPU) | Velmora ÷ mogrify bytes |"
        print "|---|---|---:|---:|---:|---:|---|---:|---:|"
        split("jpeg png graphics", sets, " ")
        for (s = 1; s <= 3; ++s) for (i = 1; i <= n; ++i) {
            v = sets[s] SUBSEP t[i] SUBSEP "velmora"; m = sets[s] SUBSEP t[i] SUBSEP "mogrify"
            c = sets[s] SUBSEP t[i] SUBSEP "codec"; x = sets[s] SUBSEP t[i] SUBSEP "vips"
            br = ((v in bytes) && (m in bytes) && bytes[m] > 0) ? sprintf("%.2f", bytes[v] / bytes[m]) : "—"
            tool = (c in label) ? label[c] : "—"
            gsub(/\|/, "\\|", tool) # a pipe would end the cell
            if (c in failed) tool = tool " (failed:" failed[c] ")"
            printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", sets[s], t[i], cell(v), cell(m), cell(x), cell(c), tool, ratio(v, m), br
        }
    }' "$results"

# The targets, each against the numbers above. A time target is judged on the
# wall clock and on the CPU time: on a loaded machine a tool may wait for its
# CPU, which only the wall clock counts, and the durable write waits for the
# disk, which only the wall clock counts too. Where the two disagree the line
# says so rather than choose.
echo
echo "### Targets"
echo
awk -F'\t' -v targets="$targets" '
    $5 == "ok" {
        k = $1 SUBSEP $2 SUBSEP $3
        if ($3 == "codec" && (k in secs) && secs[k] <= $6) next
        secs[k] = $6; cpu[k] = $7; bytes[k] = $8
    }
    function verdict(a, b, limit) {
        if (a <= limit && b <= limit) return "met"
        if (a > limit && b > limit) return "**not met**"
        return "unclear (wall and CPU disagree)"
    }
    function check(what, a, b, limit, kind,   w, c) {
        if (!(a in secs) || !(b in secs)) { printf "- %s: not measured\n", what; return }
        if (kind == "bytes") {
            w = bytes[a] / bytes[b]
            printf "- %s: %.2f× — %s\n", what, w, w <= limit ? "met" : "**not met**"
            return
        }
        w = secs[a] / secs[b]; c = cpu[b] > 0 ? cpu[a] / cpu[b] : 0
        printf "- %s: %.2f× wall, %.2f× CPU — %s\n", what, w, c, verdict(w, c, limit)
    }
    function key(s, t, tool) { return s SUBSEP t SUBSEP tool }
    END {
        check("from JPEG, PNG time at most vips copy", key("jpeg", "png", "velmora"), key("jpeg", "png", "vips"), 1, "time")
        check("from JPEG, TIFF time at most vips copy", key("jpeg", "tiff", "velmora"), key("jpeg", "tiff", "vips"), 1, "time")
        check("from JPEG, BMP time at most 1.15× the codec tools", key("jpeg", "bmp", "velmora"), key("jpeg", "bmp", "codec"), 1.15, "time")
        check("from JPEG, TIFF time at most 1.15× the codec tools", key("jpeg", "tiff", "velmora"), key("jpeg", "tiff", "codec"), 1.15, "time")
        n = split(targets, t, " ")
        for (i = 1; i <= n; ++i)
            check("from PNG, " toupper(t[i]) " time at most 0.5× mogrify", key("png", t[i], "velmora"), key("png", t[i], "mogrify"), 0.5, "time")
        split("jpeg png", sets, " ")
        for (s = 1; s <= 2; ++s) {
            check("from " toupper(sets[s]) ", PNG bytes at most mogrify", key(sets[s], "png", "velmora"), key(sets[s], "png", "mogrify"), 1, "bytes")
            check("from " toupper(sets[s]) ", PNG time at most 0.1× mogrify", key(sets[s], "png", "velmora"), key(sets[s], "png", "mogrify"), 0.1, "time")
            check("from " toupper(sets[s]) ", GIF time at most 0.15× mogrify", key(sets[s], "gif", "velmora"), key(sets[s], "gif", "mogrify"), 0.15, "time")
        }
        check("graphics, TIFF bytes at most 2× mogrify", key("graphics", "tiff", "velmora"), key("graphics", "tiff", "mogrify"), 2, "bytes")
        for (s = 1; s <= 2; ++s)
            check("from " toupper(sets[s]) ", photo TIFF time no slower than before", key(sets[s], "tiff", "velmora"), key(sets[s], "tiff", "baseline"), 1, "time")
    }' "$results"
[ -n "$baseline" ] || echo "  (\"before\" is measured when VELMORA_BASELINE_CONVERT names an older velmora_convert.)"
