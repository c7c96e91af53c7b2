"""The add-on's blender_manifest.toml, bl_info and zip, held to what Blender expects of them.

python3 tests/farm/blender_manifest_test.py
No Blender 4.2 runs here, so the manifest is checked against the rules Blender 4.2 applies to
an extension's manifest (required fields and their types, the id, versions, the tagline, the
permissions); bl_info and the manifest must carry Kelvo's version; and the zip that
packaging/blender/build-addon-zip.sh builds must hold them in the one folder Blender 3.x
installs and 4.2 finds the manifest in. Bad manifests show that the checks catch faults.
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
SEMVER = re.compile(r"^(0|[1-9]\d*)\.(0|[1-9]\d*)\.(0|[1-9]\d*)"
                    r"(-[0-9A-Za-z.-]+)?(\+[0-9A-Za-z.-]+)?$")
PERMISSIONS = {"files", "network", "clipboard", "camera", "microphone"}


def terse(text):
    """Blender's rule for a tagline or a permission's reason, or None when `text` keeps it."""
    if len(text) > 64:
        return "longer than 64 characters"
    if not text.strip() or text != text.strip():
        return "empty, or white space around it"
    if not (text[-1].isalnum() or text[-1] in ")]}"):
        return "ends with punctuation"
    return None


def identifier(text):
    if not text.isidentifier() or "__" in text or text.startswith("_") or text.endswith("_"):
        return "not an identifier Blender takes"
    return None


def numbers(count):
    def check(text):
        parts = text.split(".")
        ok = len(parts) == count and all(p.isdigit() for p in parts)
        return None if ok else "not %d numbers separated by '.'" % count
    return check


def text(value):
    return None if value.strip() and value == value.strip() else "empty, or white space around it"


def strings(value):
    ok = value and all(isinstance(v, str) and v.strip() for v in value)
    return None if ok else "not a list of non-empty strings"


def permissions(value):
    for key, reason in value.items():
        if key not in PERMISSIONS:
            return "unknown permission %r" % key
        if not isinstance(reason, str) or terse(reason):
            return "the reason for %r: %s" % (key, terse(reason) if isinstance(reason, str)
                                              else "not a string")
    return None


# Field, type, check, required: the manifest fields Blender 4.2 knows.
FIELDS = (
    ("schema_version", str, lambda v: None if v == "1.0.0" else "not 1.0.0", True),
    ("id", str, identifier, True),
    ("version", str, lambda v: None if SEMVER.match(v) else "not a semantic version", True),
    ("name", str, text, True),
    ("tagline", str, terse, True),
    ("maintainer", str, text, True),
    ("type", str, lambda v: None if v == "add-on" else "not add-on", True),
    ("blender_version_min", str, numbers(3), True),
    ("license", list, strings, True),
    ("blender_version_max", str, numbers(3), False),
    ("website", str, text, False),
    ("copyright", list, strings, False),
    ("permissions", dict, permissions, False),
    ("tags", list, strings, False),
    ("platforms", list, strings, False),
    ("wheels", list, strings, False),
)


def manifest_problems(manifest, version):
    """What is wrong with a manifest for the add-on of Kelvo `version`."""
    problems = []
    known = {name for name, *_ in FIELDS} | {"build"}
    problems += ["unknown field %r" % name for name in manifest if name not in known]
    for name, kind, check, required in FIELDS:
        if name not in manifest:
            if required:
                problems.append("%s is missing" % name)
            continue
        value = manifest[name]
        problem = ("a %s, not a %s" % (kind.__name__, type(value).__name__)
                   if not isinstance(value, kind) else check(value))
        if problem:
            problems.append("%s: %s" % (name, problem))
    if not problems:
        if manifest["id"] != os.path.basename(ADDON):
            problems.append("id: not the add-on's folder name")
        if manifest["version"] != version:
            problems.append("version: %s, not Kelvo's %s" % (manifest["version"], version))
        if tuple(map(int, manifest["blender_version_min"].split("."))) < (4, 2, 0):
            problems.append("blender_version_min: extensions start at 4.2.0")
        if manifest["license"] != ["SPDX:MIT"]:
            problems.append("license: not [\"SPDX:MIT\"]")
    return problems


def bl_info_version():
    with open(os.path.join(ADDON, "__init__.py"), encoding="utf-8") as source:
        for node in ast.parse(source.read()).body:
            if isinstance(node, ast.Assign) and getattr(node.targets[0], "id", "") == "bl_info":
                return ".".join(map(str, ast.literal_eval(node.value)["version"]))
    return None


def zip_problems(version, manifest_bytes, work):
    """What is wrong with the zip the build script makes, or with how it refuses a version."""
    problems = []
    build = os.path.join(ROOT, "packaging", "blender", "build-addon-zip.sh")
    out = os.path.join(work, "kelvo-blender-%s.zip" % version)
    subprocess.run([build, version, out], check=True)
    with zipfile.ZipFile(out) as archive:
        names = archive.namelist()
        manifests = [n for n in names if n.endswith("blender_manifest.toml")]
        if manifests != ["kelvo_blender/blender_manifest.toml"]:
            problems.append("zip: the manifests are %s" % manifests)
        elif archive.read(manifests[0]) != manifest_bytes:
            problems.append("zip: its manifest is not the add-on's")
        if "kelvo_blender/__init__.py" not in names:
            problems.append("zip: no kelvo_blender/__init__.py")
        problems += ["zip: %s" % n for n in names
                     if not n.startswith("kelvo_blender/") or "__pycache__" in n
                     or n.endswith(".pyc")]
    wrong = os.path.join(work, "wrong.zip")
    refused = subprocess.run([build, version + ".1", wrong], capture_output=True)
    if refused.returncode == 0 or os.path.exists(wrong):
        problems.append("the build script took a version the add-on does not carry")
    return problems


def main():
    version = subprocess.run([os.path.join(ROOT, "scripts", "project-version.sh")],
                             capture_output=True, text=True, check=True).stdout.strip()
    with open(os.path.join(ADDON, "blender_manifest.toml"), "rb") as source:
        manifest_bytes = source.read()
    manifest = tomllib.loads(manifest_bytes.decode("utf-8"))
    problems = manifest_problems(manifest, version)
    if bl_info_version() != version:
        problems.append("bl_info: version %s, not Kelvo's %s" % (bl_info_version(), version))

    # Each fault a manifest could have must be caught.
    faults = (("a required field missing", {"maintainer": None}),
              ("a list where a string belongs", {"name": ["Kelvo"]}),
              ("a tagline ending in a full stop", {"tagline": "Palettise frames."}),
              ("a tagline over 64 characters", {"tagline": "x" * 65}),
              ("an id with a double underscore", {"id": "kelvo__blender"}),
              ("another version", {"version": version + "-rc1"}),
              ("a two-number Blender version", {"blender_version_min": "4.2"}),
              ("an unknown permission", {"permissions": {"processes": "Run kelvo"}}),
              ("a misspelt field", {"blender_min_version": "4.2.0"}))
    for what, change in faults:
        bad = {k: v for k, v in {**manifest, **change}.items() if v is not None}
        if not manifest_problems(bad, version):
            problems.append("the check misses %s" % what)

    with tempfile.TemporaryDirectory() as work:
        problems += zip_problems(version, manifest_bytes, work)
    for problem in problems:
        print("FAILED: " + problem, file=sys.stderr)
    if problems:
        return 1
    print("blender_manifest.toml, bl_info and the zip of version %s pass" % version)
    return 0


if __name__ == "__main__":
    sys.exit(main())
