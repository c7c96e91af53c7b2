#!/usr/bin/env bash
# Installs kelvo's Debian package as a user would, in a fresh Debian root made with
# mmdebstrap from this machine's own apt sources, and removes it without a trace.
#
#   debian_package_test.sh KELVO_DEB
#
# apt-get pulls in what the package depends on; then, as an ordinary user, kelvo --version,
# kelvo demo and the commands the demo prints, man kelvo and the bash completion must work.
# Removal, then purge, must leave no file of the package, and apt-get's autoremove every
# dependency it pulled in, so that the root's files are those it had before the install.
# lintian must report no error and no warning, and nothing but what the package's overrides
# explain; the copyright file must cover toml++, which is compiled into kelvo. Needs root (mmdebstrap's root mode, chroot); about three minutes, mostly the
# download. Every command in the root runs in a mount and PID namespace of its own, so no
# mount and no process outlives the test.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: debian_package_test.sh KELVO_DEB" >&2
    exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "debian_package_test.sh: needs root (mmdebstrap, chroot)" >&2
    exit 2
fi
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
version=$(dpkg-deb -f "$deb" Version)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
passed=0
failed=0

check() {  # check NAME COMMAND...: runs COMMAND, counts and reports the outcome
    local name=$1
    shift
    if "$@" >"$work/out" 2>&1; then
        passed=$((passed + 1))
        echo "ok: $name"
    else
        failed=$((failed + 1))
        echo "FAILED: $name"
        sed 's/^/    /' "$work/out" | tail -20
    fi
}

# Runs a shell command in the root, in its own mount and PID namespaces (its /proc goes away,
# and every process it started is killed, when it ends).
in_root() {
    unshare --mount --pid --fork --mount-proc="$root/proc" chroot "$root" /bin/sh -c "$1"
}
# A shell command as the ordinary user 1000, in that user's home, with a clean environment.
as_user() {
    printf '%s\n' "$1" >"$root/tmp/command.sh"
    in_root "cd /home/player && exec setpriv --reuid=1000 --regid=1000 --clear-groups \
             env -i HOME=/home/player PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 \
             /bin/sh -e /tmp/command.sh"
}

lint() {
    local tags
    tags=$(lintian --fail-on error,warning "$deb" 2>/dev/null) || { echo "$tags"; return 1; }
    echo "$tags"
    # Whatever is left must be information only.
    ! echo "$tags" | grep -q '^[EW]:'
}
check "lintian reports no error or warning" lint
# toml++'s code is in the program: its notice must be in the copyright file.
covers_toml() {
    local copyright
    copyright=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/kelvo/copyright)
    grep -qx 'Files: toml++/\*' <<<"$copyright" && grep -q 'Mark Gillard' <<<"$copyright"
}
check "the copyright file covers toml++, which is compiled into kelvo" covers_toml

# The root's sources are this machine's, so the test asks only the registry it already uses.
sources=()
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] && sources+=("$file")
done
# shellcheck source=/dev/null
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
mmdebstrap --quiet --variant=apt --include=man-db --skip=cleanup/apt/lists "$suite" "$root" \
    "${sources[@]}"
mkdir -p "$root/home/player"
chown 1000:1000 "$root/home/player"
cp "$deb" "$root/tmp/"

snapshot() {  # every file of the root but the package manager's own records, caches and logs
    (cd "$root" && find . -xdev \( -path ./proc -o -path ./var/lib/apt -o -path ./var/lib/dpkg \
        -o -path ./var/cache -o -path ./var/log -o -path ./tmp -o -path ./home \) -prune \
        -o -print | sort)
}
snapshot >"$work/before"

check "apt-get installs the package and what it depends on" \
    in_root "DEBIAN_FRONTEND=noninteractive apt-get install -y -q /tmp/$(basename "$deb")"
check "kelvo --version names the package's version" \
    as_user "kelvo --version | grep -F 'kelvo $version'"
check "kelvo demo renders its 24 frames" \
    as_user "kelvo demo >demo.txt && test -f kelvo-demo/demo0024.pcx"
# The demo's closing lines are commands to type: each must work as printed.
run_hints() {
    local hints
    hints=$(sed -n 's/^  \(kelvo .*\)$/\1/p' "$root/home/player/demo.txt")
    [ "$(echo "$hints" | grep -c .)" -ge 2 ] || { echo "no commands in the demo's hint"; return 1; }
    while IFS= read -r hint; do
        echo "\$ $hint"
        as_user "$hint" || return 1
    done <<<"$hints"
    cmp "$root/home/player/out/demo0012.pcx" "$root/home/player/kelvo-demo/demo0012.pcx"
}
check "the commands the demo prints work as printed" run_hints
check "man kelvo shows the manual" as_user "man -P cat kelvo | grep -q 'kelvo render'"
check "man kelvo-render shows the render command's page" \
    as_user "man -P cat kelvo-render | grep -q -- '--palette'"
check "the bash completion is where bash-completion looks" \
    test -f "$root/usr/share/bash-completion/completions/kelvo"
# shellcheck disable=SC2016 # expanded by the shell in the root
check "the example palettes load" \
    as_user 'for p in /usr/share/kelvo/palettes/*; do kelvo palette show "$p" >/dev/null; done'

in_root "dpkg -L kelvo" | while IFS= read -r path; do
    [ -f "$root$path" ] && echo "$path"
done >"$work/files"
check "apt-get removes the package" \
    in_root "DEBIAN_FRONTEND=noninteractive apt-get remove -y -q kelvo"
left_files() {
    local left=0
    while IFS= read -r path; do
        if [ -e "$root$path" ]; then
            echo "left behind: $path"
            left=1
        fi
    done <"$work/files"
    [ "$(wc -l <"$work/files")" -gt 10 ] && [ "$left" -eq 0 ]
}
check "removal leaves none of the package's files" left_files
# A package installed from a file is no longer known to apt once removed: dpkg purges it.
check "dpkg purges it, and apt-get what it pulled in" \
    in_root "dpkg --purge kelvo && ! dpkg -s kelvo >/dev/null 2>&1 &&
             DEBIAN_FRONTEND=noninteractive apt-get autoremove --purge -y -q"
snapshot >"$work/after"
check "the root holds the files it held before the install" diff "$work/before" "$work/after"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
