#!/usr/bin/env bash
# kelvo render against the tools users would otherwise pick, on the same 1080p frames of smooth
# colours and one 256-entry palette, nearest colour without dither, PCX frames out:
#   ffmpeg's paletteuse filter (dither=none), with its default threads and with one thread;
#   Pillow's Image.quantize(palette, dither=NONE), one process.
# Runs alternate (kelvo, then ffmpeg, then Pillow, RUNS times) so that other work on the
# machine falls on all alike; the fastest run of each counts. Peak memory is that of the whole
# process tree (kelvo's workers included). For each tool: the share of pixels not given the
# nearest entry in 8-bit RGB.
#   bench/compare_peers.sh [RUNS] [WIDTH] [HEIGHT] [SEED]   (defaults: 3, 1920, 1080, 1)
# SEED picks ffmpeg's gradient pattern: the tools' speeds depend on it (by a fifth between
# patterns), so runs compare only with the same seed.
# Run it alone on a quiet machine: its figures go in the README's Performance section.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
width=${2:-1920}
height=${3:-1080}
seed=${4:-1}

scripts/install-deps.sh bench
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target kelvo >/dev/null
kelvo=$PWD/build/native-release/kelvo
# Debian's Python, which Debian's Pillow and NumPy belong to (another python3 may come first).
py=/usr/bin/python3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

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
"$py" - "$work/palette.png" "$work/palette.pcx" <<'PY'
import sys
from PIL import Image
colours = list(Image.open(sys.argv[1]).convert("RGB").getdata())
colours += [(0, 0, 0)] * (256 - len(colours))
pcx = Image.new("P", (1, 1))
pcx.putpalette([c for colour in colours for c in colour])
pcx.save(sys.argv[2])
PY
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
                printf "kelvo against ffmpeg, default threads: %.2f x   target >= 1.5 x\n",
                       seconds["ffmpeg"] / seconds["kelvo"]
            if ("kelvo-j1" in seconds && "ffmpeg-t1" in seconds)
                printf "kelvo -j 1 against ffmpeg -threads 1: %.2f x   target >= 1.3 x\n",
                       seconds["ffmpeg-t1"] / seconds["kelvo-j1"]
        }' <<<"$(cat)"
}

echo "$(nproc) cores; frames of ${width} x ${height}, pattern $seed; fastest of $runs alternating runs"
compare "$work/seq16" kelvo ffmpeg kelvo-j1 ffmpeg-t1 pillow | report 16 "16 frames, 8-bit"
echo "pixels not at the nearest entry (8-bit RGB, frames 1-4):" \
     "kelvo $(share "$work/out-kelvo/k%04d.pcx")," \
     "ffmpeg $(share "$work/out-ffmpeg/f_%04d.pcx")," \
     "Pillow $(share "$work/out-pillow/p_%04d.pcx")"
compare "$work/seq64" kelvo ffmpeg | report 64 "64 frames, 8-bit"
compare "$work/deep16" kelvo ffmpeg | report 16 "16 frames, 16-bit"
