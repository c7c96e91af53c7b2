"""Run by blender_test.sh inside Blender: the test scene, with the add-on's settings, saved.

blender -b --python blender_scene.py -- WORK    (the add-on enabled in the preferences)
Three objects with object pass indices 1, 2 and 3 and materials with indices 3, 1 and 2 over a
floor (0 for both) and a transparent sky, a camera and a light; Cycles at 4 samples, no
denoising (Debian's build has no denoiser), 48 x 32 pixels, 2 frames at 10 frames a second;
EXR files in WORK/render; PCX and PNG frames in WORK/addon, the sky taking identifier 4.
"""
import sys

import bpy

work = sys.argv[sys.argv.index("--") + 1]
bpy.ops.wm.read_homefile(use_empty=True)
scene = bpy.context.scene
scene.render.engine = "CYCLES"
scene.cycles.samples = 4
scene.cycles.use_denoising = False
scene.render.resolution_x, scene.render.resolution_y = 48, 32
scene.render.resolution_percentage = 100
scene.render.film_transparent = True
scene.frame_start, scene.frame_end = 1, 2
scene.render.fps, scene.render.fps_base = 10, 1
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
settings.palette = work + "/demo/demo-palette.pcx"
settings.output = "//addon/frame_####.pcx"
settings.png = "//addon/frame_####.png"
settings.use_background_id, settings.background_id, settings.alpha_threshold = True, 4, 0.5
settings.use_transparent, settings.transparent = True, 224
for identifier, first, last, dither in ((0, 0, 31, False), (1, 32, 95, True),
                                        (2, 96, 159, True), (3, 160, 223, False),
                                        (4, 224, 239, False)):
    bpy.ops.kelvo.range_add()
    item = settings.ranges[-1]
    item.identifier, item.first, item.last, item.dither = identifier, first, last, dither
# Turning the add-on on sets up the pass of each source it is given.
settings.source = "MATERIAL"
settings.enabled = True
settings.source = "OBJECT"
bpy.ops.wm.save_as_mainfile(filepath=work + "/scene.blend")
