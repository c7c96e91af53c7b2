#!/bin/bash
# A kelvo confined to one processor renders in one process, with no worker: under `taskset -c 0`
# the test build of kelvo (whose workers end when they check a file named crash_check..., as
# they do with --levels auto) must render every frame; with every processor, the same run starts
# workers and fails.
#   one_cpu_workers_test.sh KELVO_STALLING PNG PALETTE
set -euo pipefail
stalling=$1
palette=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for n in 1 2 3; do cp "$2" "$work/crash_check_000$n.png"; done
render() {
    "$@" render -q --levels auto --palette "$palette" --output "$work/out/f_####.pcx" "$work"/crash_check_000?.png
}
if ! render taskset -c 0 "$stalling" 2>"$work/errors"; then
    echo "FAILED: kelvo under taskset -c 0 started workers:" >&2
    cat "$work/errors" >&2
    exit 1
fi
[ "$(find "$work/out" -name 'f_*.pcx' | wc -l)" -eq 3 ] || { echo "FAILED: not 3 frames" >&2; exit 1; }
# Without the record of the levels measured above, which would spare the workers their check.
rm -rf "$work/out"
if [ "$(nproc)" -gt 1 ] && render "$stalling" 2>/dev/null; then
    echo "FAILED: with $(nproc) processors kelvo started no worker, so this test shows nothing" >&2
    exit 1
fi
echo passed
