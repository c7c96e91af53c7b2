#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all

# The include rules of the README's Layout section, and proof that the check bites; then the
# formatting of every C++ file against .clang-format.
echo "== layers and formatting"
python3 scripts/check_layers.py
python3 scripts/check_layers.py --self-test
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

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

# Every fuzz target for a bounded time on its seed corpus.
echo "== fuzz"
scripts/fuzz.sh "${KELVO_FUZZ_SECONDS:-60}"
