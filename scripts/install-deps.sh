#!/usr/bin/env bash
# Installs the Debian packages a build needs, when they are missing. Usage:
#   install-deps.sh native    compilers, CMake, GoogleTest, the image libraries (libpng,
#                             OpenEXR, giflib, libdeflate) and toml++ (the settings text)
#   install-deps.sh all       also the 32-bit Windows cross compiler and zlib, Wine, Xvfb,
#                             Python and dpkg-source (scripts/build-windows-deps.sh), and
#                             clang with lld-link and llvm-dlltool (fuzzers, the MSVC-ABI host)
#                             and clang-format (the formatting check), OpenImageIO's
#                             oiiotool (the reference the OpenEXR frames are checked against),
#                             Pillow and ImageMagick (which decode kelvo's PNG, BMP and GIF
#                             files), and Slurm, munge, iproute2 and Blender (tests/farm: kelvo
#                             in job arrays and the Blender add-on); and what the packages are
#                             made and checked with (scripts/package.sh, tests/install): NSIS,
#                             dpkg-dev, lintian, mmdebstrap, mandoc, Python-Markdown, zip, the
#                             shell script checker and bash-completion
set -euo pipefail

packages=(g++ cmake ninja-build googletest libbenchmark-dev libpng-dev libopenexr-dev libgif-dev
          libdeflate-dev libtomlplusplus-dev pkg-config)
if [ "${1:-native}" = all ]; then
    packages+=(clang clang-format libclang-rt-14-dev lld llvm)
fi
if [ "${1:-native}" = bench ]; then
    packages+=(imagemagick ffmpeg python3-pil python3-numpy)
fi
if [ "${1:-native}" = all ]; then
    packages+=(g++-mingw-w64-i686 wine wine32:i386 wine64 xvfb xauth binutils-mingw-w64-i686
               python3 libz-mingw-w64-dev dpkg-dev openimageio-tools python3-pil imagemagick
               slurm-wlm munge iproute2 blender
               nsis lintian mmdebstrap mandoc python3-markdown zip unzip shellcheck
               bash-completion)
fi

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
