#!/usr/bin/env bash
# kelvo render against the tools users would otherwise pick, on the same 1080p frames of smooth
# colours and one 256-entry palette, nearest colour without dither, PCX frames out:
#   ffmpeg's paletteuse filter (dither=none), with its default threads and with one thread;
#   Pillow's Image.quantize(palette, dither=NONE), one process.
# Runs alternate (kelvo, then ffmpeg, then Pillow, RUNS times) so that other work on the
# machine falls on all alike; the fastest run of each counts. Peak memory is that of the whole
# process tree (kelvo's workers included). For each tool: the share of pixels not given the
# nearest entry in 8-bit RGB.
# Then sprites: 2,000 frames of 128 x 128 RGBA, with an identifier pass and without, against
# ffmpeg's default threads, with the processor seconds of each, and the system calls kelvo
# makes a frame (strace -c -f over 200 frames, with -j 1 and -j 2; left out without strace).
#   bench/compare_peers.sh [RUNS] [WIDTH] [HEIGHT] [SEED]   (defaults: 3, 1920, 1080, 1)
#   bench/compare_peers.sh sprites [RUNS]                   (the sprites alone)
# SEED picks ffmpeg's gradient pattern: the tools' speeds depend on it (by a fifth between
# patterns), so runs compare only with the same seed. KELVO=PATH measures that kelvo rather
# than the one built with the native-release preset.
# Beside each case its floor: what kelvo's own readers take to decode the inputs alone and its
# frame writer to write as many PCX frames of that size alone (bench/io_floor.cpp), fastest of
# RUNS. Run it alone on a quiet machine: its figures go in the README's Performance section.
set -euo pipefail
cd "$(dirname "$0")/.."
sprites_only=0
if [ "${1:-}" = sprites ]; then
    sprites_only=1
    shift
fi
runs=${1:-3}
width=${2:-1920}
height=${3:-1080}
seed=${4:-1}

if [ -n "${KELVO:-}" ]; then
    kelvo=$(realpath "$KELVO")
    floor=$(dirname "$kelvo")/bench/kelvo_io_floor
else
    scripts/install-deps.sh bench
    cmake --preset native-release >/dev/null
    cmake --build --preset native-release --target kelvo kelvo_io_floor >/dev/null
    kelvo=$PWD/build/native-release/kelvo
    floor=$PWD/build/native-release/bench/kelvo_io_floor
fi
# Debian's Python, which Debian's Pillow and NumPy belong to (another python3 may come first).
py=/usr/bin/python3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Writes ffmpeg's palette image `$1` as the PCX file `$2` with a 256-colour palette, for kelvo.
pcx_palette() {
    "$py" - "$1" "$2" <<'PY'
import sys
from PIL import Image
colours = list(Image.open(sys.argv[1]).convert("RGB").getdata())
colours += [(0, 0, 0)] * (256 - len(colours))
pcx = Image.new("P", (1, 1))
pcx.putpalette([c for colour in colours for c in colour])
pcx.save(sys.argv[2])
PY
}

# The floor of a case: "floor: decode S s (LABEL), write S s (COUNT PCX of W x H)", each the
# fastest of `runs` (no write when COUNT is 0); left out when kelvo_io_floor is not built beside
# the measured kelvo.
#   show_floor LABEL WIDTH HEIGHT COUNT DECODE_ARGS...
show_floor() {
    local label=$1 width=$2 height=$3 count=$4 decode=9e9 write=9e9 seconds
    shift 4
    if [ ! -x "$floor" ]; then
        return
    fi
    for _ in $(seq "$runs"); do
        seconds=$("$py" bench/measure.py "$floor" "$@")
        decode=$(awk -v a="${seconds%% *}" -v b="$decode" 'BEGIN { print (a < b ? a : b) }')
        [ "$count" -gt 0 ] || continue
        rm -rf "$work/out-floor" && mkdir -p "$work/out-floor"
        seconds=$("$py" bench/measure.py "$floor" write "$width" "$height" "$count" \
            "$work/out-floor/w.pcx")
        write=$(awk -v a="${seconds%% *}" -v b="$write" 'BEGIN { print (a < b ? a : b) }')
    done
    if [ "$count" -eq 0 ]; then
        printf "floor: decode %.3f s (%s)\n" "$decode" "$label"
        return
    fi
    printf "floor: decode %.3f s (%s), write %.3f s (%d PCX of %d x %d)\n" "$decode" "$label" \
        "$write" "$count" "$width" "$height"
}

sprites=2000
# Sprite frames: a shaded disc moving over a transparent background, and its identifiers (1 the
# disc, 2 its centre, 0 the background) as a grey PNG; ffmpeg's palette for them.
make_sprites() {
    mkdir -p "$work/spr"
    "$py" - "$work/spr" "$sprites" <<'PY'
import math
import sys
from PIL import Image, ImageDraw
out, count = sys.argv[1], int(sys.argv[2])
for i in range(1, count + 1):
    t = i / count
    colour = Image.new("RGBA", (128, 128), (0, 0, 0, 0))
    ids = Image.new("L", (128, 128), 0)
    x = 64 + 30 * math.cos(2 * math.pi * 3 * t)
    y = 64 + 30 * math.sin(2 * math.pi * 5 * t)
    for r in range(40, 0, -4):
        shade = 255 * r // 40
        ImageDraw.Draw(colour).ellipse((x - r, y - r, x + r, y + r),
                                       fill=(shade, int(255 * t), 255 - shade, 255))
    ImageDraw.Draw(ids).ellipse((x - 40, y - 40, x + 40, y + 40), fill=1)
    ImageDraw.Draw(ids).ellipse((x - 12, y - 12, x + 12, y + 12), fill=2)
    colour.save("%s/s_%04d.png" % (out, i))
    ids.save("%s/id_%04d.png" % (out, i))
PY
    ffmpeg -v error -i "$work/spr/s_%04d.png" \
        -vf "palettegen=max_colors=256:reserve_transparent=0" -frames:v 1 "$work/spr-palette.png"
    pcx_palette "$work/spr-palette.png" "$work/spr-palette.pcx"
}

# One run of a tool on the sprites: "SECONDS PEAK_MIB CPU_SECONDS".
run_sprites() {
    local tool=$1 out=$2
    rm -rf "$out" && mkdir -p "$out"
    case $tool in
        kelvo) "$py" bench/measure.py --cpu "$kelvo" render -q --palette "$work/spr-palette.pcx" \
                   --output "$out/k.pcx" "$work"/spr/s_*.png ;;
        kelvo-ids) "$py" bench/measure.py --cpu "$kelvo" render -q \
                       --palette "$work/spr-palette.pcx" --ids "$work/spr/id_####.png" \
                       --output "$out/k.pcx" "$work"/spr/s_*.png ;;
        ffmpeg) "$py" bench/measure.py --cpu ffmpeg -v error -i "$work/spr/s_%04d.png" \
                    -i "$work/spr-palette.png" -lavfi "paletteuse=dither=none" "$out/f_%04d.pcx" ;;
    esac
}

# The fastest of `runs` alternating runs of each tool on the sprites, reported with the
# processor seconds of that run, and kelvo's system calls a frame.
compare_sprites() {
    local -A best
    for _ in $(seq "$runs"); do
        for tool in kelvo kelvo-ids ffmpeg; do
            local result
            result=$(run_sprites "$tool" "$work/out-spr-$tool")
            if [ -z "${best[$tool]:-}" ] || awk -v a="${result%% *}" -v b="${best[$tool]%% *}" \
                'BEGIN { exit !(a < b) }'; then
                best[$tool]=$result
            fi
        done
    done
    echo "== $sprites sprite frames of 128 x 128 RGBA, nearest over 256, PCX out"
    for tool in kelvo kelvo-ids ffmpeg; do
        echo "$tool ${best[$tool]}"
    done | awk -v frames="$sprites" '
        { seconds[$1] = $2; peak[$1] = $3; cpu[$1] = $4; order[++n] = $1 }
        END {
            for (i = 1; i <= n; ++i) {
                t = order[i]
                printf "%-10s %7.3f s  %7.1f frames/s  CPU %6.3f s  peak %6.1f MiB\n", t,
                       seconds[t], frames / seconds[t], cpu[t], peak[t]
            }
            for (i = 1; i <= 2; ++i) {
                t = order[i]
                printf "%s against ffmpeg: %.2f x the throughput (target >= 1.5 x), " \
                       "%.2f x its CPU seconds (target <= 1)\n", t,
                       seconds["ffmpeg"] / seconds[t], cpu[t] / cpu["ffmpeg"]
            }
        }'
    show_floor "colour" 128 128 "$sprites" decode "$work"/spr/s_*.png
    show_floor "identifiers" 128 128 0 decode-ids "$work"/spr/id_*.png
    if ! command -v strace >/dev/null; then
        echo "system calls a frame: strace is not installed"
        return
    fi
    for jobs in 1 2; do
        rm -rf "$work/out-strace"
        strace -c -f -o "$work/strace-$jobs" "$kelvo" render -q -j "$jobs" --frames 1-200 \
            --palette "$work/spr-palette.pcx" --output "$work/out-strace/f_####.pcx" \
            "$work/spr/s_####.png"
        awk -v jobs="$jobs" '
            # Columns: % time, seconds, usecs/call, calls, [errors,] syscall.
            $NF == "total" { total = $4 }
            $1 ~ /^[0-9.]+$/ && $NF != "total" && $4 / 200 >= 0.5 {
                parts = parts sprintf(" %s %.1f,", $NF, $4 / 200)
            }
            END { printf "system calls a frame, -j %d (strace -c -f, 200 frames): %.1f (%s )\n",
                         jobs, total / 200, parts }' "$work/strace-$jobs"
    done
}

if [ "$sprites_only" = 1 ]; then
    make_sprites
    compare_sprites
    exit 0
fi

# Frames: ffmpeg's moving colour gradients, 8-bit RGB, and a 16-bit copy of the first 16.
ffmpeg -v error -f lavfi -i "gradients=s=${width}x${height}:n=6:speed=0.02:r=24:seed=${seed}" \
    -frames:v 64 -pix_fmt rgb24 "$work/in8_%04d.png"
mkdir -p "$work/seq16" "$work/seq64" "$work/deep16"
for i in $(seq 64); do
    n=$(printf %04d "$i")
    ln -s "$work/in8_$n.png" "$work/seq64/beauty_$n.png"
    if [ "$i" -le 16 ]; then
        ln -s "$work/in8_$n.png" "$work/seq16/beauty_$n.png"
        ffmpeg -v error -i "$work/in8_$n.png" -pix_fmt rgb48be "$work/deep16/beauty_$n.png"
    fi
done
# The palette: ffmpeg's own choice for the sequence, as a 16 x 16 image, and as the PCX file
# with a 256-colour palette that kelvo reads.
ffmpeg -v error -i "$work/in8_%04d.png" -vf "palettegen=max_colors=256:reserve_transparent=0" \
    -frames:v 1 "$work/palette.png"
pcx_palette "$work/palette.png" "$work/palette.pcx"
cat >"$work/pillow.py" <<'PY'
import sys
from PIL import Image
colours = list(Image.open(sys.argv[1]).convert("RGB").getdata())
palette = Image.new("P", (1, 1))
palette.putpalette([c for colour in colours for c in colour])
for source in sys.argv[3:]:
    frame = Image.open(source).convert("RGB")
    out = frame.quantize(palette=palette, dither=Image.Dither.NONE)
    out.save("%s/p_%s.pcx" % (sys.argv[2], source[-8:-4]))
PY

# One run of a tool on a sequence: "SECONDS PEAK_MIB".
run() {
    local tool=$1 seq=$2 out=$3
    rm -rf "$out" && mkdir -p "$out"
    case $tool in
        kelvo-j1) "$py" bench/measure.py "$kelvo" render -q -j 1 --palette "$work/palette.pcx" \
                      --output "$out/k.pcx" "$seq"/beauty_*.png ;;
        kelvo) "$py" bench/measure.py "$kelvo" render -q --palette "$work/palette.pcx" \
                   --output "$out/k.pcx" "$seq"/beauty_*.png ;;
        ffmpeg-t1) "$py" bench/measure.py ffmpeg -v error -threads 1 -filter_threads 1 \
                       -i "$seq/beauty_%04d.png" -i "$work/palette.png" \
                       -lavfi "paletteuse=dither=none" -threads 1 "$out/f_%04d.pcx" ;;
        ffmpeg) "$py" bench/measure.py ffmpeg -v error -i "$seq/beauty_%04d.png" \
                    -i "$work/palette.png" -lavfi "paletteuse=dither=none" "$out/f_%04d.pcx" ;;
        pillow) "$py" bench/measure.py "$py" "$work/pillow.py" "$work/palette.png" "$out" \
                    "$seq"/beauty_*.png ;;
    esac
}

# The fastest of `runs` alternating runs of each tool: lines "TOOL SECONDS PEAK_MIB".
compare() {
    local seq=$1
    shift
    local -A best
    for _ in $(seq "$runs"); do
        for tool in "$@"; do
            local result
            result=$(run "$tool" "$seq" "$work/out-$tool")
            if [ -z "${best[$tool]:-}" ] || awk -v a="${result% *}" -v b="${best[$tool]% *}" \
                'BEGIN { exit !(a < b) }'; then
                best[$tool]=$result
            fi
        done
    done
    for tool in "$@"; do
        echo "$tool ${best[$tool]}"
    done
}

share() {
    "$py" bench/nearest_share.py "$work/palette.png" "$work/in8_%04d.png" "$1" 1 2 3 4
}

report() {
    local frames=$1 label=$2
    shift 2
    echo "== $label"
    awk -v frames="$frames" '
        { seconds[$1] = $2; peak[$1] = $3; order[++n] = $1 }
        END {
            for (i = 1; i <= n; ++i) {
                t = order[i]
                printf "%-10s %7.3f s  %6.2f frames/s  peak %6.1f MiB\n", t, seconds[t],
                       frames / seconds[t], peak[t]
            }
            if ("kelvo" in seconds && "ffmpeg" in seconds)
                printf "kelvo against ffmpeg, default threads: %.2f x   target >= 2 x\n",
                       seconds["ffmpeg"] / seconds["kelvo"]
            if ("kelvo-j1" in seconds && "ffmpeg-t1" in seconds)
                printf "kelvo -j 1 against ffmpeg -threads 1: %.2f x   target >= 1.5 x\n",
                       seconds["ffmpeg-t1"] / seconds["kelvo-j1"]
        }' <<<"$(cat)"
}

echo "$(nproc) cores; frames of ${width} x ${height}, pattern $seed; fastest of $runs alternating runs"
compare "$work/seq16" kelvo ffmpeg kelvo-j1 ffmpeg-t1 pillow | report 16 "16 frames, 8-bit"
echo "pixels not at the nearest entry (8-bit RGB, frames 1-4):" \
     "kelvo $(share "$work/out-kelvo/k%04d.pcx")," \
     "ffmpeg $(share "$work/out-ffmpeg/f_%04d.pcx")," \
     "Pillow $(share "$work/out-pillow/p_%04d.pcx")"
compare "$work/seq64" kelvo ffmpeg kelvo-j1 ffmpeg-t1 | report 64 "64 frames, 8-bit"
show_floor "64 frames" "$width" "$height" 64 decode "$work"/seq64/beauty_*.png
compare "$work/deep16" kelvo ffmpeg | report 16 "16 frames, 16-bit"
make_sprites
compare_sprites
