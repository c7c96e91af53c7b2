"""The kelvo command line for one rendered frame, from the add-on's settings (no bpy here)."""

METHODS = {"UNIFORM": "uniform", "NEAREST": "nearest"}
# Each source: kelvo's --source value and the pass whose channel holds the identifiers.
SOURCES = {"OBJECT": ("object", "IndexOB"), "MATERIAL": ("material", "IndexMA")}


def range_text(identifier, first, last, dither):
    """One --range value: ID:FIRST-LAST, with ':dither' when asked for."""
    return "%d:%d-%d%s" % (identifier, first, last, ":dither" if dither else "")


def id_channel(view_layer, source):
    """The multilayer OpenEXR channel Blender writes for the source's index pass."""
    return "%s.%s.X" % (view_layer, SOURCES[source][1])


def render_command(kelvo, palette, method, source, ranges, view_layer, output, exr_path, frame):
    """kelvo's arguments to palettise the multilayer OpenEXR file `exr_path` as frame `frame`.

    `ranges` holds (identifier, first, last, dither) tuples. The colour is the view layer's
    Combined pass and the identifiers its index pass; --start numbers the frame as Blender
    did, whatever digits the file name ends in.
    """
    args = [kelvo, "render", "-q", "--palette", palette, "--method", METHODS[method],
            "--source", SOURCES[source][0]]
    for identifier, first, last, dither in ranges:
        args += ["--range", range_text(identifier, first, last, dither)]
    args += ["--layer", view_layer + ".Combined", "--id-channel", id_channel(view_layer, source),
             "--output", output, "--start", str(frame), "--", exr_path]
    return args


def describe_failure(frame, returncode, stderr):
    """One report line for a kelvo run that failed: its exit code and what it said."""
    lines = [line for line in stderr.splitlines() if line.strip()
             and not line.startswith("kelvo: warning:")]
    said = "; ".join(lines[:3]) if lines else "no message"
    return "kelvo failed on frame %d (exit code %d): %s" % (frame, returncode, said)
