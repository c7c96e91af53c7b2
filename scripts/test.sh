#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all

# The include rules of the Layout section of docs/developers.md, and proof that the check bites; then the
# formatting of every C++ file against .clang-format; every shell script through shellcheck.
echo "== layers, formatting and shell scripts"
python3 scripts/check_layers.py
python3 scripts/check_layers.py --self-test
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
git ls-files '*.sh' '*.sbatch' .ci/run | xargs shellcheck -s bash

for preset in native-debug native-release; do
    echo "== $preset"
    cmake --preset "$preset"
    cmake --build --preset "$preset" -j2
    ctest --preset "$preset"
done

# Wine runs the 32-bit Windows programs as 32-bit Linux processes. A kernel that starts no 32-bit
# program at all (some virtual machines leave that interface out: "Exec format error") cannot
# run them however Wine is installed; there the Windows build is still built, its tables checked
# and its packages made, and every run under Wine is skipped, said loudly here and at the end.
wine_skipped=""
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    wine_skipped="this machine's kernel starts no 32-bit program, which Wine needs"
fi

# The 32-bit Windows build: Kelvo.flt and the test programs run under Wine, in a throwaway
# prefix that the test run creates and removes; the About box test needs an X display.
# kelvo.exe links libpng and OpenEXR cross-built from Debian's sources (once per build tree).
echo "== windows-release"
scripts/build-windows-deps.sh
cmake --preset windows-release
cmake --build --preset windows-release -j2
if [ -z "$wine_skipped" ]; then
    xvfb-run -a ctest --preset windows-release
else
    echo "SKIPPED: the Windows programs under Wine ($wine_skipped); the checks of their tables run"
    ctest --preset windows-release -LE wine
fi

# The packages, each installed where its users install it and removed again: the Debian
# package in a fresh Debian root, the Windows installer and zip in a fresh Wine prefix (the
# add-on zip is installed by tests/farm/blender_test.sh above). Then what the manual says:
# its examples, man pages and completion, against kelvo installed under a fresh prefix.
echo "== packages"
scripts/package.sh build/packages
tests/install/debian_package_test.sh "build/packages/kelvo_$(scripts/project-version.sh)_$(dpkg --print-architecture).deb"
if [ -z "$wine_skipped" ]; then
    tests/install/windows_install_test.sh build/packages build/windows-release
else
    echo "SKIPPED: the Windows installer and zip under Wine ($wine_skipped)"
fi
echo "== manual"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install build/native-release --prefix "$prefix" >/dev/null
tests/docs/man_lint.sh docs/man "$prefix/bin/kelvo"
tests/docs/completion_test.sh "$prefix/share/bash-completion/completions/kelvo"
python3 tests/docs/run_examples.py --prefix "$prefix"

# Every fuzz target for a bounded time on its seed corpus.
echo "== fuzz"
scripts/fuzz.sh "${KELVO_FUZZ_SECONDS:-60}"

if [ -n "$wine_skipped" ]; then
    echo "SKIPPED: the Windows build's tests and install test under Wine: $wine_skipped"
fi
