#!/bin/bash
# The Slurm scripts' arithmetic and argument checks, without Slurm: kelvo-array.sbatch run as a
# task would run it (SLURM_ARRAY_TASK_ID set) with a stand-in kelvo that prints its arguments,
# and render-then-palettise.sh with a stand-in sbatch whose render script is then run by sh.
#   slurm_scripts_test.sh
set -euo pipefail
farm=$(cd "$(dirname "$0")/../../farm/slurm" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '#!/bin/sh\necho "$@"\n' >"$work/kelvo"
# sbatch: keeps --array and the render array's --wrap as array and render.sh; prints a job ID.
cat >"$work/sbatch" <<'SBATCH'
#!/bin/bash
while [ $# -gt 0 ]; do
    case $1 in
        --array=*) echo "${1#--array=}" >"$(dirname "$0")/array" ;;
        --wrap) printf '%s\n' "$2" >"$(dirname "$0")/render.sh" && shift ;;
    esac
    shift
done
echo "7;cluster"
SBATCH
chmod +x "$work/kelvo" "$work/sbatch"
export KELVO=$work/kelvo
failures=0

# Task ID | SLURM_CPUS_PER_TASK | arguments | exit code: what kelvo got, or the message's start
while IFS='|' read -r task cpus args status expected; do
    read -ra argv <<<"$args"
    out=$(SLURM_ARRAY_TASK_ID=$task SLURM_CPUS_PER_TASK=$cpus \
        bash "$farm/kelvo-array.sbatch" "${argv[@]}" 2>&1) && code=0 || code=$?
    got=$(grep -v ' of job ' <<<"$out" | head -1)
    if [[ $code != "$status" || $got != "$expected"* ]]; then
        echo "FAILED: task '$task', cpus '$cpus', '$args': exit $code, '$got'; expected $status, '$expected'"
        failures=$((failures + 1))
    fi
done <<'TABLE'
0||0010-0017 8 p_####.png|0|render -j 1 --frames 10-17 p_####.png
0|2|0009-0019 5 -q p.png|0|render -j 2 --frames 9-13 -q p.png
2||0009-0019 5 p.png|0|render -j 1 --frames 19-19 p.png
08||0001-0100 10 p.png|0|render -j 1 --frames 81-90 p.png
1||-0019--0008 10 p.png|0|render -j 1 --frames -9--8 p.png
23||1-240 10 p.png|0|render -j 1 --frames 231-240 p.png
3||0009-0019 5 p.png|2|kelvo-array: task 3 has no frames: 9-19 in chunks of 5 make 3 tasks
0||17-10 8 p.png|2|kelvo-array: the range '17-10' ends before it starts
0||1-10 0 p.png|2|kelvo-array: the chunk size '0' is not a positive number
0||1-10 -5 p.png|2|kelvo-array: the chunk size '-5' is not a positive number
0||1-10 0x8 p.png|2|kelvo-array: the chunk size '0x8' is not a positive number
0||0x10-20 8 p.png|2|kelvo-array: '0x10-20' is not FIRST-LAST
0||1-9999999999 8 p.png|2|kelvo-array: '9999999999' is too large a frame number
0||1-10 8|2|kelvo-array: expected FIRST-LAST, CHUNK and kelvo's arguments
||1-10 8 p.png|2|kelvo-array: not run as a task of a job array
x||1-10 8 p.png|2|kelvo-array: the array task ID 'x' is not a task number
-1||1-10 8 p.png|2|kelvo-array: the array task ID '-1' is not a task number
0|0|1-10 8 p.png|2|kelvo-array: SLURM_CPUS_PER_TASK '0' is not a positive number
0|two|1-10 8 p.png|2|kelvo-array: SLURM_CPUS_PER_TASK 'two' is not a positive number
TABLE

# Arguments | exit code | the render command's arguments for task 0 and the last task, or the message's start
while IFS='|' read -r args status expected; do
    read -ra argv <<<"$args"
    rm -f "$work/render.sh" "$work/array"
    out=$(PATH=$work:$PATH bash "$farm/render-then-palettise.sh" "${argv[@]}" 2>&1) && code=0 || code=$?
    got=$(head -1 <<<"$out")
    if [[ -f $work/render.sh ]]; then
        array=$(<"$work/array")
        got="$array: $(SLURM_ARRAY_TASK_ID=0 sh "$work/render.sh") .. $(
            SLURM_ARRAY_TASK_ID=${array#0-} sh "$work/render.sh")"
    fi
    if [[ $code != "$status" || $got != "$expected"* ]]; then
        echo "FAILED: '$args': exit $code, '$got'; expected $status, '$expected'"
        failures=$((failures + 1))
    fi
done <<'TABLE'
0010-0017 8 echo p.png|0|0-0: 10 17 .. 10 17
0009-0019 5 echo p.png|0|0-2: 9 13 .. 19 19
-0019--0008 10 echo p.png|0|0-1: -19 -10 .. -9 -8
0017-0010 8 echo p.png|2|render-then-palettise: the range '0017-0010' ends before it starts
1-10 08x echo p.png|2|render-then-palettise: the chunk size '08x' is not a positive number
1-10 8 echo|2|render-then-palettise: expected FIRST-LAST, CHUNK, RENDER_COMMAND
TABLE

[[ $failures -eq 0 ]] || { echo "$failures cases failed"; exit 1; }
echo "passed"
