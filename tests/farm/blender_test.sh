#!/bin/bash
# The Blender add-on (blender/kelvo_blender) in Debian's Blender, headless: a scene saved with
# the add-on's settings renders 2 frames as a farm worker would (blender -b scene.blend -a),
# and the add-on's PCX frames must be those of kelvo run directly on the same OpenEXR files,
# which also proves the pass channel names; the operator palettises rendered frames from the
# Material Index pass; a wrong palette path is reported.
#   blender_test.sh KELVO
set -euo pipefail
kelvo=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
addon=$(cd "$here/../../blender/kelvo_blender" && pwd)
started=$SECONDS
step() { echo "== $(printf '%3d' $((SECONDS - started)))s: $*"; }
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
command -v blender >/dev/null || fail "blender is missing: run scripts/install-deps.sh all"

work=$(mktemp -d /tmp/kelvo-blender.XXXXXX)
trap '[ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
mkdir -p "$work/scripts/addons" "$work/home" "$work/direct"
ln -s "$addon" "$work/scripts/addons/kelvo_blender"
# The add-on is found in a scripts folder of the test's own; Blender keeps its settings in a
# home of the test's own.
export BLENDER_USER_SCRIPTS=$work/scripts HOME=$work/home
blend() {
    local status=0
    blender -b --factory-startup --python-exit-code 3 "$@" \
        >>"$work/blender.log" 2>&1 || status=$?
    if [ $status -ne 0 ] || grep -q "Traceback" "$work/blender.log"; then
        tail -n 30 "$work/blender.log"
        fail "blender $* exited $status"
    fi
}
"$kelvo" demo -q "$work/demo"
ranges=(--range 0:0-31 --range 1:32-95:dither --range 2:96-159:dither --range 3:160-223)
same_frames() {
    for n in 1 2; do
        cmp "$1$n.pcx" "$2$n.pcx" || fail "$1$n.pcx and $2$n.pcx differ"
    done
}

step "the scene, saved with the add-on's settings"
blend --addons kelvo_blender --python "$here/blender_scene.py" -- "$work" "$kelvo"
step "an animation render of the saved scene (Cycles, 2 frames)"
blend --addons kelvo_blender "$work/scene.blend" -a
"$kelvo" render -q --palette "$work/demo/demo-palette.pcx" --method uniform --source object \
    --id-channel ViewLayer.IndexOB.X "${ranges[@]}" --output "$work/direct/object_####.pcx" \
    "$work"/render/shot_000[12].exr
same_frames "$work/addon/frame_000" "$work/direct/object_000"
step "the add-on's frames are kelvo's own (ViewLayer.IndexOB.X)"

# Loaded as Blender 4.2 and later load an extension, as a module of another package
# (bl_ext.REPOSITORY.NAME): nothing in the add-on may name its own module.
mkdir -p "$work/ext/bl_ext/user_default"
touch "$work/ext/bl_ext/__init__.py" "$work/ext/bl_ext/user_default/__init__.py"
ln -s "$addon" "$work/ext/bl_ext/user_default/kelvo_blender"
blend "$work/scene.blend" --python-expr "
import bpy, importlib, sys
sys.path.insert(0, '$work/ext')
importlib.import_module('bl_ext.user_default.kelvo_blender').register()
settings = bpy.context.scene.kelvo
settings.source = 'MATERIAL'
settings.output = '//material/frame_####.pcx'
assert bpy.ops.kelvo.palettise_frames() == {'FINISHED'}"
"$kelvo" render -q --palette "$work/demo/demo-palette.pcx" --method uniform --source material \
    --id-channel ViewLayer.IndexMA.X "${ranges[@]}" --output "$work/direct/material_####.pcx" \
    "$work"/render/shot_000[12].exr
same_frames "$work/material/frame_000" "$work/direct/material_000"
cmp -s "$work/material/frame_0001.pcx" "$work/addon/frame_0001.pcx" &&
    fail "the Material Index frames are the Object Index ones"
step "the operator palettises rendered frames (ViewLayer.IndexMA.X), in an extension's package"

: >"$work/blender.log"
blend --addons kelvo_blender "$work/scene.blend" --python-expr "
import bpy
settings = bpy.context.scene.kelvo
settings.palette = '//no-such-palette.pcx'
settings.output = '//wrong/frame_####.pcx'" -f 1
grep -q "Error: kelvo failed on frame 1 (exit code 2): kelvo: cannot read.*no-such-palette.pcx" \
    "$work/blender.log" || {
    cat "$work/blender.log"
    fail "the wrong palette path was not reported"
}
[ ! -e "$work/wrong" ] || fail "a frame was written without its palette"
step "a wrong palette path is reported: $(grep -m1 -o 'Error: kelvo.*' "$work/blender.log")"
echo "passed in $((SECONDS - started)) s"
