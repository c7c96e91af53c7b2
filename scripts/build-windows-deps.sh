#!/usr/bin/env bash
# Cross-builds the libraries kelvo.exe links (Imath, OpenEXR, libpng, giflib, libdeflate) as static
# libraries for the 32-bit Windows build, from Debian's source packages of exactly the versions the
# native build uses (unless the archive cannot deliver them: see "fetching" below), into
# build/windows-deps, and puts toml++'s headers (header-only, from the installed
# libtomlplusplus-dev) beside them.
#
# Debian has no mingw-w64 OpenEXR, libpng, giflib or libdeflate, so kelvo.exe links this build. The
# sources come through apt from deb-src entries derived from this machine's own apt sources, kept in
# a private apt state under build/windows-deps/work: the system's apt configuration is left as it
# is. zlib is Debian's libz-mingw-w64-dev. Nothing else is fetched; only the libraries are built. A
# stamp records what the prefix was built from; when it matches, nothing is done.
#
# To add a library: a line in LIBRARIES and a build_NAME function below.
set -euo pipefail
SCRIPT=$(readlink -f "$0")
cd "$(dirname "$SCRIPT")/.."

TRIPLE=i686-w64-mingw32
TOOLCHAIN=$PWD/cmake/toolchain-mingw-i686.cmake
DEPS=$PWD/build/windows-deps
PREFIX=$DEPS/$TRIPLE
WORK=$DEPS/work
STAMP=$PREFIX/built-from.txt
SUBSTITUTES=$PREFIX/substitutes.txt
JOBS=${KELVO_DEPS_JOBS:-2}
ZLIB=/usr/$TRIPLE/lib/libz.a

# The libraries in build order: a short name, and the installed -dev package of the native build
# whose source package and version are built. Each name has a build_NAME function below, which
# configures, builds and installs from $WORK/src/<source package>.
LIBRARIES=(
    "imath libimath-dev"
    "openexr libopenexr-dev"
    "png libpng-dev"
    "gif libgif-dev"
    "deflate libdeflate-dev"
)

fail() {
    echo "build-windows-deps.sh: $*" >&2
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

for tool in "$TRIPLE-gcc-posix" "$TRIPLE-g++-posix" "$TRIPLE-ar" cmake ninja make dpkg-source \
    apt-get flock; do
    command -v "$tool" >/dev/null || fail "$tool is missing; run scripts/install-deps.sh all first"
done
[ -f "$ZLIB" ] || fail "the mingw-w64 zlib is missing; run scripts/install-deps.sh all first"

declare -A BINARY PACKAGE VERSION
names=() wanted_sources=()
for entry in "${LIBRARIES[@]}"; do
    name=${entry% *}
    BINARY[$name]=${entry#* }
    source=$(source_of "${BINARY[$name]}")
    PACKAGE[$name]=${source% *} VERSION[$name]=${source#* }
    names+=("$name") wanted_sources+=("$source")
done
# toml++ is used header-only, and its headers are the same on every system: they are copied from
# the installed -dev package (the archive does not always keep its source package's files).
TOML_HEADERS=/usr/include/toml++
toml_source=$(source_of libtomlplusplus-dev)
[ -f "$TOML_HEADERS/toml.h" ] || fail "libtomlplusplus-dev has no $TOML_HEADERS/toml.h"
FLAGS="-msse2 -mfpmath=sse"
WANTED="$(printf '%s\n' "${wanted_sources[@]}" "$toml_source")
g++-mingw-w64-i686-posix $(dpkg-query -W -f='${Version}' g++-mingw-w64-i686-posix) $FLAGS
$(sha256sum "$SCRIPT" "$TOOLCHAIN" | cut -d' ' -f1)"
summary=$(printf '%s, ' "${wanted_sources[@]}")
summary=${summary%, }

# One warning line for each library built from another version than the installed one.
warn_substitutes() {
    local line
    while read -r line; do
        [ -z "$line" ] || echo "Windows deps: warning: built $line, whose sources could not be" \
                               "fetched (delete build/windows-deps to try again)" >&2
    done <<<"$1"
}

mkdir -p "$DEPS"
# One build at a time per tree: a second run waits, then finds the prefix complete.
exec 9>"$DEPS/lock"
flock 9
if [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$WANTED" ]; then
    echo "Windows deps: up to date in $PREFIX ($summary)"
    warn_substitutes "$(cat "$SUBSTITUTES" 2>/dev/null)"
    exit 0
fi

echo "Windows deps: building $summary for $TRIPLE into $PREFIX"
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

apt_state=(-o "Dir::Etc::SourceList=$WORK/apt/sources.list"
           -o "Dir::Etc::SourceParts=$WORK/apt/sources.list.d"
           -o "Dir::State::Lists=$WORK/apt/lists"
           -o "Dir::Cache=$WORK/apt/cache")
apt=(apt-get -q "${apt_state[@]}" -o "APT::Sandbox::User=$(id -un)")
apt_cache=(apt-cache "${apt_state[@]}")
echo "Windows deps: fetching the source package index"
"${apt[@]}" update >"$WORK/apt.log" 2>&1 || {
    cat "$WORK/apt.log" >&2
    fail "apt-get update of the deb-src entries failed"
}

# Fetches the source package of library `name` at `version` into $WORK/src.
fetch() {
    (cd "$WORK/src" && "${apt[@]}" source --download-only "${PACKAGE[$1]}=$2") \
        >>"$WORK/apt.log" 2>&1
}

# Earlier Debian revisions of the same upstream version that the index lists, newest first.
earlier_revisions() {
    local version=$2 candidate
    "${apt_cache[@]}" showsrc "${PACKAGE[$1]}" 2>/dev/null | sed -n 's/^Version: //p' |
        sort -u | while read -r candidate; do
            if [ "${candidate%-*}" = "${version%-*}" ] &&
                dpkg --compare-versions "$candidate" lt "$version"; then
                echo "$candidate"
            fi
        done | sort -rV
}

# Exactly the installed version. Should the archive list its sources but fail to deliver them
# (an archive can lag behind the index of a security update), the newest earlier Debian revision
# of the same upstream version is built instead, with a warning that is repeated on every run
# and kept in $SUBSTITUTES: the same upstream code, without the newest Debian patches.
echo "Windows deps: fetching the source packages"
declare -A BUILT
substitutes=""
for name in "${names[@]}"; do
    BUILT[$name]=${VERSION[$name]}
    fetch "$name" "${VERSION[$name]}" && continue
    BUILT[$name]=""
    for candidate in $(earlier_revisions "$name" "${VERSION[$name]}"); do
        if fetch "$name" "$candidate"; then
            BUILT[$name]=$candidate
            break
        fi
    done
    [ -n "${BUILT[$name]}" ] || {
        cat "$WORK/apt.log" >&2
        fail "cannot fetch ${PACKAGE[$name]} ${VERSION[$name]}; if the archive has a newer" \
             "one, upgrade ${BINARY[$name]} and rerun"
    }
    substitutes+="${PACKAGE[$name]} ${BUILT[$name]} instead of ${VERSION[$name]}"$'\n'
done
warn_substitutes "$substitutes"

# Unpacked with Debian's patches applied. apt has checked the files against the signed index;
# dpkg-source checks them again (its complaint that it cannot check the signature without the
# Debian keyring is left in the log).
for name in "${names[@]}"; do
    dsc=$WORK/src/${PACKAGE[$name]}_${BUILT[$name]#*:}.dsc
    dpkg-source -x "$dsc" "$WORK/src/${PACKAGE[$name]}" >>"$WORK/unpack.log" 2>&1 || {
        cat "$WORK/unpack.log" >&2
        fail "cannot unpack $dsc"
    }
done

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

# Configures the source package of library `name` with cmake_args and the rest.
configure() {
    local name=$1
    shift
    echo "Windows deps: building ${PACKAGE[$name]}"
    cmake -S "$WORK/src/${PACKAGE[$name]}" -B "$WORK/build-$name" "${cmake_args[@]}" "$@" \
        >"$WORK/configure-$name.log" 2>&1 || {
        cat "$WORK/configure-$name.log" >&2
        fail "configuring ${PACKAGE[$name]} failed"
    }
}

build_and_install() {
    local name=$1
    cmake --build "$WORK/build-$name" -j "$JOBS" >"$WORK/build-$name.log" 2>&1 || {
        tail -n 60 "$WORK/build-$name.log" >&2
        fail "building ${PACKAGE[$name]} failed (whole log: $WORK/build-$name.log)"
    }
    cmake --install "$WORK/build-$name" >"$WORK/install-$name.log" 2>&1 || {
        cat "$WORK/install-$name.log" >&2
        fail "installing ${PACKAGE[$name]} failed"
    }
}

# A library that links zlib must take Debian's static mingw-w64 one: a miss would mean a DLL
# import or, for OpenEXR, a copy of its own fetched by its build.
expect_static_zlib() {
    grep -qx "ZLIB_LIBRARY_RELEASE:FILEPATH=$ZLIB" "$WORK/build-$1/CMakeCache.txt" ||
        fail "${PACKAGE[$1]}'s build did not take Debian's static mingw-w64 zlib" \
             "(libz-mingw-w64-dev)"
}

build_imath() {
    configure imath -DPYTHON=OFF -DIMATH_INSTALL_PKG_CONFIG=OFF
    build_and_install imath
    [ -f "$PREFIX/lib/cmake/Imath/ImathConfig.cmake" ] || fail "Imath installed no CMake package"
}

# OpenEXR takes the Imath built here and zlib: had it missed either, its build would fetch a
# copy of its own. That is checked before anything is built.
build_openexr() {
    configure openexr \
        "-DImath_DIR=$PREFIX/lib/cmake/Imath" \
        -DZLIB_USE_STATIC_LIBS=ON \
        -DOPENEXR_FORCE_INTERNAL_IMATH=OFF \
        -DOPENEXR_FORCE_INTERNAL_ZLIB=OFF \
        -DOPENEXR_BUILD_TOOLS=OFF \
        -DOPENEXR_INSTALL_TOOLS=OFF \
        -DOPENEXR_INSTALL_EXAMPLES=OFF \
        -DOPENEXR_INSTALL_PKG_CONFIG=OFF
    grep -qxF -- "-- Using Imath from $PREFIX/lib/cmake/Imath" "$WORK/configure-openexr.log" ||
        fail "OpenEXR's build did not take the Imath built here (see $WORK/configure-openexr.log)"
    expect_static_zlib openexr
    build_and_install openexr
    [ -f "$PREFIX/lib/cmake/OpenEXR/OpenEXRConfig.cmake" ] ||
        fail "OpenEXR installed no CMake package"
}

# libpng's static library and headers only (no DLL, programs, scripts, manuals or tests);
# kelvo finds them with CMake's FindPNG, which links zlib after them.
build_png() {
    configure png \
        -DZLIB_USE_STATIC_LIBS=ON \
        -DPNG_SHARED=OFF \
        -DPNG_STATIC=ON \
        -DPNG_TESTS=OFF \
        -DPNG_EXECUTABLES=OFF \
        -DSKIP_INSTALL_EXECUTABLES=ON \
        -DSKIP_INSTALL_PROGRAMS=ON \
        -DSKIP_INSTALL_FILES=ON \
        -DSKIP_INSTALL_EXPORT=ON
    expect_static_zlib png
    build_and_install png
    for file in include/png.h lib/libpng16.a; do
        [ -f "$PREFIX/$file" ] || fail "libpng installed no $file"
    done
}

# Builds the target TARGET of library NAME's plain Makefile with the Windows build's compiler
# and CFLAGS (its floating-point settings appended), logging to $WORK/build-NAME.log.
make_library() {
    local name=$1 target=$2 cflags=$3
    echo "Windows deps: building ${PACKAGE[$name]}"
    make -C "$WORK/src/${PACKAGE[$name]}" -j "$JOBS" "$target" CC="$TRIPLE-gcc-posix" \
        AR="$TRIPLE-ar" CFLAGS="$cflags $FLAGS" >"$WORK/build-$name.log" 2>&1 || {
        tail -n 60 "$WORK/build-$name.log" >&2
        fail "building ${PACKAGE[$name]} failed (whole log: $WORK/build-$name.log)"
    }
}

# giflib has a plain Makefile: its static library alone, optimised as Debian builds it (-O2);
# the header is copied by hand, since its install target builds the programs and manual pages
# too.
build_gif() {
    local src=$WORK/src/${PACKAGE[gif]}
    make_library gif libgif.a "-std=gnu99 -Wall -O2 -DNDEBUG"
    install -D -m 644 "$src/gif_lib.h" "$PREFIX/include/gif_lib.h"
    install -D -m 644 "$src/libgif.a" "$PREFIX/lib/libgif.a"
}

# libdeflate's Makefile likewise: its static library alone (no DLL or programs), which its
# header takes as static (LIBDEFLATE_DLL unset). For mingw targets the Makefile names it
# libdeflatestatic.lib; it is installed under the name CMake looks for.
build_deflate() {
    local src=$WORK/src/${PACKAGE[deflate]}
    make_library deflate libdeflatestatic.lib "-O2 -DNDEBUG"
    install -D -m 644 "$src/libdeflate.h" "$PREFIX/include/libdeflate.h"
    install -D -m 644 "$src/libdeflatestatic.lib" "$PREFIX/lib/libdeflate.a"
}

for name in "${names[@]}"; do
    "build_$name"
done
echo "Windows deps: installing the headers of ${toml_source% *}"
mkdir -p "$PREFIX/include"
rm -rf "$PREFIX/include/toml++"
cp -R "$TOML_HEADERS" "$PREFIX/include/"

rm -rf "$WORK"
printf '%s' "$substitutes" >"$SUBSTITUTES"
printf '%s\n' "$WANTED" >"$STAMP"
echo "Windows deps: done in $((SECONDS - started)) s"
