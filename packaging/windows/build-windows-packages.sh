#!/usr/bin/env bash
# Builds Kelvo's Windows packages from a windows-release build:
#   build-windows-packages.sh BUILD_DIR VERSION OUTDIR
# BUILD_DIR holds Kelvo.flt and kelvo.exe (e.g. build/windows-release), VERSION is the project
# version (scripts/project-version.sh), OUTDIR receives
#   kelvo-VERSION-win32.zip    the portable folder kelvo-VERSION-win32\ (Kelvo.flt, kelvo.exe,
#                              manual\, palettes\, settings\, LICENSE.txt, README.txt)
#   kelvo-VERSION-setup.exe    the installer of the same files (kelvo.nsi, Debian's makensis)
# Nothing else is written outside a temporary folder in OUTDIR, which is removed; each package
# is written under a temporary name and renamed into place, so a failure leaves no half file.
# Needs python3, mandoc and Python-Markdown (the manual), zip and makensis (nsis).
set -euo pipefail

fail() {
    echo "build-windows-packages.sh: $*" >&2
    exit 1
}

[ $# -eq 3 ] || { sed -n '2,10s/^# \{0,1\}//p' "$0" >&2; exit 2; }
build=$1 version=$2 outdir=$3
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "'$version' is no version of the form 1.2.3"
for file in Kelvo.flt kelvo.exe; do
    [ -f "$build/$file" ] || fail "$build/$file is missing; build the windows-release preset first"
done
[ -f "$source_dir/LICENSE" ] || fail "$source_dir/LICENSE is missing"
for tool in python3 zip makensis; do
    command -v "$tool" >/dev/null || fail "$tool is missing; run scripts/install-deps.sh all"
done
mkdir -p "$outdir" || fail "cannot create '$outdir'"
outdir=$(cd "$outdir" && pwd)

work=$(mktemp -d "$outdir/.kelvo-windows.XXXXXX")
trap 'rm -rf "$work"' EXIT
name=kelvo-$version-win32
stage=$work/$name
mkdir -p "$stage"

cp "$build/Kelvo.flt" "$build/kelvo.exe" "$stage/"
python3 "$source_dir/scripts/make_html_manual.py" "$stage/manual" ||
    fail "the HTML manual could not be made"
[ -f "$stage/manual/index.html" ] || fail "the HTML manual has no index.html"
# The example settings name their palettes as ../palettes/, so the two folders sit side by side.
for folder in palettes settings; do
    mkdir -p "$stage/$folder"
    if [ -d "$source_dir/examples/$folder" ]; then
        find "$source_dir/examples/$folder" -maxdepth 1 -type f ! -name '.*' \
            -exec cp {} "$stage/$folder/" \;
    fi
done
# Text files with Windows line ends, so that Notepad shows their lines.
sed 's/\r$//; s/$/\r/' "$source_dir/LICENSE" >"$stage/LICENSE.txt"
sed "s/@VERSION@/$version/g; s/\r\$//; s/\$/\r/" "$here/README.txt.in" >"$stage/README.txt"

# The same date on every file, so that the same sources give the same zip.
epoch=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || echo 315532800)
find "$stage" -exec touch -h -d "@$epoch" {} +

zip_tmp=$work/$name.zip
(cd "$work" && find "$name" -print | LC_ALL=C sort | TZ=UTC zip -q -X -D "$zip_tmp" -@) ||
    fail "cannot write the zip"

# The installer's file list: KELVO_INSTALL_FILES installs the staged folder's files and
# KELVO_REMOVE_FILES removes exactly those, then their folders (deepest first, only if empty).
nsis_path() {
    case $1 in
    *'"'* | *'`'* | *"'"*) fail "cannot name '$1' in the installer script" ;;
    esac
    local path=${1//\$/\$\$}
    printf '%s' "${path//\//\\}"
}
manifest=$work/manifest.nsh
{
    echo '!macro KELVO_INSTALL_FILES'
    while IFS= read -r dir; do
        rel=${dir#"$stage"}
        echo "    SetOutPath \"\$INSTDIR$(nsis_path "$rel")\""
        find "$dir" -maxdepth 1 -type f -print | LC_ALL=C sort | while IFS= read -r file; do
            echo "    File \"$file\""
        done
    done < <(find "$stage" -type d -print | LC_ALL=C sort)
    echo '!macroend'
    echo '!macro KELVO_REMOVE_FILES'
    find "$stage" -type f -print | LC_ALL=C sort | while IFS= read -r file; do
        echo "    Delete \"\$INSTDIR$(nsis_path "${file#"$stage"}")\""
    done
    find "$stage" -mindepth 1 -type d -print | LC_ALL=C sort -r | while IFS= read -r dir; do
        echo "    RMDir \"\$INSTDIR$(nsis_path "${dir#"$stage"}")\""
    done
    echo '!macroend'
} >"$manifest"
size_kb=$(du -sk --apparent-size "$stage" | cut -f1)

setup_tmp=$work/kelvo-$version-setup.exe
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DMANIFEST="$manifest" \
    -DOUTFILE="$setup_tmp" -DESTIMATED_KB="$size_kb" "$here/kelvo.nsi" >"$work/makensis.log" ||
    { cat "$work/makensis.log" >&2; fail "makensis failed"; }

mv -f "$zip_tmp" "$outdir/$name.zip"
mv -f "$setup_tmp" "$outdir/kelvo-$version-setup.exe"
echo "$outdir/$name.zip"
echo "$outdir/kelvo-$version-setup.exe"
