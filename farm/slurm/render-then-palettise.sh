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
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [[ $# -lt 4 || ! $2 =~ ^[1-9][0-9]*$ || ! $1 =~ ^(-?[0-9]+)-(-?[0-9]+)$ ]]; then
    echo "usage: $0 FIRST-LAST CHUNK RENDER_COMMAND [kelvo render options] PATTERN" >&2
    exit 2
fi
first=${BASH_REMATCH[1]}
last=${BASH_REMATCH[2]}
chunk=$2
render=$3
tasks=$(((last - first) / chunk))
range=$1
shift 3

# The render task works its chunk out as kelvo-array.sbatch does (in sh, which --wrap runs).
# shellcheck disable=SC2086
render_job=$(sbatch --parsable --job-name=render --array="0-$tasks" ${SBATCH_OPTIONS:-} --wrap "
    from=\$(($first + SLURM_ARRAY_TASK_ID * $chunk)); to=\$((from + $chunk - 1))
    [ \$to -le $last ] || to=$last
    exec $(printf '%q' "$render") \"\$from\" \"\$to\"")
# shellcheck disable=SC2086
kelvo_job=$(sbatch --parsable --array="0-$tasks" --dependency="aftercorr:${render_job%%;*}" \
    ${SBATCH_OPTIONS:-} "$here/kelvo-array.sbatch" "$range" "$chunk" "$@")
echo "render job ${render_job%%;*}, kelvo job ${kelvo_job%%;*}"
