#!/usr/bin/env bash
# Injects file-system faults while a frame is written and checks that the disk stays
# consistent: no partial or temporary file, an existing file of the same name intact, and the
# render still returning 1.
#   fault_test.sh RENDER_ONE_FRAME FAULT_SHIM
set -uo pipefail
render=$1
shim=$2
work=$(mktemp -d)
trap 'umount "$work/small" 2>/dev/null; rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Runs one fault against a directory holding an older frame0001.pcx.
check_fault() {
    local fault=$1
    local dir=$work/$2
    rm -rf "$dir" && mkdir -p "$dir"
    printf 'older frame' >"$dir/frame0001.pcx"
    local output
    output=$(KELVO_FAULT=$fault KELVO_FAULT_DIR=$dir LD_PRELOAD=$shim "$render" "$dir/frame.pcx" 1)
    [ "$output" = "result 1" ] || fail "$fault: render answered '$output'"
    if [ "$fault" = vanish ]; then
        [ ! -e "$dir" ] || fail "$fault: the vanished directory came back: $(ls -A "$dir")"
        return
    fi
    [ "$(cat "$dir/frame0001.pcx")" = "older frame" ] || fail "$fault: the older frame was damaged"
    [ "$(find "$dir" -mindepth 1 -printf '%f\n')" = frame0001.pcx ] || fail "$fault: left behind: $(find "$dir" -mindepth 1 -printf '%f ')"
}

for fault in enospc:0 enospc:100 enospc:128 enospc:5000 enospc:19000 close eacces vanish; do
    check_fault "$fault" "${fault/:/-}"
done

# Without a fault the same run replaces the older frame.
dir=$work/control
mkdir -p "$dir" && printf 'older frame' >"$dir/frame0001.pcx"
KELVO_FAULT="" KELVO_FAULT_DIR=$dir LD_PRELOAD=$shim "$render" "$dir/frame.pcx" 1 >/dev/null
size=$(stat -c %s "$dir/frame0001.pcx")
[ "$size" -gt 897 ] || fail "control: frame not written (size $size)"

# A real full disk, where this machine lets us mount a small tmpfs.
mkdir -p "$work/small"
if mount -t tmpfs -o size=12k tmpfs "$work/small" 2>/dev/null; then
    printf 'older frame' >"$work/small/frame0001.pcx"
    output=$("$render" "$work/small/frame.pcx" 1)
    [ "$output" = "result 1" ] || fail "full tmpfs: render answered '$output'"
    [ "$(cat "$work/small/frame0001.pcx")" = "older frame" ] || fail "full tmpfs: older frame damaged"
    [ "$(ls -A "$work/small")" = frame0001.pcx ] || fail "full tmpfs: left behind: $(ls -A "$work/small")"
else
    echo "note: cannot mount a tmpfs here; the real full-disk case is skipped"
fi

if [ $failures -ne 0 ]; then
    echo "$failures fault check(s) failed"
    exit 1
fi
echo "all fault checks passed"
