#!/usr/bin/env bash
# Prints Kelvo's version: CMake's project version in the top CMakeLists.txt, its one source.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(Kelvo VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "project-version.sh: no project version in CMakeLists.txt" >&2; exit 1; }
echo "$version"
