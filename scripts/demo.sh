#!/usr/bin/env bash
# The main job: builds kelvo natively and renders the built-in demo animation.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target kelvo
build/native-release/kelvo demo "${1:-kelvo-demo}"
