#!/usr/bin/env bash
# The main job: builds kelvo, installs it (as root into /usr/local, otherwise into ~/.local)
# and renders the built-in demo animation with the installed program. Usage: demo.sh [DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target kelvo
prefix=/usr/local
[ "$(id -u)" -eq 0 ] || prefix=$HOME/.local
cmake --install build/native-release --prefix "$prefix" >/dev/null
echo "Installed kelvo into $prefix (man kelvo; bash completion after a new shell)."
case ":$PATH:" in
    *":$prefix/bin:"*) ;;
    *) echo "Add $prefix/bin to your PATH to type 'kelvo'." ;;
esac
"$prefix/bin/kelvo" demo "${1:-kelvo-demo}"
