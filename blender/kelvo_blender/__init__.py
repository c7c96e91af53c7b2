"""Kelvo for Blender: palettises every frame of an animation render with kelvo.

Settings live in the scene (so in the .blend file, and farm workers with the add-on enabled
do the same); a panel in the Output properties edits them; after each frame an animation
render writes, kelvo palettises that multilayer OpenEXR file into a PCX frame.
"""

import os
import queue
import shutil
import subprocess
import sys

import bpy
from bpy.app.handlers import persistent
from bpy.props import (BoolProperty, CollectionProperty, EnumProperty, IntProperty,
                       PointerProperty, StringProperty)

from . import command

bl_info = {
    "name": "Kelvo Palette",
    "author": "Kelvo",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "Properties > Output > Kelvo Palette",
    "description": "Palettise each rendered frame into an 8-bit PCX file with kelvo",
    "category": "Render",
}

# Failures met while rendering, waiting to be reported from the main thread: a render started
# from the interface runs its handlers on the render thread, which must not report.
_reports = queue.Queue()


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


class KelvoRange(bpy.types.PropertyGroup):
    identifier: IntProperty(name="ID", min=0, max=15, description="Object or material pass index")
    first: IntProperty(name="First", min=0, max=255, description="First palette entry")
    last: IntProperty(name="Last", min=0, max=255, default=255, description="Last palette entry")
    dither: BoolProperty(name="Dither", description="Two-pixel checkerboard dither")


class KelvoSettings(bpy.types.PropertyGroup):
    enabled: BoolProperty(name="Palettise with kelvo", update=_on_setting_changed,
                          description="Run kelvo on every frame an animation render writes")
    kelvo: StringProperty(name="kelvo", subtype="FILE_PATH", default="kelvo",
                          description="The kelvo program: a path, or a name found on the PATH")
    palette: StringProperty(name="Palette", subtype="FILE_PATH",
                            description="A PCX file with a 256-colour palette")
    method: EnumProperty(name="Method", default="UNIFORM", items=[
        ("UNIFORM", "Uniform", "By luminance over the identifier's range"),
        ("NEAREST", "Nearest", "The nearest colour of the identifier's range")])
    source: EnumProperty(name="Source", default="OBJECT", update=_on_setting_changed, items=[
        ("OBJECT", "Object Index", "Identifiers from the Object Index pass"),
        ("MATERIAL", "Material Index", "Identifiers from the Material Index pass")])
    ranges: CollectionProperty(type=KelvoRange)
    active_range: IntProperty()
    output: StringProperty(name="Output", subtype="FILE_PATH", default="//kelvo/frame_####.pcx",
                           description="PCX frame files: a run of '#' ending the name takes "
                                       "the frame number")


def _view_layer(scene):
    """The view layer whose passes kelvo reads: the first one that renders."""
    for view_layer in scene.view_layers:
        if view_layer.use:
            return view_layer.name
    return scene.view_layers[0].name


def _kelvo_program(path):
    if os.sep in path or (os.altsep and os.altsep in path) or path.startswith("//"):
        return bpy.path.abspath(path)
    return shutil.which(path) or path


def palettise_frame(scene, frame):
    """Runs kelvo on the file the render wrote for `frame`; returns None or what went wrong."""
    settings = scene.kelvo
    if scene.render.image_settings.file_format != "OPEN_EXR_MULTILAYER":
        return "kelvo needs OpenEXR MultiLayer output (Output Properties > Output)"
    if not settings.palette:
        return "no palette file is set for kelvo"
    ranges = [(r.identifier, r.first, r.last, r.dither) for r in settings.ranges]
    args = command.render_command(
        _kelvo_program(settings.kelvo), bpy.path.abspath(settings.palette), settings.method,
        settings.source, ranges, _view_layer(scene), bpy.path.abspath(settings.output),
        scene.render.frame_path(frame=frame), frame)
    try:
        done = subprocess.run(args, capture_output=True, text=True, errors="replace")
    except OSError as error:
        return "cannot run kelvo '%s': %s" % (args[0], error.strerror)
    if done.stderr:
        print(done.stderr, end="")
    return None if done.returncode == 0 else command.describe_failure(frame, done.returncode,
                                                                      done.stderr)


def _report(message):
    if bpy.app.background:
        # No window: the console is the report area, in the form Blender prints reports.
        print("Error: " + message, file=sys.stderr)
    else:
        _reports.put(message)


def _flush_reports():
    windows = bpy.context.window_manager.windows
    while windows and not _reports.empty():
        with bpy.context.temp_override(window=windows[0]):
            bpy.ops.kelvo.report("INVOKE_DEFAULT", message=_reports.get())
    return 0.5


@persistent
def _after_frame_written(scene, *args):
    if scene.kelvo.enabled:
        problem = palettise_frame(scene, scene.frame_current)
        if problem:
            _report(problem)


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
    """Palettise the frames already rendered for the scene's frame range"""
    bl_idname = "kelvo.palettise_frames"
    bl_label = "Palettise Rendered Frames"

    def execute(self, context):
        scene = context.scene
        frames = range(scene.frame_start, scene.frame_end + 1, scene.frame_step)
        problems = [p for p in (palettise_frame(scene, frame) for frame in frames) if p]
        for problem in problems:
            self.report({"ERROR"}, problem)
        if problems:
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
        row = layout.row()
        row.template_list("KELVO_UL_ranges", "", settings, "ranges", settings, "active_range",
                          rows=3)
        buttons = row.column(align=True)
        buttons.operator("kelvo.range_add", icon="ADD", text="")
        buttons.operator("kelvo.range_remove", icon="REMOVE", text="")
        layout.prop(settings, "output")
        layout.prop(settings, "kelvo")
        layout.operator("kelvo.set_up", icon="RENDERLAYERS")
        layout.operator("kelvo.palettise_frames", icon="IMAGE_DATA")


_classes = (KelvoRange, KelvoSettings, KELVO_OT_report, KELVO_OT_set_up,
            KELVO_OT_palettise_frames, KELVO_OT_range_add, KELVO_OT_range_remove,
            KELVO_UL_ranges, KELVO_PT_output)


def register():
    for cls in _classes:
        bpy.utils.register_class(cls)
    bpy.types.Scene.kelvo = PointerProperty(type=KelvoSettings)
    bpy.app.handlers.render_write.append(_after_frame_written)
    if not bpy.app.background:
        bpy.app.timers.register(_flush_reports, persistent=True)


def unregister():
    if bpy.app.timers.is_registered(_flush_reports):
        bpy.app.timers.unregister(_flush_reports)
    if _after_frame_written in bpy.app.handlers.render_write:
        bpy.app.handlers.render_write.remove(_after_frame_written)
    del bpy.types.Scene.kelvo
    for cls in reversed(_classes):
        bpy.utils.unregister_class(cls)
