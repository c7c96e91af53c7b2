"""The kelvo command lines the add-on runs, from its settings (no bpy here)."""

import os
from dataclasses import dataclass, field

METHODS = {"UNIFORM": "uniform", "NEAREST": "nearest"}
# Each source: kelvo's --source value and the pass whose channel holds the identifiers.
SOURCES = {"OBJECT": ("object", "IndexOB"), "MATERIAL": ("material", "IndexMA")}

NOT_FOUND_HINT = "set its path in the add-on's preferences"


@dataclass
class Job:
    """What kelvo is asked to do with rendered multilayer OpenEXR files.

    `ranges` holds (identifier, first, last, dither) tuples, or longer ones with the choices
    `range_text` takes after those, and `spans` (identifier, low, high) ones; `reserve` lists
    entries no pixel may take ("224-255, 240"); None leaves an option out. The colour is the
    view layer's Combined pass and the identifiers its index pass.
    """
    palette: str
    method: str
    source: str
    view_layer: str
    output: str
    ranges: list = field(default_factory=list)
    spans: list = field(default_factory=list)
    levels_auto: bool = False
    background_id: int = None
    alpha_threshold: float = None
    png: str = ""
    gif: str = ""
    fps: float = 12.0
    transparent: int = None
    reserve: str = ""

    def needs_whole_sequence(self):
        """Whether kelvo must see every frame at once: a GIF, or levels measured over all."""
        return self.levels_auto or bool(self.gif)


# A range's dither patterns as kelvo names them; the checkerboard keeps the older ':dither'.
PATTERNS = {"CHECKER": "dither", "BAYER4": "bayer4", "BAYER8": "bayer8"}


def spans_text(text):
    """A list of entries and spans as kelvo takes it: "80-87,120" from "80-87, 120"."""
    return ",".join(part.strip() for part in text.split(",") if part.strip())


def range_text(identifier, first, last, dither, more_spans="", method=None, pattern="CHECKER",
               strength=1.0):
    """One --range value: ID:SPANS[:METHOD][:DITHER[:STRENGTH]]. SPANS is FIRST-LAST and then
    `more_spans`; METHOD is given when `method` ("UNIFORM" or "NEAREST") is, and DITHER when
    `dither` is on: ':dither' for the checkerboard, else the pattern, with STRENGTH below 1."""
    spans = "%d-%d" % (first, last)
    if spans_text(more_spans):
        spans += "," + spans_text(more_spans)
    text = "%d:%s" % (identifier, spans)
    if method:
        text += ":" + METHODS[method]
    if dither:
        text += ":" + PATTERNS[pattern]
        if pattern != "CHECKER" and strength < 1:
            text += ":%g" % round(strength, 3)
    return text


def span_text(identifier, low, high):
    """One --levels value: ID:LOW-HIGH, luminances with three decimals as kelvo takes them."""
    return "%d:%.3f-%.3f" % (identifier, low, high)


def id_channel(view_layer, source):
    """The multilayer OpenEXR channel Blender writes for the source's index pass."""
    return "%s.%s.X" % (view_layer, SOURCES[source][1])


def render_command(kelvo, job, exr_paths, start):
    """kelvo's arguments to palettise `exr_paths`, numbered from `start` in the order given,
    or by the digits their names end in when `start` is None (see `numbering`)."""
    args = [kelvo, "render", "-q", "--palette", job.palette, "--method", METHODS[job.method],
            "--source", SOURCES[job.source][0]]
    if spans_text(job.reserve):
        args += ["--reserve", spans_text(job.reserve)]
    for item in job.ranges:
        args += ["--range", range_text(*item)]
    if job.background_id is not None:
        args += ["--background-id", str(job.background_id)]
        if job.alpha_threshold is not None:
            args += ["--alpha-threshold", "%g" % job.alpha_threshold]
    if job.levels_auto:
        args += ["--levels", "auto"]
    for item in job.spans:
        args += ["--levels", span_text(*item)]
    args += ["--layer", job.view_layer + ".Combined",
             "--id-channel", id_channel(job.view_layer, job.source), "--output", job.output]
    if job.png:
        args += ["--png", job.png]
    if job.gif:
        args += ["--gif", job.gif, "--fps", "%g" % job.fps]
    if job.transparent is not None and (job.png or job.gif):
        args += ["--transparent", str(job.transparent)]
    if start is not None:
        args += ["--start", str(start)]
    return args + ["--"] + list(exr_paths)


def frames_text(frames):
    """The frames of a report: 'frame 3', or 'frames 1-24'."""
    if len(frames) == 1:
        return "frame %d" % frames[0]
    return "frames %d-%d" % (frames[0], frames[-1])


def numbering(frames, exr_paths):
    """The --start that numbers `exr_paths` as `frames` (None: their names do it), and None;
    or None and why kelvo cannot number them.

    --start numbers consecutive files whatever digits their names end in; with a frame step,
    kelvo takes each number from the digits ending the file's name.
    """
    if all(b == a + 1 for a, b in zip(frames, frames[1:])):
        return frames[0], None
    for frame, path in zip(frames, exr_paths):
        stem = os.path.splitext(os.path.basename(path))[0]
        digits = len(stem) - len(stem.rstrip("0123456789"))
        if frame < 0 or digits == 0 or int(stem[-digits:]) != frame:
            return None, ("kelvo cannot tell the number of frame %d from '%s': with a frame step "
                          "the file names must end with the frame number" % (frame, path))
    return None, None


def describe_failure(frames, returncode, stderr):
    """One report line for a kelvo run that failed: its exit code and what it said."""
    lines = [line for line in stderr.splitlines() if line.strip()
             and not line.startswith("kelvo: warning:")]
    said = "; ".join(lines[:3]) if lines else "no message"
    return "kelvo failed on %s (exit code %d): %s" % (frames_text(frames), returncode, said)


def find_program(path, origin, which):
    """The kelvo program named by `path` (found on the PATH with `which` when it is a bare
    name), and None; or None and a message saying where it was looked for.

    `origin` says where `path` was set, for the message.
    """
    path = os.path.expanduser(path)
    if os.sep in path or (os.altsep and os.altsep in path):
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return path, None
        return None, "kelvo not found: '%s' (%s) is not a program; %s" % (path, origin,
                                                                          NOT_FOUND_HINT)
    found = which(path)
    if found:
        return found, None
    return None, "kelvo not found: no '%s' on the PATH; %s" % (path, NOT_FOUND_HINT)
