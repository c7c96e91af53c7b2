#!/usr/bin/env bash
# Builds Kelvo's Windows packages from a windows-release build:
#   build-windows-packages.sh BUILD_DIR VERSION OUTDIR
# BUILD_DIR holds Kelvo.flt and kelvo.exe (e.g. build/windows-release), VERSION is the project
# version (scripts/project-version.sh), OUTDIR receives
#   kelvo-VERSION-win32.zip    the portable folder kelvo-VERSION-win32\ (Kelvo.flt, kelvo.exe,
#                              manual\, palettes\, settings\, LICENSE.txt,
#                              THIRD-PARTY-NOTICES.txt, README.txt)
#   kelvo-VERSION-setup.exe    the installer of the same files (kelvo.nsi, Debian's makensis)
# Nothing else is written outside a temporary folder in OUTDIR, which is removed; each package
# is written under a temporary name and renamed into place, so a failure leaves no half file.
# THIRD-PARTY-NOTICES.txt holds the licences of the libraries linked into the two programs, from
# the copyright files of the installed Debian packages they were built from.
# Needs python3, mandoc and Python-Markdown (the manual), zip and makensis (nsis).
set -euo pipefail

fail() {
    echo "build-windows-packages.sh: $*" >&2
    exit 1
}

[ $# -eq 3 ] || { sed -n '2,14s/^# \{0,1\}//p' "$0" >&2; exit 2; }
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

# The libraries linked statically into the programs: a name, the installed Debian package whose
# copyright file holds its licence (the package built from, or its source package's -dev), and
# the programs that contain it. Kelvo.flt links none of the image libraries (CMakeLists.txt).
NOTICES=(
    "Imath|libimath-dev|kelvo.exe"
    "OpenEXR|libopenexr-dev|kelvo.exe"
    "libpng|libpng-dev|kelvo.exe"
    "giflib|libgif-dev|kelvo.exe"
    "libdeflate|libdeflate-dev|kelvo.exe"
    "zlib|libz-mingw-w64-dev|kelvo.exe"
    "toml++|libtomlplusplus-dev|kelvo.exe"
    "mingw-w64 runtime|mingw-w64-i686-dev|kelvo.exe, Kelvo.flt"
)
# What the libraries were built from: scripts/build-windows-deps.sh's record, in the prefix the
# build took them from.
deps=$(sed -n 's/^KELVO_WINDOWS_DEPS:PATH=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
built_from=${deps:+$deps/built-from.txt}
[ -f "$built_from" ] || fail "the Windows libraries of $build have no built-from.txt;" \
    "run scripts/build-windows-deps.sh, then configure and build the windows-release preset"
for entry in "${NOTICES[@]}"; do
    IFS='|' read -r _ package _ <<<"$entry"
    [ -f "/usr/share/doc/$package/copyright" ] ||
        fail "/usr/share/doc/$package/copyright is missing; run scripts/install-deps.sh all"
done

# The Debian source package and version that library package $1 was built from: the deps'
# record for those built from source, else the installed package's own.
built_version() {
    local source recorded
    source=$(dpkg-query -W -f='${source:Package}' "$1") || return 1
    recorded=$(awk -v source="$source" '$1 == source { print $2; exit }' "$built_from")
    [ -n "$recorded" ] || recorded=$(dpkg-query -W -f='${Version}' "$1") || return 1
    printf '%s %s' "$source" "$recorded"
}

# THIRD-PARTY-NOTICES.txt (without Windows line ends): a header saying which program holds
# which library, then each library's Debian copyright file, which carries the upstream
# copyright notices and licence texts.
write_notices() {
    local entry name package programs rule built program names
    rule=$(printf '%079d' 0 | tr 0 -)
    echo "Third-party software in Kelvo $version for Windows"
    echo
    echo "kelvo.exe and Kelvo.flt are linked statically: besides Kelvo's own code (LICENSE.txt),"
    echo "they contain these libraries, each built from the Debian source package named in its"
    echo "section below:"
    echo
    for program in kelvo.exe Kelvo.flt; do
        names=""
        for entry in "${NOTICES[@]}"; do
            IFS='|' read -r name package programs <<<"$entry"
            case ", $programs," in *", $program,"*) names+="${names:+, }$name" ;; esac
        done
        printf '  %-11s %s\n' "$program" "$names"
    done
    echo
    echo "The mingw-w64 runtime is its start-up code and support libraries (libmingwex, and"
    echo "winpthreads where threads are used). Both programs also contain GCC's runtime libraries"
    echo "(libgcc, libstdc++), licensed under the GNU GPL version 3 with the GCC Runtime Library"
    echo "Exception, which asks for no notice in programs compiled with GCC."
    echo
    echo "Each library's licence follows: its Debian copyright file, which holds the upstream"
    echo "copyright notices and licence texts."
    for entry in "${NOTICES[@]}"; do
        IFS='|' read -r name package programs <<<"$entry"
        built=$(built_version "$package") || fail "dpkg-query knows no $package"
        echo
        echo "$rule"
        echo "$name, from Debian $built; in $programs"
        echo "$rule"
        echo
        cat "/usr/share/doc/$package/copyright"
    done
}

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
write_notices >"$work/notices.txt"
sed 's/\r$//; s/$/\r/' "$work/notices.txt" >"$stage/THIRD-PARTY-NOTICES.txt"

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
