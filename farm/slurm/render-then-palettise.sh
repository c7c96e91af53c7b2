#!/bin/bash
# Submits a render job array and a kelvo job array over the same chunks, each kelvo task
# waiting for its own render task only (--dependency=aftercorr): chunk 3 is palettised as soon
# as chunk 3 is rendered, whatever the other chunks are doing.
#
#   render-then-palettise.sh FIRST-LAST CHUNK RENDER_COMMAND [kelvo render options] PATTERN
#
# Each render task runs RENDER_COMMAND A B for its chunk's first and last frame, for example a
# script holding `blender -b shot.blend -s "$1" -e "$2" -a`. A render task that fails (exit
# code not 0) cancels nothing but its own kelvo task, which then never runs. Prints the two
# job IDs. Extra sbatch options for both arrays: $SBATCH_OPTIONS (a partition, a time limit).
# kelvo-array.sbatch is looked for beside this script.
# Numbers are decimal whatever their zeros (0010-0017 is frames 10 to 17); bad arguments are
# refused with exit code 2 before anything is submitted.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage() {
    echo "render-then-palettise: $1" >&2
    echo "usage: $0 FIRST-LAST CHUNK RENDER_COMMAND [kelvo render options] PATTERN" >&2
    exit 2
}
# Print the value of $1, a number of at most 9 digits (signed when $2 is "signed"), read in
# base 10: leading zeros are padding, never a base (as kelvo-array.sbatch reads them).
decimal() {
    [[ $1 =~ ^(-?)([0-9]{1,9})$ ]] && [[ -z ${BASH_REMATCH[1]} || ${2:-} == signed ]] || return 1
    echo "${BASH_REMATCH[1]}$((10#${BASH_REMATCH[2]}))"
}

[[ $# -ge 4 ]] || usage "expected FIRST-LAST, CHUNK, RENDER_COMMAND and kelvo's arguments"
[[ $1 =~ ^(-?[0-9]+)-(-?[0-9]+)$ ]] || usage "'$1' is not FIRST-LAST (frame numbers, such as 1-240)"
first=$(decimal "${BASH_REMATCH[1]}" signed) || usage "'${BASH_REMATCH[1]}' is too large a frame number"
last=$(decimal "${BASH_REMATCH[2]}" signed) || usage "'${BASH_REMATCH[2]}' is too large a frame number"
((first <= last)) || usage "the range '$1' ends before it starts"
if ! chunk=$(decimal "$2") || ((chunk == 0)); then
    usage "the chunk size '$2' is not a positive number"
fi
render=$3
[[ -n $render ]] || usage "the render command is empty"
[[ -f $here/kelvo-array.sbatch ]] || usage "kelvo-array.sbatch is not beside this script, in $here"
tasks=$(((last - first) / chunk))
shift 3

# The render task works its chunk out as kelvo-array.sbatch does (in sh, which --wrap runs),
# from the decimal values above.
# shellcheck disable=SC2086
render_job=$(sbatch --parsable --job-name=render --array="0-$tasks" ${SBATCH_OPTIONS:-} --wrap "
    from=\$(($first + SLURM_ARRAY_TASK_ID * $chunk)); to=\$((from + $chunk - 1))
    [ \$to -le $last ] || to=$last
    exec $(printf '%q' "$render") \"\$from\" \"\$to\"")
[[ ${render_job%%;*} =~ ^[0-9]+$ ]] || { echo "render-then-palettise: sbatch gave no job ID" >&2; exit 1; }
# shellcheck disable=SC2086
kelvo_job=$(sbatch --parsable --array="0-$tasks" --dependency="aftercorr:${render_job%%;*}" \
    ${SBATCH_OPTIONS:-} "$here/kelvo-array.sbatch" "$first-$last" "$chunk" "$@")
echo "render job ${render_job%%;*}, kelvo job ${kelvo_job%%;*}"
