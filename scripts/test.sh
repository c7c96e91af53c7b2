#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all

for preset in native-debug native-release; do
    echo "== $preset"
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done

# Every fuzz target for a bounded time on its seed corpus.
echo "== fuzz"
scripts/fuzz.sh "${KELVO_FUZZ_SECONDS:-60}"
