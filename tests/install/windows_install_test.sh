#!/usr/bin/env bash
# Installs Kelvo's Windows packages as a user would, in a fresh Wine prefix, and checks what
# they put there and what their removal leaves:
#   windows_install_test.sh PACKAGES_DIR BUILD_DIR
# PACKAGES_DIR holds kelvo-VERSION-setup.exe and kelvo-VERSION-win32.zip
# (packaging/windows/build-windows-packages.sh), BUILD_DIR the windows-release build with
# kelvo_msvc_host.exe, the MSVC-ABI test host. The installer runs silently with a plug-in
# folder and PATH on; then kelvo.exe demo and --version, the test host loading the installed
# Kelvo.flt, the registry and the user's PATH are checked; then a silent uninstall, which must
# leave the files the user made and nothing of its own. The zip, unpacked, is run the same way.
# Runs under its own Xvfb (the host opens dialogs); the prefix, every Wine process and the
# display are gone when it ends, on every path. Prints "N passed, N failed" last.
set -euo pipefail

if [ $# -ne 2 ]; then
    sed -n '2,5s/^# \{0,1\}//p' "$0" >&2
    exit 2
fi
if [ -z "${KELVO_INSTALL_TEST_DISPLAY:-}" ]; then
    command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (package xvfb)" >&2; exit 2; }
    KELVO_INSTALL_TEST_DISPLAY=1 exec xvfb-run -a "$0" "$@"
fi

packages=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
version=$("$source_dir/scripts/project-version.sh")
setup=$packages/kelvo-$version-setup.exe
zip=$packages/kelvo-$version-win32.zip
host=$build/kelvo_msvc_host.exe
golden=$source_dir/tests/data/msvc_host/frame0007.pcx
for file in "$setup" "$zip" "$host" "$golden"; do
    [ -f "$file" ] || { echo "windows_install_test.sh: $file is missing" >&2; exit 2; }
done
started=$SECONDS

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kelvo-windows-install.XXXXXX")
# Stops this prefix's Wine server and with it every Windows process of the test; never
# another prefix's.
cleanup() {
    if [ -d "$tmp/prefix" ]; then
        WINEPREFIX=$tmp/prefix wineserver -k 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# Wine writes menu entries and file associations under HOME: keep them in the throwaway tree.
export HOME=$tmp/home
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME
export WINEPREFIX=$tmp/prefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$HOME" "$tmp/user"

passed=0 failed=0
check() {
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok: $what"
    else
        failed=$((failed + 1))
        echo "FAILED: $what"
    fi
}

# A Linux path as Wine's Z: drive shows it.
windows_path() {
    local path=${1//\//\\}
    printf 'Z:%s' "$path"
}

# Runs a Windows command line as given, unquoted, through a batch file (as an administrator
# would script it: the installer's /D= must not be quoted), and waits for every process it
# started, an uninstaller's copy of itself included.
run_batch() {
    printf '@echo off\r\n%s\r\nexit /b %%errorlevel%%\r\n' "$1" >"$tmp/run.bat"
    local status=0
    timeout 300 wine cmd /c "$(windows_path "$tmp/run.bat")" >>"$tmp/wine.log" 2>&1 || status=$?
    timeout 120 wineserver -w || true
    return "$status"
}

# The value of a registry value, or nothing; the type with --type.
reg_value() {
    local field=3
    if [ "$1" = --type ]; then
        field=2
        shift
    fi
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        awk -v name="$2" -v field="$field" '
            { line = $0; sub(/^ +/, "", line) }
            tolower(substr(line, 1, length(name) + 1)) == tolower(name " ") {
                n = split(line, part, /    /)
                if (field == 2) { print part[2] } else { value = part[3]; for (i = 4; i <= n; i++) value = value "    " part[i]; print value }
            }'
}

key_absent() {
    ! wine reg query "$1" >/dev/null 2>&1
}

# kelvo.exe demo into a user folder, kelvo.exe --version, and the test host loading `flt`.
check_programs() {
    local where=$1 kelvo=$2 flt=$3
    local demo=$tmp/user/demo-$where
    local frames=()
    (cd "$tmp/user" && timeout 300 wine "$kelvo" demo -q "demo-$where" >"$tmp/demo.log" 2>&1) ||
        cat "$tmp/demo.log"
    shopt -s nullglob
    frames=("$demo"/demo[0-9][0-9][0-9][0-9].pcx)
    shopt -u nullglob
    check "$where: kelvo.exe demo writes its 24 frames" test "${#frames[@]}" -eq 24
    local shown name number
    shown=$(timeout 60 wine "$kelvo" --version 2>&1 | tr -d '\r' || true)
    read -r name number _ <<<"$shown" || true
    check "$where: kelvo.exe --version prints kelvo $version" test "$name $number" = "kelvo $version"
    local beside=$tmp/host-$where
    local status=0
    mkdir -p "$beside"
    if cp "$host" "$flt" "$beside/"; then
        KELVO_MSVC_HOST_GOLDEN=$(windows_path "$golden") \
            timeout 120 wine "$beside/kelvo_msvc_host.exe" >"$tmp/host.log" 2>&1 || status=$?
    else
        status=1
    fi
    [ "$status" -eq 0 ] || tr -d '\r' <"$tmp/host.log"
    check "$where: the MSVC-ABI host loads its Kelvo.flt and passes" test "$status" -eq 0
}

echo "Making a fresh Wine prefix"
wineboot -i >"$tmp/wine.log" 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
    /v Debugger /d kelvo-no-debugger /f >/dev/null 2>&1
# The user's own PATH, which install and removal must leave as it was, but for kelvo's entry.
user_path='C:\Tools;%USERPROFILE%\bin'
wine reg add 'HKCU\Environment' /v Path /t REG_EXPAND_SZ /d "$user_path" /f >/dev/null 2>&1
wineserver -w

drive_c=$WINEPREFIX/drive_c
install_dir=$drive_c/Program\ Files/Kelvo
install_win='C:\Program Files\Kelvo'
plugin_dir=$drive_c/Host\ Plugins/filters
plugin_win='C:\Host Plugins\filters'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvo'
# The host's folder, with a filter of its own in it.
mkdir -p "$plugin_dir"
echo "another filter" >"$plugin_dir/Other.flt"
# The zip's folder, the reference for what the installer puts into the program folder.
mkdir -p "$tmp/portable"
(cd "$tmp/portable" && unzip -q "$zip")
portable=$tmp/portable/kelvo-$version-win32

echo "Installing silently: /S /PLUGINDIR=... /ADDTOPATH /D=..."
status=0
run_batch "\"$(windows_path "$setup")\" /S /PLUGINDIR=\"$plugin_win\" /ADDTOPATH /D=$install_win" ||
    status=$?
check "the installer exits 0" test "$status" -eq 0
check "the program folder holds the zip's files" cmp -s <(cd "$portable" && find . | sort) \
    <(cd "$install_dir" 2>/dev/null && find . ! -name Uninstall.exe | sort)
check "the program folder's files are the zip's, byte for byte" \
    diff -r -x Uninstall.exe "$portable" "$install_dir"
check "the uninstaller is there" test -f "$install_dir/Uninstall.exe"
# The licences of what the programs link come with them: one section per library.
names_every_library() {
    local library
    for library in Imath OpenEXR libpng giflib libdeflate zlib toml++ mingw-w64; do
        grep -qF "$library" "$portable/THIRD-PARTY-NOTICES.txt" ||
            { echo "THIRD-PARTY-NOTICES.txt does not name $library"; return 1; }
    done
}
check "the zip's THIRD-PARTY-NOTICES.txt names every library linked in" names_every_library
check "Kelvo.flt is in the plug-in folder" cmp -s "$plugin_dir/Kelvo.flt" "$portable/Kelvo.flt"
menu=$(find "$drive_c" -type d -path '*Start Menu/Programs/Kelvo' -print -quit)
check "the Start menu holds the manual, configure and uninstall entries" \
    test -n "$menu" -a -f "$menu/Kelvo manual.lnk" -a -f "$menu/Kelvo configure.lnk" \
    -a -f "$menu/Uninstall Kelvo.lnk"
for entry in "DisplayName=Kelvo $version" "DisplayVersion=$version" \
    "Publisher=The Kelvo developers" "InstallLocation=$install_win" \
    "UninstallString=\"$install_win\\Uninstall.exe\"" \
    "QuietUninstallString=\"$install_win\\Uninstall.exe\" /S" "PluginDir=$plugin_win" \
    "NoModify=0x1" "NoRepair=0x1"; do
    name=${entry%%=*}
    check "Add/Remove Programs: $name is '${entry#*=}'" \
        test "$(reg_value "$uninstall_key" "$name")" = "${entry#*=}"
done
check "Add/Remove Programs: EstimatedSize is set" test -n "$(reg_value "$uninstall_key" EstimatedSize)"
check "the user's PATH ends with the program folder" \
    test "$(reg_value 'HKCU\Environment' Path)" = "$user_path;$install_win"
shown=$(cd "$tmp/user" && timeout 60 wine cmd /c kelvo --version 2>&1 | tr -d '\r') || true
check "a new command prompt finds kelvo on the PATH" test "${shown%% *}" = kelvo
check_programs installed "$install_dir/kelvo.exe" "$plugin_dir/Kelvo.flt"

echo "Uninstalling silently, with files of the user's in both folders"
echo "mine" >"$install_dir/notes.txt"
echo "mine" >"$plugin_dir/Mine.flt"
status=0
run_batch "\"$install_win\\Uninstall.exe\" /S" || status=$?
check "the uninstaller exits 0" test "$status" -eq 0
check "the program folder holds only the user's file" \
    test "$(cd "$install_dir" && find . -mindepth 1)" = ./notes.txt
check "the plug-in folder holds only the host's and the user's files" \
    test "$(cd "$plugin_dir" && find . -mindepth 1 | sort | tr '\n' ' ')" = "./Mine.flt ./Other.flt "
check "the Start menu folder is gone" test ! -e "$menu"
check "the uninstall key is gone" key_absent "$uninstall_key"
check "the user's PATH is as it was" test "$(reg_value 'HKCU\Environment' Path)" = "$user_path"
check "the user's PATH is still REG_EXPAND_SZ" \
    test "$(reg_value --type 'HKCU\Environment' Path)" = REG_EXPAND_SZ

echo "Running the zip's programs, unpacked into a fresh folder"
mkdir -p "$tmp/fresh"
(cd "$tmp/fresh" && unzip -q "$zip")
check_programs portable "$tmp/fresh/kelvo-$version-win32/kelvo.exe" \
    "$tmp/fresh/kelvo-$version-win32/Kelvo.flt"

# A second install over the first takes back what the first made and the second does not keep.
echo "Installing again over an install, with another plug-in folder and without PATH"
status=0
run_batch "\"$(windows_path "$setup")\" /S /PLUGINDIR=C:\Host A /ADDTOPATH /D=C:\Kelvo Again" ||
    status=$?
run_batch "\"$(windows_path "$setup")\" /S /PLUGINDIR=C:\Host B /D=C:\Kelvo Again" || status=$?
check "both installers exit 0" test "$status" -eq 0
check "the first plug-in folder, which Setup made, is gone" test ! -e "$drive_c/Host A"
check "Kelvo.flt is in the second plug-in folder" test -f "$drive_c/Host B/Kelvo.flt"
check "the user's PATH is as it was" test "$(reg_value 'HKCU\Environment' Path)" = "$user_path"
status=0
run_batch '"C:\Kelvo Again\Uninstall.exe" /S' || status=$?
check "the uninstaller removes the second install and its plug-in folder" \
    test "$status" -eq 0 -a ! -e "$drive_c/Kelvo Again" -a ! -e "$drive_c/Host B"

# NSIS strings hold 1023 characters: a longer PATH must be left whole, not cut short.
echo "Installing with a PATH too long for the installer to change"
long_path='C:\Tools'
while [ ${#long_path} -lt 1100 ]; do
    long_path+=";C:\\Long Folder\\${#long_path}"
done
wine reg add 'HKCU\Environment' /v Path /t REG_EXPAND_SZ /d "$long_path" /f >/dev/null 2>&1
status=0
run_batch "\"$(windows_path "$setup")\" /S /NOPLUGIN /ADDTOPATH /D=C:\Kelvo Long" || status=$?
check "the installer exits 0 with a long PATH" test "$status" -eq 0
check "the long PATH is left as it was" test "$(reg_value 'HKCU\Environment' Path)" = "$long_path"
status=0
run_batch '"C:\Kelvo Long\Uninstall.exe" /S' || status=$?
check "the uninstaller leaves the long PATH as it was" \
    test "$status" -eq 0 -a "$(reg_value 'HKCU\Environment' Path)" = "$long_path"
check "the uninstaller removes that install" test ! -e "$drive_c/Kelvo Long"

wineserver -k 2>/dev/null || true
echo "took $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
