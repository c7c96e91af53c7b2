#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time (default 60 s) on a copy of
# its seed corpus. Crashing inputs go to build/fuzz/artifacts/; any crash fails the run.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
targets=("$@")
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(ls tests/fuzz/corpus)

artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"
status=0
for target in "${targets[@]}"; do
    corpus=$(mktemp -d)
    cp -r "tests/fuzz/corpus/$target/." "$corpus/"
    log=build/fuzz/$target.log
    echo "== $target: ${seconds}s"
    # Every size is checked before kelvo or a library allocates for it, so no input may need
    # more than a legitimate small one: the image decoders' target reads with a pixel budget
    # of 1 Mi pixels (a frame of 10 MiB, and at most 64 MiB for OpenEXR's buffers). Keep the
    # sanitizer from hoarding freed blocks. Inputs are slow under the sanitizer on a loaded
    # machine, hence the generous per-input timeout.
    if ASAN_OPTIONS="quarantine_size_mb=64${ASAN_OPTIONS:+:$ASAN_OPTIONS}" \
        build/fuzz/tests/fuzz/"$target" -max_total_time="$seconds" -timeout=60 \
        -rss_limit_mb=512 -malloc_limit_mb=128 \
        -artifact_prefix="$artifacts/$target-" -print_final_stats=1 "$corpus" >"$log" 2>&1; then
        grep -E '^stat::number_of_executed_units|^Done' "$log" | tail -2
    else
        echo "$target FAILED; see $log"
        grep -E 'ERROR|check failed|SUMMARY' "$log" | head -5
        status=1
    fi
    rm -rf "$corpus"
done
exit $status
