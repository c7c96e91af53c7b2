#!/usr/bin/env bash
# Throughput of `kelvo render -j N` against `-j 1` on a sequence of 1080p 16-bit PNG frames
# with identifier passes, nearest colour on each identifier's ramp of the palette: the files
# must be the same byte for byte, and the fastest of RUNS runs of each gives the ratio. The
# runs alternate, so that other work on the machine falls on both alike.
#   bench/compare_jobs.sh [FRAMES] [JOBS] [RUNS]     (defaults: 16, the number of cores, 3)
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-16}
jobs=${2:-$(nproc)}
runs=${3:-3}

scripts/install-deps.sh bench
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target kelvo kelvo_bench_frame >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/native-release/bench/kelvo_bench_frame --palette "$work/palette.ppm"
# kelvo reads the palette as the raw 768 bytes that end the 16 x 16 PPM file.
tail -c 768 "$work/palette.ppm" >"$work/palette.pal"
for i in $(seq "$frames"); do
    n=$(printf %04d "$i")
    build/native-release/bench/kelvo_bench_frame --frame "$i" "$work/f$n.ppm" "$work/i$n.pgm"
    convert "$work/f$n.ppm" -quality 15 -define png:bit-depth=16 "PNG48:$work/beauty_$n.png"
    convert "$work/i$n.pgm" -define png:color-type=0 -define png:bit-depth=8 "$work/ids_$n.png"
    rm "$work/f$n.ppm" "$work/i$n.pgm"
done

render() {
    local out=$1
    shift
    rm -rf "$out"
    mkdir -p "$out"
    build/native-release/kelvo render -q "$@" --palette "$work/palette.pal" --palette-depth 8 \
        --ids "$work/ids_####.png" --method nearest --range 0:0-15 --range 1:16-31 \
        --range 2:32-47 --range 3:48-63 --range 4:64-79 --range 5:80-95 \
        --output "$out/frame.pcx" "$work"/beauty_*.png
}

# The wall-clock time, in seconds, of one render with the given options.
timed() {
    local out=$1 start end
    shift
    start=$(date +%s%N)
    render "$out" "$@"
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}

faster() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

one="" many=""
for _ in $(seq "$runs"); do
    one=$(faster "$(timed "$work/one" -j 1)" "$one")
    many=$(faster "$(timed "$work/many" -j "$jobs")" "$many")
done
for file in "$work"/one/*.pcx; do
    cmp "$file" "$work/many/$(basename "$file")"
done
echo "$frames frames of 1920 x 1080, the same files with -j 1 and -j $jobs ($(nproc) cores)"
awk -v f="$frames" -v a="$one" -v b="$many" -v j="$jobs" 'BEGIN {
    printf "-j 1:  %.3f s, %.2f frames/s\n", a, f / a
    printf "-j %d:  %.3f s, %.2f frames/s\n", j, b, f / b
    r = a / b
    printf "throughput ratio: %.2f x   target >= 1.8 on 2 cores   %s\n", r, (r >= 1.8 ? "met" : "MISSED")
}'
