# The files the manual's examples name, made in a document's directory before its examples run.
import shutil
import subprocess
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
EXR_FRAMES = 4  # enough to show a sequence; each frame costs two oiiotool runs

# A fixture's name in `<!-- example: setup NAME -->` -> what it makes (see each function).
FIXTURES = {}


def fixture(name):
    def register(function):
        FIXTURES[name] = function
        return function
    return register


class DemoSource:
    """`kelvo demo` rendered once per run into `root`; the fixtures copy from it."""

    def __init__(self, root: Path, env: dict):
        self.root = root / "demo"
        self.env = env
        self._made = False

    def render_dir(self) -> Path:
        if not self._made:
            subprocess.run(["kelvo", "demo", "-q", str(self.root)], env=self.env, check=True)
            self._made = True
        render = self.root / "render"
        if not (render / "beauty_0001.png").is_file() or not (render / "objid_0001.png").is_file():
            raise RuntimeError(f"'kelvo demo' wrote no {render}/beauty_0001.png and objid_0001.png")
        return render


def run(args, env, cwd):
    subprocess.run(args, env=env, cwd=cwd, check=True, stdout=subprocess.DEVNULL)


@fixture("frames")
def make_frames(work: Path, demo: DemoSource, env: dict):
    """beauty_0001.png ... beauty_0024.png (16-bit RGBA), objid_####.png and matid_####.png
    (8-bit grey identifier passes, 0..15): the demo's own inputs."""
    render = demo.render_dir()
    for source in sorted(render.glob("beauty_*.png")) + sorted(render.glob("objid_*.png")):
        shutil.copyfile(source, work / source.name)
        if source.name.startswith("objid_"):
            shutil.copyfile(source, work / source.name.replace("objid_", "matid_"))


@fixture("palette")
def make_palette(work: Path, demo: DemoSource, env: dict):
    """game.pal (examples/palettes/strategy-layout.pal, JASC-PAL), game.pcx (the same as the
    PCX palette file the plug-in loads) and ramps.gpl (examples/palettes/ramps-16x16.gpl)."""
    shutil.copyfile(REPO / "examples/palettes/strategy-layout.pal", work / "game.pal")
    shutil.copyfile(REPO / "examples/palettes/ramps-16x16.gpl", work / "ramps.gpl")
    run(["kelvo", "palette", "convert", "game.pal", "game.pcx"], env, work)


@fixture("settings")
def make_settings(work: Path, demo: DemoSource, env: dict):
    """hero.settings: game.pal's ramps for the demo's objects, frames named out/hero####.pcx."""
    make_palette(work, demo, env)
    run(["kelvo", "settings", "new", "--palette", "game.pal", "--source", "object",
         "--range", "0:16-31", "--range", "1:32-47:dither", "--range", "2:80-95:dither",
         "--range", "3:96-111:dither", "--range", "4:112-127:dither", "--range", "5:128-143",
         "--output", "out/hero.pcx", "-o", "hero.settings"], env, work)


def write_exr(env, cwd, beauty, objid, colour_names, id_names, out):
    """One OpenEXR frame: the demo's colour made scene-linear, then identifier channels
    holding the pass's values 0..15 (the PNG's 0..15/255 scaled back)."""
    ids = []
    for _ in id_names:
        ids += [str(objid), "--ch", "0", "--mulc", "255", "--chappend"]
    run(["oiiotool", str(beauty), "--colorconvert", "sRGB", "linear", *ids,
         "--chnames", ",".join(colour_names + id_names), "-d", "float", "-o", str(out)],
        env, cwd)


@fixture("exr")
def make_exr(work: Path, demo: DemoSource, env: dict):
    """render/shot_0001.exr ... (Blender's multilayer names: ViewLayer.Combined.R/G/B/A,
    ViewLayer.IndexOB.X, ViewLayer.IndexMA.X) and render.0001.exr ... (a layer `diffuse`
    and a channel `objectIndex`), frames 1 to EXR_FRAMES of the demo."""
    render = demo.render_dir()
    if shutil.which("oiiotool", path=env["PATH"]) is None:
        raise RuntimeError("oiiotool (openimageio-tools) is needed to make OpenEXR files")
    (work / "render").mkdir(exist_ok=True)
    for frame in range(1, EXR_FRAMES + 1):
        beauty = render / f"beauty_{frame:04d}.png"
        objid = render / f"objid_{frame:04d}.png"
        combined = [f"ViewLayer.Combined.{c}" for c in "RGBA"]
        write_exr(env, work, beauty, objid, combined,
                  ["ViewLayer.IndexOB.X", "ViewLayer.IndexMA.X"],
                  work / "render" / f"shot_{frame:04d}.exr")
        write_exr(env, work, beauty, objid, [f"diffuse.{c}" for c in "RGBA"], ["objectIndex"],
                  work / f"render.{frame:04d}.exr")
