#!/usr/bin/env bash
# Builds kelvo's Debian package, kelvo_<version>_<arch>.deb, from a native build tree.
#
#   build-deb.sh BUILD_DIR OUTDIR
#
# BUILD_DIR is a configured and built native tree (scripts/package.sh uses native-release);
# its `cmake --install` is the package's content, under /usr. The run-time dependencies are
# computed by dpkg-shlibdeps from what the program links, the copyright file and the Debian
# changelog are made from LICENSE and CHANGELOG.md (the copyright file also covers toml++, which
# is compiled into the program from libtomlplusplus-dev's headers, from that package's own
# copyright file), and lintian's verdict is left to the test
# (tests/install/debian_package_test.sh), which also installs the package.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: build-deb.sh BUILD_DIR OUTDIR" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
outdir=$(cd "$2" && pwd)
version=$("$root/scripts/project-version.sh")
arch=$(dpkg --print-architecture)
deb="$outdir/kelvo_${version}_${arch}.deb"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage="$work/kelvo"
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null

# The program as Debian ships programs: without its symbols.
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$stage/usr/bin/kelvo"

doc="$stage/usr/share/doc/kelvo"
# toml++ is header-only: its code is in the program, so its notice goes with Kelvo's.
toml_copyright=/usr/share/doc/libtomlplusplus-dev/copyright
toml_version=$(dpkg-query -W -f='${Version}' libtomlplusplus-dev 2>/dev/null || true)
if [ -z "$toml_version" ] || [ ! -f "$toml_copyright" ]; then
    echo "build-deb.sh: libtomlplusplus-dev is not installed; run scripts/install-deps.sh all" >&2
    exit 1
fi
toml_comment="toml++ ${toml_version%%[+-]*}, header-only, compiled into kelvo from the headers"
toml_comment+=" of Debian's libtomlplusplus-dev $toml_version"
toml_paragraph=$(python3 "$here/embedded_copyright.py" "$toml_copyright" "toml++/*" "$toml_comment")

# The licence is in the copyright file, as Debian keeps it.
rm -f "$doc/LICENSE"
{
    echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
    echo "Upstream-Name: Kelvo"
    echo
    echo "Files: *"
    echo "Copyright: $(sed -n 's/^Copyright (c) //p' "$root/LICENSE")"
    echo "License: Expat"
    # The licence text as a DEP-5 paragraph: each line indented, empty lines as " .".
    sed -n '3,$p' "$root/LICENSE" | sed -e 's/^$/./' -e 's/^/ /'
    echo
    echo "$toml_paragraph"
} >"$doc/copyright"
python3 "$here/debian_changelog.py" "$root/CHANGELOG.md" | gzip -9n >"$doc/changelog.gz"
# Debian compresses manual pages, and documentation beyond a few kilobytes.
gzip -9n "$stage"/usr/share/man/man1/*.1
find "$doc" -type f -name '*.md' -size +4k -exec gzip -9n {} +

# What the program links decides what it depends on.
mkdir -p "$work/shlibs/debian"
printf 'Source: kelvo\n\nPackage: kelvo\nArchitecture: any\n' >"$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$stage/usr/bin/kelvo" 2>/dev/null |
          sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "build-deb.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +
chmod 0755 "$stage/usr/bin/kelvo"

mkdir -p "$stage/DEBIAN"
install -m 0644 "$here/lintian-overrides" -D "$stage/usr/share/lintian/overrides/kelvo"
size=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
cat >"$stage/DEBIAN/control" <<CONTROL
Package: kelvo
Version: $version
Architecture: $arch
Maintainer: The Kelvo project <kelvo@kelvo.invalid>
Installed-Size: $size
Depends: $depends
Section: graphics
Priority: optional
Description: palettise rendered frames into a fixed 256-colour game palette
 kelvo turns rendered PNG and OpenEXR frame sequences into 8-bit frames of a
 fixed 256-colour palette, for sprite-based games and fixed-palette
 animation. Each object or material identifier of the render (from an ID
 pass or an OpenEXR channel) owns a range of palette entries, and its pixels
 are mapped inside that range by luminance (with an optional checkerboard
 dither) or to the nearest colour. The palette's order is kept: exact
 palette colours map to themselves.
 .
 It writes 8-bit RLE PCX frames, indexed PNG, 8-bit BMP and animated GIF
 files, reads palettes in the usual formats (PCX, JASC-PAL, GIMP, ACT, RIFF,
 raw, Lospec hex, indexed PNG), and runs on render farms with exit codes a
 scheduler can trust.
CONTROL
(cd "$stage" && find usr -type f -printf '%P\0' | sort -z |
     xargs -0 -I{} md5sum "usr/{}") >"$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"

dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "$deb"
