#!/usr/bin/env bash
# Builds the Blender add-on's zip from blender/kelvo_blender.
#   packaging/blender/build-addon-zip.sh VERSION OUT.zip
# VERSION is Kelvo's (scripts/project-version.sh): the add-on's bl_info and its
# blender_manifest.toml must carry it, or nothing is written. OUT.zip (by convention
# kelvo-blender-VERSION.zip) holds the folder kelvo_blender/, which Blender 3.x installs through
# Preferences > Add-ons > Install and Blender 4.2+ through Install from Disk, as an extension
# (the manifest may sit in one folder of the zip). Only OUT.zip is written, in one step; its
# entries are sorted and dated SOURCE_DATE_EPOCH (default 1980-01-01), so a build is repeatable.
set -euo pipefail
if [ $# -ne 2 ] || [ -z "$1" ] || [[ "$2" != *.zip ]]; then
    echo "usage: build-addon-zip.sh VERSION OUT.zip" >&2
    exit 2
fi
addon=$(cd "$(dirname "$0")/../../blender/kelvo_blender" && pwd)
exec python3 - "$1" "$2" "$addon" <<'PYTHON'
import ast, os, sys, tempfile, time, tomllib, zipfile

version, out, addon = sys.argv[1:]


def fail(message):
    sys.exit("build-addon-zip.sh: " + message)


with open(os.path.join(addon, "__init__.py"), encoding="utf-8") as source:
    tree = ast.parse(source.read())
bl_info = next((ast.literal_eval(node.value) for node in tree.body
                if isinstance(node, ast.Assign)
                and any(getattr(t, "id", None) == "bl_info" for t in node.targets)), None)
if bl_info is None:
    fail("no bl_info in %s/__init__.py" % addon)
with open(os.path.join(addon, "blender_manifest.toml"), "rb") as manifest:
    manifest_version = tomllib.load(manifest).get("version")
found = {"bl_info": ".".join(map(str, bl_info.get("version", ()))),
         "blender_manifest.toml": manifest_version}
for where, value in found.items():
    if value != version:
        fail("the add-on's %s says version %s, not %s" % (where, value, version))

files = []
for folder, subfolders, names in os.walk(addon):
    subfolders[:] = sorted(d for d in subfolders if d != "__pycache__")
    files += [os.path.join(folder, n) for n in names if not n.endswith((".pyc", ".pyo"))]
stamp = time.gmtime(max(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")), 315532800))
out_dir = os.path.dirname(os.path.abspath(out))
os.makedirs(out_dir, exist_ok=True)
handle, temporary = tempfile.mkstemp(dir=out_dir, prefix=".kelvo-blender-", suffix=".zip")
try:
    with os.fdopen(handle, "wb") as raw, zipfile.ZipFile(raw, "w", zipfile.ZIP_DEFLATED) as z:
        for path in sorted(files):
            entry = zipfile.ZipInfo("kelvo_blender/" + os.path.relpath(path, addon), stamp[:6])
            entry.external_attr = 0o644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as data:
                z.writestr(entry, data.read())
    os.chmod(temporary, 0o644)
    os.replace(temporary, out)
except BaseException:
    os.unlink(temporary)
    raise
PYTHON
