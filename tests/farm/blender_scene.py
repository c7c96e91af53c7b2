"""Run by blender_test.sh inside Blender: the test scene, with the add-on's settings, saved.

blender -b --factory-startup --addons kelvo_blender --python blender_scene.py -- WORK KELVO
Three objects with object pass indices 1, 2 and 3 and materials with indices 3, 1 and 2 over a
floor (0 for both), a camera and a light; Cycles at 4 samples, no denoising (Debian's build
has no denoiser), 48 x 32 pixels, 2 frames; EXR files in WORK/render, PCX frames in WORK/addon.
"""
import sys

import bpy

work, kelvo = sys.argv[sys.argv.index("--") + 1:]
bpy.ops.wm.read_homefile(use_empty=True)
scene = bpy.context.scene
scene.render.engine = "CYCLES"
scene.cycles.samples = 4
scene.cycles.use_denoising = False
scene.render.resolution_x, scene.render.resolution_y = 48, 32
scene.render.resolution_percentage = 100
scene.frame_start, scene.frame_end = 1, 2
scene.render.filepath = work + "/render/shot_"

bpy.ops.mesh.primitive_plane_add(size=20, location=(0, 0, -1))
for (kind, x, object_index, material_index) in (("cube", -2.5, 1, 3), ("uv_sphere", 0, 2, 1),
                                                  ("cone", 2.5, 3, 2)):
    getattr(bpy.ops.mesh, "primitive_%s_add" % kind)(location=(x, 0, 0))
    shape = bpy.context.object
    shape.pass_index = object_index
    material = bpy.data.materials.new("m%d" % material_index)
    material.pass_index = material_index
    material.diffuse_color = (0.2 * material_index, 0.5, 1 - 0.25 * material_index, 1)
    shape.data.materials.append(material)
    # Frame 2 differs: every shape a little higher.
    shape.keyframe_insert("location", frame=1)
    shape.location.z += 0.3
    shape.keyframe_insert("location", frame=2)
bpy.ops.object.light_add(type="SUN", location=(0, -3, 5), rotation=(0.6, 0, 0.3))
bpy.ops.object.camera_add(location=(0, -9, 2), rotation=(1.37, 0, 0))
scene.camera = bpy.context.object

settings = scene.kelvo
settings.kelvo = kelvo
settings.palette = work + "/demo/demo-palette.pcx"
settings.output = "//addon/frame_####.pcx"
for identifier, first, last, dither in ((0, 0, 31, False), (1, 32, 95, True),
                                        (2, 96, 159, True), (3, 160, 223, False)):
    bpy.ops.kelvo.range_add()
    item = settings.ranges[-1]
    item.identifier, item.first, item.last, item.dither = identifier, first, last, dither
# Turning the add-on on sets up the pass of each source it is given.
settings.source = "MATERIAL"
settings.enabled = True
settings.source = "OBJECT"
bpy.ops.wm.save_as_mainfile(filepath=work + "/scene.blend")
