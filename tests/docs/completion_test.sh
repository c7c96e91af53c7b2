#!/usr/bin/env bash
# Checks kelvo's bash completion against a table of command lines and the candidates each must
# offer, in a directory with files of every kind; once with bash-completion's main script
# loaded (when it is installed) and once without it.
#
# usage: tests/docs/completion_test.sh [COMPLETION_FILE]
#   COMPLETION_FILE  default: completion/kelvo.bash of this repository
# Prints "N passed, N failed" and exits 1 on any failure.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
self=$here/$(basename "${BASH_SOURCE[0]}")
completion=$(realpath "${1:-$here/../../completion/kelvo.bash}")
main_script=/usr/share/bash-completion/bash_completion
if [[ ! -f $completion ]]; then
    echo "completion_test: no file '$completion'" >&2
    exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir render outdir
touch game.pal GAME.PCX ramp.Gpl team.act lospec.hex sheet.png beauty_0001.png objid_0001.PNG \
    shot.exr hero.settings notes.txt out.bmp anim.gif frame.pcx Kelvo.flt \
    render/inner.PAL render/b.png

# Each case: the words typed, the last one being completed ("" for an empty word), then "|"
# and the candidates it must offer, in any order; DIRS stands for the directories.
cases=$(
    cat <<'EOF'
kelvo "" | about configure demo help palette render settings swap
kelvo - | --help --plugin --version
kelvo re | render
kelvo --plugin "" | DIRS Kelvo.flt
kelvo --plugin Kelvo.flt re | render
kelvo render --pal | --palette --palette-depth
kelvo render --palette "" | DIRS GAME.PCX frame.pcx beauty_0001.png game.pal lospec.hex objid_0001.PNG ramp.Gpl sheet.png team.act
kelvo render --palette g | game.pal
kelvo render --palette=G | GAME.PCX
kelvo render --palette= | DIRS GAME.PCX frame.pcx beauty_0001.png game.pal lospec.hex objid_0001.PNG ramp.Gpl sheet.png team.act
kelvo render --palette render/ | render/inner.PAL render/b.png
kelvo render --settings "" | DIRS hero.settings
kelvo render --save-settings n | notes.txt
kelvo render --method "" | nearest uniform
kelvo render --source o | object
kelvo render --window "" | data display
kelvo render --palette-depth "" | 6 8
kelvo render --levels "" | auto
kelvo render --ids "" | DIRS beauty_0001.png objid_0001.PNG sheet.png
kelvo render --png o | objid_0001.PNG outdir
kelvo render --preview s | sheet.png
kelvo render --bmp "" | DIRS out.bmp
kelvo render --gif "" | DIRS anim.gif
kelvo render --sheet s | sheet.png
kelvo render --columns "" |
kelvo render --gif-s | --gif-scale
kelvo render --output "" | DIRS GAME.PCX frame.pcx
kelvo render --range "" |
kelvo render -j "" |
kelvo render "" | DIRS beauty_0001.png objid_0001.PNG sheet.png shot.exr
kelvo render --ids objid_####.png --bmp-r | --bmp-rle
kelvo render -- --bmp-r |
kelvo --plugin Kelvo.flt render --me | --method
kelvo palette "" | convert show
kelvo palette show "" | DIRS GAME.PCX frame.pcx beauty_0001.png game.pal lospec.hex objid_0001.PNG ramp.Gpl sheet.png team.act
kelvo palette show game.pal -- | --help --palette-depth --png
kelvo palette show game.pal --png "" | DIRS beauty_0001.png objid_0001.PNG sheet.png
kelvo palette show game.pal "" |
kelvo palette convert game.pal "" | DIRS GAME.PCX frame.pcx
kelvo palette convert --palette-depth 6 game.pal "" | DIRS GAME.PCX frame.pcx
kelvo palette convert game.pal x.pcx "" |
kelvo settings "" | convert new show
kelvo settings convert "" | DIRS hero.settings
kelvo settings convert - | --help --to
kelvo settings convert --to "" | block text
kelvo settings show "" | DIRS hero.settings
kelvo settings new - | --help --method --output --palette --palette-depth --range --source -o
kelvo settings new -o "" | DIRS hero.settings
kelvo settings new --source "" | material object
kelvo settings new --palette l | lospec.hex
kelvo demo "" | DIRS
kelvo demo - | --help --quiet -q
kelvo demo outdir "" |
kelvo configure "" | DIRS hero.settings
kelvo configure ~/o | ~/objid_0001.PNG ~/out.bmp ~/outdir
kelvo about - | --help
EOF
)

# Runs every case and prints the failures, then "PASSED FAILED". Run in a bash of its own
# (the script itself, with --run MODE), so that each mode starts clean; MODE is "with" or
# "without" bash-completion's main script.
run_cases() {
    local mode=$1 line word got want expected passed failed
    local -a typed wanted
    if [[ $mode == with ]]; then
        # shellcheck disable=SC1090
        source "$main_script"
    fi
    # shellcheck disable=SC1090
    source "$completion"
    # compopt works only inside a completion that readline started.
    # shellcheck disable=SC2317
    compopt() { :; }
    passed=0
    failed=0
    while IFS= read -r line; do
        [[ -z $line ]] && continue
        read -ra typed <<<"${line%%|*}"
        expected=${line#*|}
        expected=${expected//DIRS/outdir render}
        [[ ${typed[-1]} == '""' ]] && typed[-1]=
        # What bash gives a completion function: the line, and its words split at blanks and
        # around "=" (as COMP_WORDBREAKS says).
        COMP_LINE="${typed[*]}"
        COMP_POINT=${#COMP_LINE}
        COMP_WORDS=()
        for word in "${typed[@]}"; do
            while [[ $word == *=* ]]; do
                [[ -n ${word%%=*} ]] && COMP_WORDS+=("${word%%=*}")
                COMP_WORDS+=("=")
                word=${word#*=}
            done
            [[ -n $word || ${COMP_WORDS[-1]-} != "=" ]] && COMP_WORDS+=("$word")
        done
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMPREPLY=()
        _kelvo kelvo "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ')
        read -ra wanted <<<"$expected"
        want=$(printf '%s\n' "${wanted[@]}" | sed '/^$/d' | sort | tr '\n' ' ')
        if [[ $got == "$want" ]]; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
            echo "FAIL ($mode bash-completion): '${line%%|*}'"
            echo "  expected: $want"
            echo "  got:      $got"
        fi
    done <<<"$cases"
    echo "$passed $failed"
}
if [[ ${2-} == --run ]]; then
    set +eu
    run_cases "$3"
    exit 0
fi

total_passed=0
total_failed=0
modes=(without)
if [[ -f $main_script ]]; then
    modes+=(with)
else
    echo "completion_test: $main_script is missing; testing without bash-completion only"
fi
for mode in "${modes[@]}"; do
    output=$(HOME=$work bash --norc "$self" "$completion" --run "$mode")
    summary=${output##*$'\n'}
    [[ $output == *$'\n'* ]] && printf '%s\n' "${output%$'\n'*}"
    read -r passed failed <<<"$summary"
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
done
echo "$total_passed passed, $total_failed failed"
((total_failed == 0))
