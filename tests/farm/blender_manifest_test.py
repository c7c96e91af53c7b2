"""The add-on's blender_manifest.toml, bl_info and zip, held to what Blender expects of them.

python3 tests/farm/blender_manifest_test.py
No Blender 4.2 runs here: the manifest is checked against the rules 4.2 applies to an
extension's manifest, both versions against Kelvo's, and the zip of build-addon-zip.sh for the
one folder Blender 3.x installs and 4.2 finds the manifest in. Bad manifests must be caught.
"""
import ast
import os
import re
import subprocess
import sys
import tempfile
import tomllib
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ADDON = os.path.join(ROOT, "blender", "kelvo_blender")


def terse(text):
    """Blender's rule for a tagline or a permission's reason: short, ending in no stop."""
    return (0 < len(text) <= 64 and text == text.strip()
            and (text[-1].isalnum() or text[-1] in ")]}"))


# Field, type, rule: the required fields first, then the optional ones Blender knows.
REQUIRED = 9
FIELDS = (
    ("schema_version", str, lambda v: v == "1.0.0"),
    ("id", str, lambda v: v == "kelvo_blender"),  # the folder's name, so the module's
    ("version", str, lambda v: re.fullmatch(r"\d+\.\d+\.\d+([-+][0-9A-Za-z.+-]+)?", v)),
    ("name", str, lambda v: v and v == v.strip()),
    ("tagline", str, terse),
    ("maintainer", str, lambda v: v and v == v.strip()),
    ("type", str, lambda v: v == "add-on"),
    ("blender_version_min", str, lambda v: re.fullmatch(r"\d+\.\d+\.\d+", v)
     and tuple(map(int, v.split("."))) >= (4, 2, 0)),  # extensions start at 4.2
    ("license", list, lambda v: v == ["SPDX:MIT"]),
    ("blender_version_max", str, lambda v: re.fullmatch(r"\d+\.\d+\.\d+", v)),
    ("website", str, bool),
    ("copyright", list, bool),
    ("permissions", dict, lambda v: all(
        k in ("files", "network", "clipboard", "camera", "microphone")
        and isinstance(r, str) and terse(r) for k, r in v.items())),
    ("tags", list, bool),
    ("platforms", list, bool),
    ("wheels", list, bool),
)


def manifest_problems(manifest, version):
    known = {field[0] for field in FIELDS} | {"build"}
    problems = ["unknown field %r" % name for name in manifest if name not in known]
    for number, (name, kind, rule) in enumerate(FIELDS):
        if name not in manifest:
            problems += ["%s is missing" % name] if number < REQUIRED else []
        elif not isinstance(manifest[name], kind) or not rule(manifest[name]):
            problems.append("%s: %r breaks Blender's rule" % (name, manifest[name]))
    if manifest.get("version") != version:
        problems.append("version: %r, not Kelvo's %s" % (manifest.get("version"), version))
    return problems


def main():
    version = subprocess.run([os.path.join(ROOT, "scripts", "project-version.sh")],
                             capture_output=True, text=True, check=True).stdout.strip()
    with open(os.path.join(ADDON, "blender_manifest.toml"), "rb") as source:
        manifest_bytes = source.read()
    manifest = tomllib.loads(manifest_bytes.decode("utf-8"))
    problems = manifest_problems(manifest, version)
    with open(os.path.join(ADDON, "__init__.py"), encoding="utf-8") as source:
        bl_info = next(ast.literal_eval(node.value) for node in ast.parse(source.read()).body
                       if getattr(getattr(node, "targets", [None])[0], "id", "") == "bl_info")
    if ".".join(map(str, bl_info["version"])) != version:
        problems.append("bl_info: version %r, not Kelvo's %s" % (bl_info["version"], version))

    for what, change in (("a missing field", {"maintainer": None}),
                         ("a list for a string", {"name": ["Kelvo"]}),
                         ("a tagline ending in a stop", {"tagline": "Palettise frames."}),
                         ("a tagline over 64 characters", {"tagline": "x" * 65}),
                         ("another version", {"version": version + "-rc1"}),
                         ("a Blender before extensions", {"blender_version_min": "4.1.0"}),
                         ("an unknown permission", {"permissions": {"processes": "Run kelvo"}}),
                         ("a misspelt field", {"blender_min_version": "4.2.0"})):
        bad = {k: v for k, v in {**manifest, **change}.items() if v is not None}
        if not manifest_problems(bad, version):
            problems.append("the check misses %s" % what)

    build = os.path.join(ROOT, "packaging", "blender", "build-addon-zip.sh")
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "kelvo-blender-%s.zip" % version)
        subprocess.run([build, version, out], check=True)
        with zipfile.ZipFile(out) as archive:
            names = archive.namelist()
            if ([n for n in names if n.endswith("blender_manifest.toml")]
                    != ["kelvo_blender/blender_manifest.toml"]
                    or archive.read("kelvo_blender/blender_manifest.toml") != manifest_bytes):
                problems.append("zip: not the one manifest, in kelvo_blender/")
            problems += ["zip: %s" % n for n in names if not n.startswith("kelvo_blender/")
                         or "__pycache__" in n or n.endswith(".pyc")]
            if "kelvo_blender/__init__.py" not in names:
                problems.append("zip: no kelvo_blender/__init__.py")
        wrong = os.path.join(work, "wrong.zip")
        if subprocess.run([build, version + ".1", wrong], capture_output=True).returncode == 0 or os.path.exists(wrong):
            problems.append("the build script took a version the add-on does not carry")
    for problem in problems:
        print("FAILED: " + problem, file=sys.stderr)
    if not problems:
        print("blender_manifest.toml, bl_info and the zip of version %s pass" % version)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
