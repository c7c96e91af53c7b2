#!/usr/bin/env bash
# Runs the Windows build's programs under Wine, in one throwaway prefix per test run.
#   wine-run.sh PROGRAM [ARGS...]   run a Windows program (the build's cross-compiling emulator)
#   wine-run.sh --create-prefix     make a fresh prefix, replacing an old one
#   wine-run.sh --remove-prefix     stop the prefix's Wine server and delete the prefix
# The prefix is $WINEPREFIX; the Windows tests set it to <build dir>/wineprefix.
set -euo pipefail

if [ -z "${WINEPREFIX:-}" ]; then
    echo "wine-run.sh: WINEPREFIX is not set (the Windows tests set it to <build>/wineprefix)" >&2
    exit 2
fi
export WINEPREFIX
export WINEARCH=win32
export WINEDEBUG=-all
# No prompts to install the .NET and HTML engines: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="

case "${1:-}" in
--create-prefix)
    if [ -d "$WINEPREFIX" ]; then
        wineserver -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
    fi
    wineboot -i
    # Windows that no window manager handles: without one (under Xvfb) Wine would otherwise
    # wait two seconds for a manager to confirm each window that closes.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
    # A program that crashes ends at once, its fault on stderr and a non-zero exit code, instead
    # of waiting for Wine's debugger, which can outlast a test's timeout: no debugger is there.
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /d kelvo-no-debugger /f >/dev/null
    wineserver -w
    ;;
--remove-prefix)
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    ;;
"")
    echo "usage: wine-run.sh PROGRAM [ARGS...] | --create-prefix | --remove-prefix" >&2
    exit 2
    ;;
*)
    if [ ! -d "$WINEPREFIX" ]; then
        echo "wine-run.sh: no prefix at $WINEPREFIX; run wine-run.sh --create-prefix first" >&2
        exit 2
    fi
    exec wine "$@"
    ;;
esac
