#!/bin/bash
# kelvo as tasks of real Slurm job arrays, on a private single-node Slurm that this test starts
# and stops: munged as the munge user, slurmctld and slurmd from a generated slurm.conf, all in
# a network namespace of their own (so no port opens on the machine), reached with nsenter.
#   slurm_test.sh KELVO
# Exit codes: 0 passed, 1 failed, 77 skipped (no network namespace can be made here), 130 and
# 143 interrupted (SIGINT, SIGTERM). Every wait is bounded, so the test ends (and cleans up) in
# about 5 minutes at worst; KEEP_WORK=1 keeps its directory and the daemons' logs. On every way
# out the daemons are stopped by PID; a process the test started that is still there after
# them (found by a variable that every process of the test inherits) is killed and fails the
# test.
set -euo pipefail
kelvo=$(realpath "$1")
farm=$(cd "$(dirname "$0")/../../farm/slurm" && pwd)
started=$SECONDS
step() { echo "== $(printf '%3d' $((SECONDS - started)))s: $*"; }
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

if ! unshare --net true 2>/dev/null; then
    echo "SKIPPED: no network namespace can be made here (unshare --net needs root or" \
        "user namespaces); the Slurm test needs one"
    exit 77
fi
for tool in munged slurmctld slurmd sbatch ip setpriv; do
    command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/install-deps.sh all"
done

# munged refuses a socket directory that others can reach, so the munge user must be able to
# pass through the work directory (mktemp makes it 0700).
work=$(mktemp -d /tmp/kelvo-slurm.XXXXXX)
chmod 0755 "$work"
# Each process this test starts carries this in its environment (sbatch passes it on to the jobs).
export KELVO_SLURM_TEST=$work
pids=()
# Whether process $1 runs (not gone, nor a zombie waiting to be reaped).
alive() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}
# The processes other than this shell that carry this test's mark.
left_behind() {
    local proc pid
    for proc in /proc/[0-9]*; do
        pid=${proc#/proc/}
        [ "$pid" != $$ ] || continue
        tr '\0' '\n' 2>/dev/null <"$proc/environ" | grep -qxF "KELVO_SLURM_TEST=$work" &&
            echo "$pid"
    done
    return 0
}
cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    # Jobs still running (only after a failure) end before the daemons do, within 15 s.
    if [ ${#pids[@]} -gt 3 ]; then
        inns scancel --full --user=root 2>/dev/null || true
        for _ in $(seq 30); do
            [ -z "$(inns squeue -h 2>/dev/null)" ] && break
            sleep 0.5
        done
    fi
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do
            alive "$pid" || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    local stray
    stray=$(left_behind)
    if [ -n "$stray" ]; then
        echo "FAILED: processes of the test outlived it:" >&2
        for pid in $stray; do
            echo "  $pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" >&2
            kill -KILL "$pid" 2>/dev/null || true
        done
        [ $status -ne 0 ] || status=1
    fi
    if [ $status -ne 0 ]; then
        for log in "$work"/log/*; do
            [ -f "$log" ] && { echo "--- $log"; tail -n 20 "$log"; }
        done
    fi
    [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# The namespace lives as long as its holder. The second loopback address gives the node a
# name lookup that works: without it the daemons find no address but the loopback one.
unshare --net sh -c 'ip link set lo up && ip addr add 127.0.0.2/32 dev lo && exec sleep 600' &
pids+=($!)
ns=/proc/${pids[0]}/ns/net
# Daemons are started with nsenter itself, not through inns, so that $! is the daemon: nsenter
# execs it, where a function run in the background is a subshell of its own.
inns() { nsenter --net="$ns" -- "$@"; }
for _ in $(seq 50); do
    inns ip -o addr show lo 2>/dev/null | grep -q 127.0.0.2 && break
    sleep 0.1
done

mkdir -p "$work"/{munge,log,state,spool,frames,out,local}
chown munge:munge "$work/munge"
chmod 0711 "$work/munge"
dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none
chown munge:munge "$work/munge/munge.key"
chmod 0400 "$work/munge/munge.key"
socket=$work/munge/munge.socket
nsenter --net="$ns" -- setpriv --reuid=munge --regid=munge --init-groups munged --foreground \
    --socket="$socket" --key-file="$work/munge/munge.key" --pid-file="$work/munge/munged.pid" \
    --seed-file="$work/munge/munged.seed" --log-file="$work/log/munged.log" \
    >"$work/log/munged.out" 2>&1 &
pids+=($!)

export SLURM_CONF=$work/slurm.conf
cat >"$SLURM_CONF" <<CONF
ClusterName=kelvotest
SlurmctldHost=$(hostname -s)(127.0.0.1)
MailProg=/bin/true
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$socket
CredType=cred/munge
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
ReturnToService=2
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/log/slurmctld.log
SlurmdLogFile=$work/log/slurmd.log
KillWait=10
MinJobAge=600
SchedulerParameters=sched_interval=1
NodeName=kelvo-node NodeAddr=127.0.0.1 CPUs=2 RealMemory=1024 State=UNKNOWN
PartitionName=kelvo Nodes=kelvo-node Default=YES MaxTime=INFINITE State=UP
CONF
for _ in $(seq 50); do
    [ -S "$socket" ] && break
    sleep 0.1
done
[ -S "$socket" ] || fail "munged did not start"
nsenter --net="$ns" -- slurmctld -D -i -f "$SLURM_CONF" >"$work/log/slurmctld.out" 2>&1 &
pids+=($!)
nsenter --net="$ns" -- slurmd -D -N kelvo-node -f "$SLURM_CONF" >"$work/log/slurmd.out" 2>&1 &
pids+=($!)

step "waiting for the node"
state=""
for _ in $(seq 60); do
    state=$(inns sinfo -h -n kelvo-node -o %T 2>/dev/null || true)
    [ "$state" = idle ] && break
    sleep 0.5
done
[ "$state" = idle ] || fail "the node is '$state', not idle, after 30 s"
step "node up"

# Slurm's record of one array task: its state and exit code ("COMPLETED 0:0").
task_result() {
    local record
    record=$(inns scontrol -o show job "$1")
    echo "$(sed -n 's/.*JobState=\([A-Z_]*\).*/\1/p' <<<"$record")" \
        "$(sed -n 's/.* ExitCode=\([0-9:]*\).*/\1/p' <<<"$record")"
}
# Waits (at most 60 s) until no task of job $1 is pending or running.
wait_job() {
    for _ in $(seq 120); do
        [ -z "$(inns squeue -h -j "$1" 2>/dev/null)" ] && return 0
        sleep 0.5
    done
    fail "job $1 did not end in 60 s"
}
expect_task() {
    local got
    got=$(task_result "$1")
    [ "$got" = "$2" ] || fail "task $1 ended '$got', not '$2'"
}
submit() { inns sbatch --parsable -o "$work/log/%x-%A_%a.log" "$@" | cut -d';' -f1; }
same_files() {
    # (each run's record of what made its frames names its own outputs)
    diff -r -x .kelvo-frames "$1" "$2" >/dev/null ||
        fail "$1 and $2 differ: $(diff -rq -x .kelvo-frames "$1" "$2" | head -3)"
}

# The demo's 24 PNG previews are the colour frames; the reference is one local run.
"$kelvo" demo -q "$work/demo"
settings=(--settings "$work/demo/demo.settings")
"$kelvo" render -q "${settings[@]}" --output "$work/local/f_####.pcx" "$work"/demo/demo00??.png
[ "$(find "$work/local" -mindepth 1 -maxdepth 1 -name '*.pcx' | wc -l)" -eq 24 ] || fail "the local run wrote no 24 frames"
export KELVO=$kelvo

# A stand-in renderer, as the render array of the dependency example runs it: it "renders"
# frames A to B by copying the demo's previews into place.
cat >"$work/render-frames.sh" <<SCRIPT
#!/bin/sh
for n in \$(seq "\$1" "\$2"); do
    cp "$work/demo/demo\$(printf %04d "\$n").png" "$work/frames/beauty_\$(printf %04d "\$n").png"
done
SCRIPT
chmod +x "$work/render-frames.sh"

step "render array and kelvo array (aftercorr), 24 frames in chunks of 5"
jobs=$(SBATCH_OUTPUT="$work/log/%x-%A_%a.log" inns "$farm/render-then-palettise.sh" 1-24 5 \
    "$work/render-frames.sh" "${settings[@]}" --output "$work/out/f_####.pcx" \
    "$work/frames/beauty_####.png")
render_job=$(sed -n 's/render job \([0-9]*\),.*/\1/p' <<<"$jobs")
kelvo_job=$(sed -n 's/.*kelvo job \([0-9]*\)$/\1/p' <<<"$jobs")
wait_job "$kelvo_job"
for task in 0 1 2 3 4; do
    expect_task "${render_job}_$task" "COMPLETED 0:0"
    expect_task "${kelvo_job}_$task" "COMPLETED 0:0"
done
same_files "$work/local" "$work/out"
step "chunked frames are byte-identical to the local run"

step "a chunk with a missing input fails with exit code 2; re-run alone, it completes the set"
rm -rf "$work/out"/*
mv "$work/frames/beauty_0010.png" "$work/beauty_0010.png"
job=$(submit --array=0-4 "$farm/kelvo-array.sbatch" 1-24 5 "${settings[@]}" \
    --output "$work/out/f_####.pcx" "$work/frames/beauty_####.png")
wait_job "$job"
expect_task "${job}_1" "FAILED 2:0"
grep -q "has no file for frame 10" "$work/log/kelvo-${job}_1.log" ||
    fail "the failed task's log does not name frame 10"
for task in 0 2 3 4; do expect_task "${job}_$task" "COMPLETED 0:0"; done
mv "$work/beauty_0010.png" "$work/frames/beauty_0010.png"
job=$(submit --array=1 "$farm/kelvo-array.sbatch" 1-24 5 "${settings[@]}" \
    --output "$work/out/f_####.pcx" "$work/frames/beauty_####.png")
wait_job "$job"
expect_task "${job}_1" "COMPLETED 0:0"
same_files "$work/local" "$work/out"

step "a re-queued array with --skip-existing leaves finished frames untouched"
rm "$work"/out/f_000[2-4].pcx "$work/out/f_0017.pcx"
touch -d '2001-02-03 04:05:06' "$work"/out/*.pcx
head -c 500 "$work/local/f_0018.pcx" >"$work/out/f_0018.pcx"
job=$(submit --array=0-4 "$farm/kelvo-array.sbatch" 1-24 5 "${settings[@]}" --skip-existing \
    -j 2 --output "$work/out/f_####.pcx" "$work/frames/beauty_####.png")
wait_job "$job"
for task in 0 1 2 3 4; do expect_task "${job}_$task" "COMPLETED 0:0"; done
same_files "$work/local" "$work/out"
renewed=$(find "$work/out" -name '*.pcx' -newermt '2001-02-04' -printf '%f\n' | sort | tr '\n' ' ')
[ "$renewed" = "f_0002.pcx f_0003.pcx f_0004.pcx f_0017.pcx f_0018.pcx " ] ||
    fail "re-written: '$renewed', not frames 2-4, 17 and 18"
grep -q "3 frames written (2-4); 2 frames skipped, already complete (1, 5)" \
    "$work/log/kelvo-${job}_0.log" || fail "task 0 does not say what it skipped"

step "scancel of a running task records exit code 130 and leaves no partial file"
# Frames of 2000 x 1500 keep the task busy for seconds: one file written by Python's zlib,
# copied for every frame.
python3 - "$work/big.png" <<'PYTHON'
import struct, sys, zlib
width, height = 2000, 1500
rows = b"".join(b"\0" + bytes((x * 7 + y * 3) & 255 for x in range(width * 3)) for y in range(height))
chunk = lambda kind, data: struct.pack(">I", len(data)) + kind + data + struct.pack(
    ">I", zlib.crc32(kind + data))
header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
with open(sys.argv[1], "wb") as out:
    out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 1))
              + chunk(b"IEND", b""))
PYTHON
mkdir "$work/big" "$work/bigout"
for n in $(seq 1 40); do cp "$work/big.png" "$work/big/big_$(printf %04d "$n").png"; done
job=$(submit --array=0 "$farm/kelvo-array.sbatch" 1-40 40 --palette "$work/demo/demo-palette.pcx" \
    --frame-cache 0 -j 1 --output "$work/bigout/b_####.pcx" "$work/big/big_####.png")
for _ in $(seq 600); do
    [ -n "$(ls "$work/bigout")" ] && break
    sleep 0.1
done
[ -n "$(ls "$work/bigout")" ] || fail "the long task wrote no frame in 60 s"
inns scancel "${job}_0"
wait_job "$job"
result=$(task_result "${job}_0")
[[ $result == *" 130:0" ]] || fail "the cancelled task ended '$result', not with exit code 130"
grep -q "interrupted; frames written: 1" "$work/log/kelvo-${job}_0.log" ||
    fail "kelvo did not say it was interrupted"
written=$(find "$work/bigout" -mindepth 1 -maxdepth 1 -name '*.pcx' | wc -l)
[ "$written" -lt 40 ] || fail "the cancelled task wrote every frame"
for file in "$work"/bigout/*; do
    [[ $file == *.pcx ]] || fail "'$file' is left behind"
    cmp -s "$file" "$work/bigout/b_0001.pcx" || fail "'$file' is not a whole frame"
done
step "cancelled with $written of 40 frames written, each whole; state '$result'"
echo "passed in $((SECONDS - started)) s"
