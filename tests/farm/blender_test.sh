#!/bin/bash
# The Blender add-on as users install it, in Debian's Blender with a configuration of its own:
# the zip installed and enabled by Blender's operators; a saved scene rendered headless as a
# farm worker would (blender -b scene.blend -a), kelvo found once on the PATH (PCX and PNG per
# frame) and once through the saved preference (auto levels and a GIF, one run at the end):
# every file equals kelvo's own on the same OpenEXR files. A failing palettisation and a missing
# kelvo make Blender exit 1; the panel, in a window (Xvfb), says which kelvo it runs or that it
# is missing; loaded as 4.2+ loads an extension, the add-on runs the kelvo an old .blend names.
#   blender_test.sh KELVO
set -euo pipefail
kelvo=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
started=$SECONDS
step() { echo "== $(printf '%3d' $((SECONDS - started)))s: $*"; }
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
blender=$(command -v blender) || fail "blender is missing: run scripts/install-deps.sh all"
timeout=$(command -v timeout)

work=$(mktemp -d /tmp/kelvo-blender.XXXXXX)
blender_pid=
cleanup() {
    if [ -n "$blender_pid" ]; then
        kill "$blender_pid" 2>/dev/null || true
        wait "$blender_pid" 2>/dev/null || true
    fi
    [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
mkdir -p "$work/config" "$work/scripts" "$work/home" "$work/system" "$work/kelvo-bin" \
    "$work/direct" "$work/tmp"
# Blender keeps its preferences, add-ons and home in the test's own folders. Its PATH holds
# Blender alone ($work/system), and kelvo ($work/kelvo-bin) only where a step says so.
export BLENDER_USER_CONFIG=$work/config BLENDER_USER_SCRIPTS=$work/scripts HOME=$work/home \
    TMPDIR=$work/tmp
ln -s "$blender" "$work/system/blender"
ln -s "$kelvo" "$work/kelvo-bin/kelvo"
log=$work/blender.log
# run_blender STATUS PATH ARG...: Blender, headless, must exit with STATUS; its output is in $log.
# With PATH "window", Blender has a window, on a display of its own.
run_blender() {
    local expected=$1 path=$2 status=0
    shift 2
    if [ "$path" = window ]; then
        "$timeout" -k 5 120 xvfb-run -a blender --python-exit-code 3 "$@" >"$log" 2>&1 &
    else
        PATH=$path "$timeout" -k 5 120 blender -b --python-exit-code 3 "$@" >"$log" 2>&1 &
    fi
    blender_pid=$!
    wait "$blender_pid" || status=$?
    blender_pid=
    if [ "$status" -ne "$expected" ] || grep -q "Traceback" "$log"; then
        tail -n 30 "$log"
        fail "blender $* exited $status, not $expected"
    fi
}
expect_log() {
    grep -q -- "$1" "$log" || {
        cat "$log"
        fail "Blender did not print $1"
    }
}
same_files() { # DIR_A DIR_B NAME...
    local a=$1 b=$2 name
    shift 2
    for name in "$@"; do
        cmp "$a/$name" "$b/$name" || fail "$a/$name and $b/$name differ"
    done
}
"$kelvo" demo -q "$work/demo"
frames=(frame_0001.pcx frame_0002.pcx frame_0001.png frame_0002.png)
direct() { # DIR OPTION...: kelvo itself on the rendered files, as the scene's settings say
    local dir=$1
    shift
    "$kelvo" render -q --palette "$work/demo/demo-palette.pcx" --method uniform \
        --range 0:0-31 --range 1:32-95:dither --range 2:96-159:dither --range 3:160-223 \
        --range 4:224-239 --background-id 4 --alpha-threshold 0.5 --transparent 224 \
        --output "$work/direct/$dir/frame_####.pcx" --png "$work/direct/$dir/frame_####.png" \
        "$@" "$work"/render/shot_000[12].exr
}

zip=$work/kelvo-blender-$("$root/scripts/project-version.sh").zip
"$root/packaging/blender/build-addon-zip.sh" "$("$root/scripts/project-version.sh")" "$zip"
run_blender 0 "$work/system" --python-expr "
import bpy
assert bpy.ops.preferences.addon_install(filepath='$zip') == {'FINISHED'}
assert bpy.ops.preferences.addon_enable(module='kelvo_blender') == {'FINISHED'}
bpy.ops.wm.save_userpref()"
for file in scripts/addons/kelvo_blender/blender_manifest.toml config/userpref.blend; do
    [ -f "$work/$file" ] || fail "$work/$file is missing after the install"
done
step "$(basename "$zip") installed and enabled in a fresh configuration"

run_blender 0 "$work/system" --python "$here/blender_scene.py" -- "$work"
run_blender 0 "$work/system:$work/kelvo-bin" "$work/scene.blend" -a
direct object --source object --id-channel ViewLayer.IndexOB.X
same_files "$work/addon" "$work/direct/object" "${frames[@]}"
step "an animation render, kelvo on the PATH: PCX and PNG frames are kelvo's own"

run_blender 0 "$work/system" "$work/scene.blend" --python-expr "
import bpy
bpy.context.preferences.addons['kelvo_blender'].preferences.kelvo = '$kelvo'
bpy.ops.wm.save_userpref()
settings = bpy.context.scene.kelvo
settings.levels_auto = True
settings.output, settings.png = '//sequence/frame_####.pcx', '//sequence/frame_####.png'
settings.gif = '//sequence/shot.gif'" -a
direct sequence --source object --id-channel ViewLayer.IndexOB.X --levels auto \
    --gif "$work/direct/sequence/shot.gif" --fps 10
same_files "$work/sequence" "$work/direct/sequence" "${frames[@]}" shot.gif
step "kelvo from the preferences, auto levels and a GIF: the files are kelvo's own"

fails() { # MESSAGE PYTHON: frame 1 rendered after PYTHON reports MESSAGE and exits 1
    run_blender 1 "$work/system" "$work/scene.blend" --python-expr "import bpy
bpy.context.scene.kelvo.output = '//wrong/frame_####.pcx'
$2" -f 1
    expect_log "$1"
    [ ! -e "$work/wrong" ] || fail "a frame was written nonetheless"
    step "exit code 1: $(grep -m1 -o "Error: kelvo.*" "$log")"
}
fails "Error: kelvo failed on frame 1 (exit code 2): kelvo: cannot read.*no-such-palette.pcx" \
    "bpy.context.scene.kelvo.palette = '//no-such-palette.pcx'"
fails "Error: kelvo not found: no 'kelvo' on the PATH; set its path in the add-on's pref" \
    "bpy.context.preferences.addons['kelvo_blender'].preferences.kelvo = ''"

run_blender 0 window "$work/scene.blend" --python-expr "
import bpy, sys
addon, shown, paths = sys.modules['kelvo_blender'], [], ['$work/no-such-kelvo', '$kelvo']
draw_text = addon._draw_text
addon._draw_text = lambda layout, context, text, *rest, **options: (
    shown.append(text), draw_text(layout, context, text, *rest, **options))
bpy.context.preferences.use_preferences_save = False
def show():  # the Output properties with each path in turn, once drawn with the one before
    screen = bpy.context.window_manager.windows[0].screen
    area = next(a for a in screen.areas if a.type == 'PROPERTIES')
    area.spaces.active.context = 'OUTPUT'
    area.tag_redraw()
    if len(paths) < 2:
        if not shown:
            return 0.2
        print('PANEL:', shown[-1], flush=True)
    if not paths:
        return bpy.ops.wm.quit_blender() and None
    bpy.context.preferences.addons['kelvo_blender'].preferences.kelvo = paths.pop(0)
    shown.clear()
    return 0.2
bpy.app.timers.register(show, first_interval=0.5)
bpy.app.timers.register(lambda: bpy.ops.wm.quit_blender() and None, first_interval=30)"
expect_log "PANEL: kelvo not found: '$work/no-such-kelvo' (set in the add-on's preferences) is"
expect_log "PANEL: kelvo: $kelvo"
step "the panel names the kelvo it runs, or says it is missing"

# Loaded as Blender 4.2 and later load an extension, as a module of another package
# (bl_ext.REPOSITORY.NAME): nothing in the add-on may name its own module.
mkdir -p "$work/ext/bl_ext/user_default"
touch "$work/ext/bl_ext/__init__.py" "$work/ext/bl_ext/user_default/__init__.py"
cp -r "$work/scripts/addons/kelvo_blender" "$work/ext/bl_ext/user_default/"
run_blender 0 "$work/system" --factory-startup "$work/scene.blend" --python-expr "
import bpy, importlib, sys
sys.path.insert(0, '$work/ext')
importlib.import_module('bl_ext.user_default.kelvo_blender').register()
settings = bpy.context.scene.kelvo
settings.kelvo = '$kelvo'
settings.source = 'MATERIAL'
settings.output, settings.png = '//material/frame_####.pcx', '//material/frame_####.png'
assert bpy.ops.kelvo.palettise_frames() == {'FINISHED'}"
direct material --source material --id-channel ViewLayer.IndexMA.X
same_files "$work/material" "$work/direct/material" "${frames[@]}"
cmp -s "$work/material/frame_0001.pcx" "$work/addon/frame_0001.pcx" &&
    fail "the Material Index frames are the Object Index ones"
step "in an extension's package, with the kelvo a .blend names: Material Index frames"
echo "passed in $((SECONDS - started)) s"
