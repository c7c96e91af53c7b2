"""Kelvo for Blender: palettises the frames of an animation render with kelvo.

Settings live in the scene (so in the .blend file, and farm workers with the add-on enabled do
the same); a panel in the Output properties edits them. The kelvo program is a machine setting,
in the add-on's preferences: a path, or empty for `kelvo` on the PATH (a .blend saved before
then may name one in its scene, which is used while the preference is empty). The panel says
when kelvo is not found.

After each frame an animation render writes, kelvo palettises that multilayer OpenEXR file into
a PCX frame (and an indexed PNG when one is set). An animated GIF, or levels measured over the
whole sequence, need every frame at once: then nothing runs per frame, and one kelvo run
palettises the scene's frame range when the render completes.

Failures go to the report area (status bar, Info editor). Without a window (`blender -b ...
-a`) they are printed as `Error: ...` on stderr, and when the render completes after any
failure, Blender exits with code 1 (sys.exit in the render_complete handler: Blender 3.4 exits
there with that code, so a farm sees the failure; arguments after -a are then not run).
"""

import queue
import shutil
import subprocess
import sys
import textwrap

import bpy
from bpy.app.handlers import persistent
from bpy.props import (BoolProperty, CollectionProperty, EnumProperty, FloatProperty,
                       IntProperty, PointerProperty, StringProperty)

from . import command

bl_info = {
    "name": "Kelvo Palette",
    "author": "Kelvo",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "Properties > Output > Kelvo Palette",
    "description": "Palettise rendered frames into 8-bit PCX, PNG and GIF files with kelvo",
    "category": "Render",
}

# Failures met while rendering, waiting to be reported from the main thread: a render started
# from the interface runs its handlers on the render thread, which must not report.
_reports = queue.Queue()
# The frames the current render wrote, and what went wrong in it.
_written = []
_failures = []


def _set_up_scene(scene):
    """Turns on what kelvo reads: the index pass of the source, and multilayer OpenEXR."""
    settings = scene.kelvo
    for view_layer in scene.view_layers:
        if settings.source == "OBJECT":
            view_layer.use_pass_object_index = True
        else:
            view_layer.use_pass_material_index = True
    scene.render.image_settings.file_format = "OPEN_EXR_MULTILAYER"


def _on_setting_changed(settings, context):
    if settings.enabled:
        _set_up_scene(context.scene)


class KelvoPreferences(bpy.types.AddonPreferences):
    bl_idname = __package__

    kelvo: StringProperty(name="kelvo Program", subtype="FILE_PATH",
                          description="The kelvo program on this machine; empty: kelvo found "
                                      "on the PATH")

    def draw(self, context):
        self.layout.prop(self, "kelvo")
        _draw_program(self.layout, context)


class KelvoRange(bpy.types.PropertyGroup):
    identifier: IntProperty(name="ID", min=0, max=15, description="Object or material pass index")
    first: IntProperty(name="First", min=0, max=255, description="First palette entry")
    last: IntProperty(name="Last", min=0, max=255, default=255, description="Last palette entry")
    dither: BoolProperty(name="Dither", description="Dither between the range's entries "
                         "(with the Uniform method)")
    more_spans: StringProperty(name="More Spans",
                               description="Entries the range goes on with after First-Last, "
                                           "as \"120-127, 200\"; empty: none")
    method: EnumProperty(name="Method", default="SCENE", items=[
        ("SCENE", "Scene's", "The method the scene's settings choose"),
        ("UNIFORM", "Uniform", "By luminance over the range"),
        ("NEAREST", "Nearest", "The nearest colour of the range")])
    pattern: EnumProperty(name="Pattern", default="CHECKER", items=[
        ("CHECKER", "Checker", "Two-pixel checkerboard"),
        ("BAYER4", "Bayer 4x4", "Ordered 4 x 4 pattern"),
        ("BAYER8", "Bayer 8x8", "Ordered 8 x 8 pattern")])
    strength: FloatProperty(name="Strength", min=0, max=1, default=1, precision=3,
                            description="How strongly a Bayer pattern dithers; 1: fully")
    use_levels: BoolProperty(name="Levels", description="Stretch the luminance span from Low "
                             "to High over the range (wins over Auto Levels)")
    level_low: FloatProperty(name="Low", min=0, max=1, precision=3,
                             description="Luminance that takes the range's first entry")
    level_high: FloatProperty(name="High", min=0, max=1, default=1, precision=3,
                              description="Luminance that takes the range's last entry")


class KelvoSettings(bpy.types.PropertyGroup):
    enabled: BoolProperty(name="Palettise with kelvo", update=_on_setting_changed,
                          description="Run kelvo on the frames an animation render writes")
    kelvo: StringProperty(name="kelvo (this file)", subtype="FILE_PATH", default="kelvo",
                          description="The kelvo program this file names, from before the "
                                      "add-on's preferences held it; used while they hold none")
    palette: StringProperty(name="Palette", subtype="FILE_PATH",
                            description="A palette file: PCX, JASC-PAL, GIMP GPL, ACT, RIFF PAL, "
                                        "raw, Lospec .hex or an indexed PNG")
    method: EnumProperty(name="Method", default="UNIFORM", items=[
        ("UNIFORM", "Uniform", "By luminance over the identifier's range"),
        ("NEAREST", "Nearest", "The nearest colour of the identifier's range")])
    source: EnumProperty(name="Source", default="OBJECT", update=_on_setting_changed, items=[
        ("OBJECT", "Object Index", "Identifiers from the Object Index pass"),
        ("MATERIAL", "Material Index", "Identifiers from the Material Index pass")])
    reserve: StringProperty(name="Reserved Entries",
                            description="Palette entries no pixel may take, as \"224-255, "
                                        "240\" (fullbright or cycling colours); empty: none")
    ranges: CollectionProperty(type=KelvoRange)
    active_range: IntProperty()
    levels_auto: BoolProperty(name="Auto Levels",
                              description="Stretch each identifier's luminance span over the "
                                          "whole sequence over its range (frames are then "
                                          "palettised together when the render completes)")
    use_background_id: BoolProperty(name="Background ID",
                                    description="Give transparent pixels an identifier of "
                                                "their own")
    background_id: IntProperty(name="Background ID", min=0, max=15,
                               description="The identifier of transparent pixels")
    alpha_threshold: FloatProperty(name="Alpha Threshold", min=0, max=1, precision=3,
                                   description="Pixels whose alpha is below this take the "
                                               "background identifier; 0: only alpha 0")
    output: StringProperty(name="Output", subtype="FILE_PATH", default="//kelvo/frame_####.pcx",
                           description="PCX frame files: a run of '#' ending the name takes "
                                       "the frame number")
    png: StringProperty(name="Indexed PNG", subtype="FILE_PATH",
                        description="8-bit indexed PNG files beside the PCX frames, '#' runs "
                                    "taking the frame number; empty: none")
    gif: StringProperty(name="Animated GIF", subtype="FILE_PATH",
                        description="One GIF of the frame range at the scene's frame rate, made "
                                    "when the render completes; empty: none")
    use_transparent: BoolProperty(name="Transparent Entry",
                                  description="One palette entry is transparent in the PNG and "
                                              "GIF files")
    transparent: IntProperty(name="Transparent Entry", min=0, max=255,
                             description="The palette entry that is transparent")


def _view_layer(scene):
    """The view layer whose passes kelvo reads: the first one that renders."""
    for view_layer in scene.view_layers:
        if view_layer.use:
            return view_layer.name
    return scene.view_layers[0].name


def _find_kelvo(scene):
    """The kelvo program to run and None, or None and why it was not found."""
    addon = bpy.context.preferences.addons.get(__package__)
    path = addon.preferences.kelvo if addon else ""
    origin = "set in the add-on's preferences"
    if not path and scene.kelvo.kelvo not in ("", "kelvo"):
        path, origin = scene.kelvo.kelvo, "named in this .blend file"
    return command.find_program(bpy.path.abspath(path) if path else "kelvo", origin,
                                shutil.which)


def _whole_sequence(settings):
    return settings.levels_auto or bool(settings.gif)


def _job(scene):
    settings = scene.kelvo
    render = scene.render
    return command.Job(
        palette=bpy.path.abspath(settings.palette), method=settings.method,
        source=settings.source, view_layer=_view_layer(scene),
        output=bpy.path.abspath(settings.output),
        ranges=[(r.identifier, r.first, r.last, r.dither, r.more_spans,
                 None if r.method == "SCENE" else r.method, r.pattern, r.strength)
                for r in settings.ranges],
        reserve=settings.reserve,
        spans=[(r.identifier, r.level_low, r.level_high) for r in settings.ranges
               if r.use_levels],
        levels_auto=settings.levels_auto,
        background_id=settings.background_id if settings.use_background_id else None,
        alpha_threshold=settings.alpha_threshold if settings.alpha_threshold > 0 else None,
        png=bpy.path.abspath(settings.png) if settings.png else "",
        gif=bpy.path.abspath(settings.gif) if settings.gif else "",
        fps=render.fps / render.fps_base / scene.frame_step,
        transparent=settings.transparent if settings.use_transparent else None)


def _scene_frames(scene):
    return list(range(scene.frame_start, scene.frame_end + 1, scene.frame_step))


def palettise(scene, frames):
    """Runs kelvo once on the files the render wrote for `frames`; returns None or what went
    wrong."""
    settings = scene.kelvo
    if scene.render.image_settings.file_format != "OPEN_EXR_MULTILAYER":
        return "kelvo needs OpenEXR MultiLayer output (Output Properties > Output)"
    if not settings.palette:
        return "no palette file is set for kelvo"
    program, problem = _find_kelvo(scene)
    if problem:
        return problem
    exr_paths = [scene.render.frame_path(frame=frame) for frame in frames]
    start, problem = command.numbering(frames, exr_paths)
    if problem:
        return problem
    args = command.render_command(program, _job(scene), exr_paths, start)
    try:
        done = subprocess.run(args, capture_output=True, text=True, errors="replace")
    except OSError as error:
        return "cannot run kelvo '%s': %s" % (program, error.strerror)
    if done.stderr:
        print(done.stderr, end="")
    if done.returncode != 0:
        return command.describe_failure(frames, done.returncode, done.stderr)
    return None


def _report(message):
    if bpy.app.background:
        # No window: the console is the report area, in the form Blender prints reports.
        print("Error: " + message, file=sys.stderr, flush=True)
    else:
        _reports.put(message)


def _flush_reports():
    windows = bpy.context.window_manager.windows
    while windows and not _reports.empty():
        with bpy.context.temp_override(window=windows[0]):
            bpy.ops.kelvo.report("INVOKE_DEFAULT", message=_reports.get())
    return 0.5


def _fail(problem):
    if problem:
        _failures.append(problem)
        _report(problem)


@persistent
def _on_render_init(scene, *args):
    _written.clear()
    _failures.clear()


@persistent
def _after_frame_written(scene, *args):
    if scene.kelvo.enabled:
        _written.append(scene.frame_current)
        if not _whole_sequence(scene.kelvo):
            _fail(palettise(scene, [scene.frame_current]))


@persistent
def _on_render_complete(scene, *args):
    if scene.kelvo.enabled and _written and _whole_sequence(scene.kelvo):
        _fail(palettise(scene, _scene_frames(scene)))
    _written.clear()
    if _failures and bpy.app.background:
        # A farm judges a task by its exit code; Blender's own would be 0.
        print("Error: the render's palettisation failed, so Blender exits with code 1",
              file=sys.stderr, flush=True)
        sys.stdout.flush()
        sys.exit(1)
    _failures.clear()


@persistent
def _on_render_cancel(scene, *args):
    _written.clear()
    _failures.clear()


class KELVO_OT_report(bpy.types.Operator):
    """Shows a kelvo failure in the report area"""
    bl_idname = "kelvo.report"
    bl_label = "Kelvo Report"
    bl_options = {"INTERNAL"}
    message: StringProperty()

    # The report of an operator that Python runs to the end comes back to Python as an
    # exception; a modal one's goes to the window's report area (status bar and Info editor).
    def invoke(self, context, event):
        self._timer = context.window_manager.event_timer_add(0.01, window=context.window)
        context.window_manager.modal_handler_add(self)
        return {"RUNNING_MODAL"}

    def modal(self, context, event):
        context.window_manager.event_timer_remove(self._timer)
        self.report({"ERROR"}, self.message)
        return {"FINISHED"}


class KELVO_OT_set_up(bpy.types.Operator):
    """Turn on the index pass kelvo reads and OpenEXR MultiLayer output"""
    bl_idname = "kelvo.set_up"
    bl_label = "Set Up Passes and Output"
    bl_options = {"REGISTER", "UNDO"}

    def execute(self, context):
        _set_up_scene(context.scene)
        return {"FINISHED"}


class KELVO_OT_palettise_frames(bpy.types.Operator):
    """Palettise the frames already rendered for the scene's frame range, in one kelvo run"""
    bl_idname = "kelvo.palettise_frames"
    bl_label = "Palettise Rendered Frames"

    def execute(self, context):
        frames = _scene_frames(context.scene)
        problem = palettise(context.scene, frames)
        if problem:
            self.report({"ERROR"}, problem)
            return {"CANCELLED"}
        self.report({"INFO"}, "kelvo palettised %d frames" % len(frames))
        return {"FINISHED"}


class KELVO_OT_range_add(bpy.types.Operator):
    """Add an identifier range"""
    bl_idname = "kelvo.range_add"
    bl_label = "Add Range"
    bl_options = {"REGISTER", "UNDO"}

    def execute(self, context):
        settings = context.scene.kelvo
        item = settings.ranges.add()
        item.identifier = min(len(settings.ranges) - 1, 15)
        settings.active_range = len(settings.ranges) - 1
        return {"FINISHED"}


class KELVO_OT_range_remove(bpy.types.Operator):
    """Remove the selected identifier range"""
    bl_idname = "kelvo.range_remove"
    bl_label = "Remove Range"
    bl_options = {"REGISTER", "UNDO"}

    def execute(self, context):
        settings = context.scene.kelvo
        if 0 <= settings.active_range < len(settings.ranges):
            settings.ranges.remove(settings.active_range)
            settings.active_range = max(0, settings.active_range - 1)
        return {"FINISHED"}


class KELVO_UL_ranges(bpy.types.UIList):
    def draw_item(self, context, layout, data, item, icon, active_data, active_property):
        row = layout.row(align=True)
        row.prop(item, "identifier")
        row.prop(item, "first", text="")
        row.prop(item, "last", text="")
        row.prop(item, "dither", text="", icon="TEXTURE")
        row.prop(item, "use_levels", text="", icon="IMAGE_ZDEPTH")


def _draw_text(layout, context, text, icon, alert=False):
    """A label wrapped to the region's width, which a long message would overflow."""
    width = max(20, int(context.region.width / (7 * context.preferences.system.ui_scale)))
    column = layout.column(align=True)
    column.alert = alert
    for number, line in enumerate(textwrap.wrap(text, width)):
        column.label(text=line, icon=icon if number == 0 else "BLANK1")


def _draw_program(layout, context):
    """Says which kelvo the add-on runs, or that it finds none."""
    program, problem = _find_kelvo(context.scene)
    if problem:
        found, _, hint = problem.partition("; ")
        _draw_text(layout, context, found + ". " + hint[:1].upper() + hint[1:] + ".", "ERROR",
                   alert=True)
    else:
        _draw_text(layout, context, "kelvo: " + program, "CHECKMARK")


class KELVO_PT_output(bpy.types.Panel):
    bl_label = "Kelvo Palette"
    bl_space_type = "PROPERTIES"
    bl_region_type = "WINDOW"
    bl_context = "output"

    def draw_header(self, context):
        self.layout.prop(context.scene.kelvo, "enabled", text="")

    def draw(self, context):
        settings = context.scene.kelvo
        layout = self.layout
        layout.use_property_split = True
        layout.prop(settings, "palette")
        layout.prop(settings, "method")
        layout.prop(settings, "source")
        layout.prop(settings, "reserve")
        row = layout.row()
        row.template_list("KELVO_UL_ranges", "", settings, "ranges", settings, "active_range",
                          rows=3)
        buttons = row.column(align=True)
        buttons.operator("kelvo.range_add", icon="ADD", text="")
        buttons.operator("kelvo.range_remove", icon="REMOVE", text="")
        if 0 <= settings.active_range < len(settings.ranges):
            item = settings.ranges[settings.active_range]
            layout.prop(item, "more_spans")
            layout.prop(item, "method", text="Range Method")
            row = layout.row(heading="Dither")
            row.prop(item, "dither", text="")
            pattern = row.row(align=True)
            pattern.active = item.dither
            pattern.prop(item, "pattern", text="")
            strength = pattern.row(align=True)
            strength.active = item.dither and item.pattern != "CHECKER"
            strength.prop(item, "strength")
            row = layout.row(heading="Levels")
            row.prop(item, "use_levels", text="")
            span = row.row(align=True)
            span.active = item.use_levels
            span.prop(item, "level_low")
            span.prop(item, "level_high")
        layout.prop(settings, "levels_auto")
        row = layout.row(heading="Background ID")
        row.prop(settings, "use_background_id", text="")
        value = row.row()
        value.active = settings.use_background_id
        value.prop(settings, "background_id", text="")
        value = layout.row()
        value.active = settings.use_background_id
        value.prop(settings, "alpha_threshold")
        layout.prop(settings, "output")
        layout.prop(settings, "png")
        layout.prop(settings, "gif")
        row = layout.row(heading="Transparent Entry")
        row.prop(settings, "use_transparent", text="")
        value = row.row()
        value.active = settings.use_transparent
        value.prop(settings, "transparent", text="")
        if _whole_sequence(settings):
            _draw_text(layout, context, "With a GIF or Auto Levels, kelvo palettises the frame "
                                        "range in one run when the animation render completes",
                       "INFO")
        if settings.kelvo not in ("", "kelvo"):
            layout.prop(settings, "kelvo")
        _draw_program(layout, context)
        layout.operator("kelvo.set_up", icon="RENDERLAYERS")
        layout.operator("kelvo.palettise_frames", icon="IMAGE_DATA")


_classes = (KelvoPreferences, KelvoRange, KelvoSettings, KELVO_OT_report, KELVO_OT_set_up,
            KELVO_OT_palettise_frames, KELVO_OT_range_add, KELVO_OT_range_remove,
            KELVO_UL_ranges, KELVO_PT_output)
_handlers = ((bpy.app.handlers.render_init, _on_render_init),
             (bpy.app.handlers.render_write, _after_frame_written),
             (bpy.app.handlers.render_complete, _on_render_complete),
             (bpy.app.handlers.render_cancel, _on_render_cancel))


def register():
    for cls in _classes:
        bpy.utils.register_class(cls)
    bpy.types.Scene.kelvo = PointerProperty(type=KelvoSettings)
    for handlers, handler in _handlers:
        handlers.append(handler)
    if not bpy.app.background:
        bpy.app.timers.register(_flush_reports, persistent=True)


def unregister():
    if bpy.app.timers.is_registered(_flush_reports):
        bpy.app.timers.unregister(_flush_reports)
    for handlers, handler in _handlers:
        if handler in handlers:
            handlers.remove(handler)
    del bpy.types.Scene.kelvo
    for cls in reversed(_classes):
        bpy.utils.unregister_class(cls)
