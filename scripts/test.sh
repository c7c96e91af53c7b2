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

# The 32-bit Windows build: Kelvo.flt and the test programs run under Wine, in a throwaway
# prefix that the test run creates and removes; the About box test needs an X display.
# kelvo.exe links libpng and OpenEXR cross-built from Debian's sources (once per build tree).
echo "== windows-release"
scripts/build-windows-deps.sh
cmake --preset windows-release
cmake --build --preset windows-release -j2
xvfb-run -a ctest --preset windows-release

# The packages, each installed where its users install it and removed again: the Debian
# package in a fresh Debian root, the Windows installer and zip in a fresh Wine prefix (the
# add-on zip is installed by tests/farm/blender_test.sh above). Then what the manual says:
# its examples, man pages and completion, against kelvo installed under a fresh prefix.
echo "== packages"
scripts/package.sh build/packages
tests/install/debian_package_test.sh "build/packages/kelvo_$(scripts/project-version.sh)_$(dpkg --print-architecture).deb"
tests/install/windows_install_test.sh build/packages build/windows-release
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
