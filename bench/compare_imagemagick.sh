#!/usr/bin/env bash
# kelvo render against ImageMagick on the same 1080p 16-bit PNG, nearest colour over the whole
# 256-entry palette: `kelvo render --method nearest --range 0:0-255` beside
# `convert FRAME +dither -remap PALETTE OUT.pcx`. Both outputs must decode; their colours are
# compared (ImageMagick orders the palette its own way), and the fastest of RUNS runs of each
# gives the speed ratio. Installs ImageMagick when it is missing.
#   bench/compare_imagemagick.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}

scripts/install-deps.sh bench
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target kelvo kelvo_bench_frame >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/native-release/bench/kelvo_bench_frame --frame 1 --palette "$work/palette.ppm" \
    "$work/frame.ppm"
convert "$work/frame.ppm" -define png:bit-depth=16 "PNG48:$work/frame.png"
convert "$work/palette.ppm" "$work/palette.png"
# kelvo reads the palette as the raw 768 bytes that end the 16 x 16 PPM file.
tail -c 768 "$work/palette.ppm" >"$work/palette.pal"
echo "input: $(identify -format '%w x %h, %z-bit %[colorspace] PNG' "$work/frame.png"); palette:" \
    "$(identify -format '%k' "$work/palette.png") colours of 256 entries (16 ramps of 16 shades)"

# The fastest wall-clock time, in seconds, of RUNS runs of the command.
fastest() {
    local best="" start end seconds
    for _ in $(seq "$runs"); do
        start=$(date +%s%N)
        "$@"
        end=$(date +%s%N)
        seconds=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')
        if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$seconds
        fi
    done
    echo "$best"
}

kelvo=(build/native-release/kelvo render -q -j 1 --method nearest --range 0:0-255
       --palette "$work/palette.pal" --palette-depth 8 --output "$work/kelvo.pcx" "$work/frame.png")
magick=(convert "$work/frame.png" +dither -remap "$work/palette.png" "$work/magick.pcx")
kelvoSeconds=$(fastest "${kelvo[@]}")
magickSeconds=$(fastest "${magick[@]}")

# Both files must decode (each read by the other program's reader as well as its own).
kelvoFile="$work/kelvo0000.pcx"
for file in "$kelvoFile" "$work/magick.pcx"; do
    identify -format '%f: %w x %h, %k colours\n' "$file"
    convert "$file" "PNG24:${file%.pcx}.png"
done
differing=$(compare -metric AE "$work/kelvo0000.png" "$work/magick.png" null: 2>&1 || true)
kelvoError=$(compare -metric RMSE "$work/frame.png" "$work/kelvo0000.png" null: 2>&1 || true)
magickError=$(compare -metric RMSE "$work/frame.png" "$work/magick.png" null: 2>&1 || true)
pixels=$((1920 * 1080))

echo
echo "kelvo render:          $kelvoSeconds s (fastest of $runs)"
echo "ImageMagick convert:   $magickSeconds s (fastest of $runs)"
awk -v k="$kelvoSeconds" -v m="$magickSeconds" \
    'BEGIN { r = m / k; printf "speed ratio:           %.1f x   target >= 20   %s\n", r, (r >= 20 ? "met" : "MISSED") }'
echo "pixels of another colour: $differing of $pixels" \
    "($(awk -v d="$differing" -v p=$pixels 'BEGIN { printf "%.2f", 100 * d / p }') %)"
echo "RMS error against the frame: kelvo $kelvoError, ImageMagick $magickError"
