#!/usr/bin/env bash
# Checks the manual pages: mandoc finds nothing to say about any of them, each page names
# every option and command that its command's --help lists, and their EXAMPLES run.
#
# usage: tests/docs/man_lint.sh [MANDIR [KELVO]]
#   MANDIR  the pages (default: docs/man of this repository)
#   KELVO   the kelvo program whose help the pages must cover (default: kelvo on the PATH)
# Needs mandoc (with its makewhatis). Prints one line per problem and exits 1 on any.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mandir=${1:-$here/../../docs/man}
kelvo=${2:-$(command -v kelvo || true)}
if [[ ! -d $mandir ]]; then
    echo "man_lint: no directory '$mandir'" >&2
    exit 2
fi
if [[ -z $kelvo || ! -x $kelvo ]]; then
    echo "man_lint: no kelvo program to check the pages against: give its path" >&2
    exit 2
fi
for tool in mandoc makewhatis; do
    if ! command -v "$tool" >/dev/null; then
        echo "man_lint: $tool is missing (Debian package mandoc)" >&2
        exit 2
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "man_lint: $*"
    failures=$((failures + 1))
}

# mandoc reports a cross-reference to a page it cannot find, so lint the pages from a manual
# tree that holds them all, with its index.
mkdir -p "$work/man/man1"
shopt -s nullglob
pages=("$mandir"/*.1)
if ((${#pages[@]} == 0)); then
    echo "man_lint: no pages in '$mandir'" >&2
    exit 2
fi
cp "${pages[@]}" "$work/man/man1/"
makewhatis "$work/man" >"$work/makewhatis.out" 2>&1 || fail "makewhatis: $(cat "$work/makewhatis.out")"
for page in "$work"/man/man1/*.1; do
    report=$(MANPATH="$work/man" mandoc -T lint -W style "$page" 2>&1 || true)
    if [[ -n $report ]]; then
        fail "mandoc has something to say about $(basename "$page"):"
        printf '%s\n' "$report" | sed "s|$work/man/man1/||g"
    fi
done

# Every option (-x, --name) and command word a help text lists must appear in the page's text.
check_help() {
    local page=$1 text help word
    shift
    if [[ ! -f $work/man/man1/$page ]]; then
        fail "no page $page"
        return
    fi
    # A wide rendering without the overstrikes of bold, so nothing is broken across lines.
    text=$(mandoc -T ascii -O width=1000 "$work/man/man1/$page" | sed 's/.\x08//g')
    if ! help=$("$kelvo" "$@" --help); then
        fail "'kelvo ${*:+$* }--help' failed"
        return
    fi
    local -a words=()
    mapfile -t words < <(
        {
            grep -oE '(^|[][ ,])--?[a-zA-Z][a-z-]*' <<<"$help" | sed 's/^[][ ,]//' || true
            # Command names: the first word of the command list's lines, and the words after
            # "kelvo" in the usage lines.
            sed -n '/^commands:/,/^$/p' <<<"$help" | grep -oE '^  [a-z]+' | tr -d ' ' || true
            grep -oE '^(usage:)? +kelvo( [a-z]+)+' <<<"$help" | sed 's/^.*kelvo //' | tr ' ' '\n' || true
        } | sort -u
    )
    if ((${#words[@]} == 0)); then
        fail "found no option or command in 'kelvo ${*:+$* }--help'"
    fi
    for word in "${words[@]}"; do
        if ! grep -qE -- "(^|[^a-zA-Z-])$word([^a-zA-Z-]|\$)" <<<"$text"; then
            fail "$page does not name '$word', which 'kelvo ${*:+$* }--help' lists"
        fi
    done
}
check_help kelvo.1
check_help kelvo-render.1 render
check_help kelvo-settings.1 settings
check_help kelvo-palette.1 palette
check_help kelvo-swap.1 swap
check_help kelvo-demo.1 demo
check_help kelvo-configure.1 configure
check_help kelvo-configure.1 about

# The EXAMPLES of each page run as written, in a directory of their own, with kelvo on the
# PATH; pages whose examples are for Windows (kelvo.exe) are left out.
mkdir -p "$work/bin"
ln -s "$(realpath "$kelvo")" "$work/bin/kelvo"
for page in "$work"/man/man1/*.1; do
    name=$(basename "$page")
    # The literal displays of the section: the lines indented deeper than its text.
    mandoc -T ascii -O width=1000 "$page" | sed 's/.\x08//g' |
        sed -n '/^EXAMPLES/,/^[A-Z]/p' | grep -E '^ {11}' | sed 's/^ *//' >"$work/$name.sh" || true
    if [[ ! -s $work/$name.sh ]]; then
        fail "$name has no EXAMPLES"
        continue
    fi
    grep -q 'kelvo\.exe' "$work/$name.sh" && continue
    mkdir "$work/run-$name"
    if ! (cd "$work/run-$name" && PATH="$work/bin:$PATH" bash -euo pipefail "$work/$name.sh") \
        >"$work/$name.log" 2>&1; then
        fail "the EXAMPLES of $name fail:"
        tail -n 20 "$work/$name.log"
    fi
done

if ((failures > 0)); then
    echo "man_lint: $failures checks failed"
    exit 1
fi
echo "man_lint: ${#pages[@]} pages clean"
