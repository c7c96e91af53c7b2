#!/usr/bin/env bash
# Builds every package of this version into OUTDIR (default build/packages):
#   kelvo_<version>_<arch>.deb       the Debian package (packaging/debian)
#   kelvo-<version>-win32.zip        the portable Windows zip (packaging/windows)
#   kelvo-<version>-setup.exe        the Windows installer, made with NSIS (packaging/windows)
#   kelvo-blender-<version>.zip      the Blender add-on (packaging/blender)
# from the native-release and windows-release builds, which it brings up to date first. What
# it needs is installed by `scripts/install-deps.sh all`.
set -euo pipefail
cd "$(dirname "$0")/.."
outdir=${1:-build/packages}
version=$(scripts/project-version.sh)
mkdir -p "$outdir"

echo "== packages of kelvo $version into $outdir"
cmake --preset native-release >/dev/null
cmake --build --preset native-release -j2 --target kelvo
scripts/build-windows-deps.sh
cmake --preset windows-release >/dev/null
cmake --build --preset windows-release -j2 --target kelvo kelvo_module

packaging/debian/build-deb.sh build/native-release "$outdir"
packaging/windows/build-windows-packages.sh build/windows-release "$version" "$outdir"
packaging/blender/build-addon-zip.sh "$version" "$outdir/kelvo-blender-$version.zip"
(cd "$outdir" && ls -l "kelvo_${version}_"*.deb "kelvo-$version-win32.zip" \
    "kelvo-$version-setup.exe" "kelvo-blender-$version.zip")
