#!/usr/bin/env bash
# Cross-builds Imath and OpenEXR as static libraries for the 32-bit Windows build, from Debian's
# source packages of exactly the versions the native build uses, into build/windows-deps.
#
# Debian has no mingw-w64 OpenEXR, so kelvo.exe links this build. The sources come through apt
# from deb-src entries derived from this machine's own apt sources, kept in a private apt
# state under build/windows-deps/work: the system's apt configuration is left as it is. zlib is
# Debian's libz-mingw-w64-dev. Nothing else is fetched; only the libraries are built.
# A stamp records what the prefix was built from; when it matches, nothing is done.
set -euo pipefail
SCRIPT=$(readlink -f "$0")
cd "$(dirname "$SCRIPT")/.."

TRIPLE=i686-w64-mingw32
TOOLCHAIN=$PWD/cmake/toolchain-mingw-i686.cmake
DEPS=$PWD/build/windows-deps
PREFIX=$DEPS/$TRIPLE
WORK=$DEPS/work
STAMP=$PREFIX/built-from.txt
JOBS=${KELVO_DEPS_JOBS:-2}

fail() {
    echo "build-windows-openexr.sh: $*" >&2
    exit 1
}

# The source package and version behind an installed binary package.
source_of() {
    local status
    status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] ||
        fail "$1 is not installed; run scripts/install-deps.sh all first"
    dpkg-query -W -f='${source:Package} ${source:Version}' "$1"
}

for tool in "$TRIPLE-gcc-posix" "$TRIPLE-g++-posix" cmake ninja dpkg-source apt-get flock; do
    command -v "$tool" >/dev/null || fail "$tool is missing; run scripts/install-deps.sh all first"
done
[ -f "/usr/$TRIPLE/lib/libz.a" ] ||
    fail "the mingw-w64 zlib is missing; run scripts/install-deps.sh all first"

imath=$(source_of libimath-dev)
openexr=$(source_of libopenexr-dev)
IMATH_PACKAGE=${imath% *} IMATH_VERSION=${imath#* }
OPENEXR_PACKAGE=${openexr% *} OPENEXR_VERSION=${openexr#* }
FLAGS="-msse2 -mfpmath=sse"
WANTED="$IMATH_PACKAGE $IMATH_VERSION
$OPENEXR_PACKAGE $OPENEXR_VERSION
g++-mingw-w64-i686-posix $(dpkg-query -W -f='${Version}' g++-mingw-w64-i686-posix) $FLAGS
$(sha256sum "$SCRIPT" "$TOOLCHAIN" | cut -d' ' -f1)"

mkdir -p "$DEPS"
# One build at a time per tree: a second run waits, then finds the prefix complete.
exec 9>"$DEPS/lock"
flock 9
if [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$WANTED" ]; then
    echo "Windows OpenEXR: up to date in $PREFIX ($OPENEXR_PACKAGE $OPENEXR_VERSION)"
    exit 0
fi

echo "Windows OpenEXR: building $IMATH_PACKAGE $IMATH_VERSION and $OPENEXR_PACKAGE" \
     "$OPENEXR_VERSION for $TRIPLE into $PREFIX"
started=$SECONDS
rm -rf "$PREFIX" "$WORK"
mkdir -p "$WORK/apt/sources.list.d" "$WORK/apt/lists/partial" "$WORK/apt/cache" "$WORK/src"

# deb-src entries for every enabled Debian source of this release (suite CODENAME or
# CODENAME-something), in both apt formats.
# shellcheck disable=SC1091
. /etc/os-release
[ -n "${VERSION_CODENAME:-}" ] || fail "/etc/os-release names no release codename"
shopt -s nullglob
sources=(/etc/apt/sources.list.d/*.sources)
lists=(/etc/apt/sources.list.d/*.list)
[ -f /etc/apt/sources.list ] && lists+=(/etc/apt/sources.list)
shopt -u nullglob
if [ ${#sources[@]} -gt 0 ]; then
    awk -v codename="$VERSION_CODENAME" '
        function flush(   i) {
            if (n > 0 && types ~ /(^|[ \t])deb([ \t]|$)/ && enabled != "no" &&
                suites ~ ("(^|[ \t])" codename "(-[a-z]+)?([ \t]|$)")) {
                for (i = 1; i <= n; i++) print lines[i]
                print ""
            }
            n = 0; types = ""; suites = ""; enabled = ""
        }
        function value(   v) { v = $0; sub(/^[^:]*:/, "", v); return v }
        FNR == 1 { flush() }
        /^[ \t]*#/ { next }
        /^[ \t]*$/ { flush(); next }
        {
            line = $0
            field = tolower($1)
            if (field == "types:") { types = value(); line = "Types: deb-src" }
            else if (field == "suites:") { suites = value() }
            else if (field == "enabled:") { enabled = tolower($2) }
            else if (field == "architectures:") { next }
            lines[++n] = line
        }
        END { flush() }' "${sources[@]}" >"$WORK/apt/sources.list.d/deb-src.sources"
fi
if [ ${#lists[@]} -gt 0 ]; then
    awk -v codename="$VERSION_CODENAME" '
        $1 == "deb" {
            rest = $0
            sub(/^[ \t]*deb[ \t]+/, "", rest)
            options = ""
            if (rest ~ /^\[/) {
                options = substr(rest, 1, index(rest, "]"))
                rest = substr(rest, index(rest, "]") + 1)
            }
            split(rest, words)
            if (words[2] ~ ("^" codename "(-[a-z]+)?$")) print "deb-src " options " " rest
        }' "${lists[@]}" >"$WORK/apt/sources.list"
else
    : >"$WORK/apt/sources.list"
fi
[ -s "$WORK/apt/sources.list" ] || [ -s "$WORK/apt/sources.list.d/deb-src.sources" ] ||
    fail "no apt source for Debian $VERSION_CODENAME in /etc/apt to derive deb-src entries from"

apt=(apt-get -q
     -o "Dir::Etc::SourceList=$WORK/apt/sources.list"
     -o "Dir::Etc::SourceParts=$WORK/apt/sources.list.d"
     -o "Dir::State::Lists=$WORK/apt/lists"
     -o "Dir::Cache=$WORK/apt/cache"
     -o "APT::Sandbox::User=$(id -un)")
echo "Windows OpenEXR: fetching the source package index"
"${apt[@]}" update >"$WORK/apt.log" 2>&1 || {
    cat "$WORK/apt.log" >&2
    fail "apt-get update of the deb-src entries failed"
}
echo "Windows OpenEXR: fetching the source packages"
(cd "$WORK/src" && "${apt[@]}" source --download-only \
    "$IMATH_PACKAGE=$IMATH_VERSION" "$OPENEXR_PACKAGE=$OPENEXR_VERSION") >>"$WORK/apt.log" 2>&1 || {
    cat "$WORK/apt.log" >&2
    fail "cannot fetch $IMATH_PACKAGE $IMATH_VERSION and $OPENEXR_PACKAGE $OPENEXR_VERSION;" \
         "if the archive has newer ones, upgrade libimath-dev and libopenexr-dev and rerun"
}

# Unpacked with Debian's patches applied. apt has checked the files against the signed index;
# dpkg-source checks them again (its complaint that it cannot check the signature without the
# Debian keyring is left in the log).
unpack() {
    local dsc
    dsc=$(ls "$WORK/src/$1_"*.dsc)
    dpkg-source -x "$dsc" "$WORK/src/$1" >>"$WORK/unpack.log" 2>&1 || {
        cat "$WORK/unpack.log" >&2
        fail "cannot unpack $dsc"
    }
}
unpack "$IMATH_PACKAGE"
unpack "$OPENEXR_PACKAGE"

# Static libraries with the Windows build's own toolchain and floating-point settings (x87
# extended precision would give other results), optimised as Debian builds its own (-O2).
cmake_args=(-G Ninja
            "-DCMAKE_TOOLCHAIN_FILE=$TOOLCHAIN"
            "-DCMAKE_C_FLAGS=$FLAGS"
            "-DCMAKE_CXX_FLAGS=$FLAGS"
            -DCMAKE_BUILD_TYPE=Release
            "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG"
            "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"
            "-DCMAKE_INSTALL_PREFIX=$PREFIX"
            -DBUILD_SHARED_LIBS=OFF
            -DBUILD_TESTING=OFF
            -DDOCS=OFF
            -DFETCHCONTENT_FULLY_DISCONNECTED=ON)

configure() {
    local name=$1
    shift
    echo "Windows OpenEXR: building $name"
    cmake -S "$WORK/src/$name" -B "$WORK/build-$name" "${cmake_args[@]}" "$@" \
        >"$WORK/configure-$name.log" 2>&1 || {
        cat "$WORK/configure-$name.log" >&2
        fail "configuring $name failed"
    }
}

build_and_install() {
    local name=$1
    cmake --build "$WORK/build-$name" -j "$JOBS" >"$WORK/build-$name.log" 2>&1 || {
        tail -n 60 "$WORK/build-$name.log" >&2
        fail "building $name failed (whole log: $WORK/build-$name.log)"
    }
    cmake --install "$WORK/build-$name" >"$WORK/install-$name.log" 2>&1 || {
        cat "$WORK/install-$name.log" >&2
        fail "installing $name failed"
    }
}

configure "$IMATH_PACKAGE" -DPYTHON=OFF -DIMATH_INSTALL_PKG_CONFIG=OFF
build_and_install "$IMATH_PACKAGE"
[ -f "$PREFIX/lib/cmake/Imath/ImathConfig.cmake" ] || fail "Imath installed no CMake package"

# OpenEXR takes the Imath built here and Debian's static mingw-w64 zlib. Had it missed either,
# its build would fetch a copy of its own: that is checked before anything is built.
configure "$OPENEXR_PACKAGE" \
    "-DImath_DIR=$PREFIX/lib/cmake/Imath" \
    -DZLIB_USE_STATIC_LIBS=ON \
    -DOPENEXR_FORCE_INTERNAL_IMATH=OFF \
    -DOPENEXR_FORCE_INTERNAL_ZLIB=OFF \
    -DOPENEXR_BUILD_TOOLS=OFF \
    -DOPENEXR_INSTALL_TOOLS=OFF \
    -DOPENEXR_INSTALL_EXAMPLES=OFF \
    -DOPENEXR_INSTALL_PKG_CONFIG=OFF
grep -qxF -- "-- Using Imath from $PREFIX/lib/cmake/Imath" "$WORK/configure-$OPENEXR_PACKAGE.log" ||
    fail "OpenEXR's build did not take the Imath built here" \
         "(see $WORK/configure-$OPENEXR_PACKAGE.log)"
grep -qx "ZLIB_LIBRARY_RELEASE:FILEPATH=/usr/$TRIPLE/lib/libz.a" \
    "$WORK/build-$OPENEXR_PACKAGE/CMakeCache.txt" ||
    fail "OpenEXR's build did not take Debian's static mingw-w64 zlib (libz-mingw-w64-dev)"
build_and_install "$OPENEXR_PACKAGE"
[ -f "$PREFIX/lib/cmake/OpenEXR/OpenEXRConfig.cmake" ] || fail "OpenEXR installed no CMake package"

rm -rf "$WORK"
printf '%s\n' "$WANTED" >"$STAMP"
echo "Windows OpenEXR: done in $((SECONDS - started)) s"
