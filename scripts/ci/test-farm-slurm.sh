#!/usr/bin/env bash
# Proves scripts/farm-slurm.sh on a one-node Slurm cluster started here (munge,
# slurmctld and slurmd from Debian's packages, run directly, no systemd; state,
# logs and sockets under build/slurm-farm): a scene rendered through the job
# array, one of whose tasks is killed midway through its chunk, ends as a
# folder byte-identical to a single-machine render, and the final step encodes
# the video.
#
# Usage: scripts/ci/test-farm-slurm.sh   (as root)
#   POINTILLO_BUILD  the build whose pointillo to use (default build/release)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${POINTILLO_BUILD:-build/release}")
work="$PWD/build/slurm-farm"
pointillo="$build/pointillo"
fail() {
    echo "test-farm-slurm: $*" >&2
    exit 1
}
[[ -x "$pointillo" ]] || fail "no renderer at $pointillo (build the release preset first)"
for program in munged slurmctld slurmd sbatch scontrol; do
    command -v "$program" >/dev/null || fail "$program is missing (scripts/install-deps.sh)"
done

rm -rf "$work"
mkdir -p "$work"/{munge,state,spool,log}
chmod 700 "$work/munge"
node=$(hostname -s)

# ---- munge, with a key of its own --------------------------------------------------
dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge/munge.key"
munged --force --key-file="$work/munge/munge.key" --socket="$work/munge/munge.socket" \
    --pid-file="$work/munge/munged.pid" --log-file="$work/log/munged.log" \
    --seed-file="$work/munge/munge.seed"

# ---- one node that is also the controller ------------------------------------------
export SLURM_CONF="$work/slurm.conf"
cat >"$SLURM_CONF" <<EOF
ClusterName=pointillo-test
SlurmctldHost=$node
SlurmctldPort=16817
SlurmdPort=16818
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/munge.socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/log/slurmctld.log
SlurmdLogFile=$work/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SwitchType=switch/none
MpiDefault=none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MinJobAge=600
NodeName=$node NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN
PartitionName=farm Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF

stop() {
    for pid_file in "$work/slurmd.pid" "$work/slurmctld.pid" "$work/munge/munged.pid"; do
        [[ -f "$pid_file" ]] && kill "$(cat "$pid_file")" 2>/dev/null || true
    done
}
trap stop EXIT
slurmctld -i
slurmd
for ((i = 0; i < 60; ++i)); do
    sinfo -h -o '%T' 2>/dev/null | grep -q -E '^(idle|mixed|allocated)' && break
    sleep 1
done
sinfo -h -o '%T' | grep -q -E '^(idle|mixed|allocated)' ||
    fail "the node did not come up: $(sinfo 2>&1; tail -5 "$work/log/slurmd.log")"

# ---- a small scene: two words and their transition ------------------------------------
cat >"$work/scene.json" <<'SCENE'
{"comp": {"width": 320, "height": 180, "fps": 30, "duration": 2},
 "sources": [{"text": "FARM", "font": "DejaVu Sans:bold", "size": 90},
             {"text": "DONE", "font": "DejaVu Sans:bold", "size": 90, "color": "#ffcc66"}],
 "params": {"Spacing": 4, "Dot Size": 4, "Enable Additional Particles": true}}
SCENE
render_args=(--depth 16)
frames=0-53

# A renderer that, in task 1, writes half its chunk and then is killed by a
# signal, as a node failing in the middle of a chunk would be.
cat >"$work/pointillo-killed-midway" <<EOF
#!/usr/bin/env bash
if [[ "\${SLURM_ARRAY_TASK_ID:-}" == 1 && "\$1" == render ]]; then
    args=("\$@")
    for ((i = 0; i < \${#args[@]}; ++i)); do
        if [[ "\${args[i]}" == --frames ]]; then
            first=\${args[i + 1]%-*}
            args[i + 1]="\$first-\$((first + 4))"
        fi
    done
    "$pointillo" "\${args[@]}"
    kill -KILL \$\$
fi
exec "$pointillo" "\$@"
EOF
chmod +x "$work/pointillo-killed-midway"

"$pointillo" render "$work/scene.json" -o "$work/single" --frames "$frames" "${render_args[@]}" \
    >/dev/null

started=$SECONDS
bash scripts/farm-slurm.sh "$work/scene.json" "$work/farm" --chunk 10 --frames "$frames" --cpus 1 \
    --pointillo "$work/pointillo-killed-midway" --video "$work/farm.mp4" --wait \
    -- "${render_args[@]}" 2>&1 | tee "$work/submit.log" || true
grep -q "array" "$work/submit.log" || fail "nothing was submitted"
array=$(sed -n 's/.*array \([0-9]*\), final \([0-9]*\).*/\1/p' "$work/submit.log")
final=$(sed -n 's/.*array \([0-9]*\), final \([0-9]*\).*/\2/p' "$work/submit.log")

state() { scontrol show job "$1" | sed -n 's/.*JobState=\([A-Z_]*\).*/\1/p' | head -1; }
[[ "$(state "${array}_1")" == FAILED ]] ||
    fail "task 1 should have been killed: $(scontrol show job "${array}_1")"
[[ "$(state "$final")" == COMPLETED ]] ||
    fail "the final step failed: $(cat "$work/farm.logs/final.log")"
for task in 0 2 3 4 5; do
    [[ "$(state "${array}_$task")" == COMPLETED ]] || fail "task $task: $(state "${array}_$task")"
done
grep -q "5 frames in .*; 49 already there" "$work/farm.logs/final.log" ||
    fail "the final step did not resume: $(cat "$work/farm.logs/final.log")"

diff -r "$work/single" "$work/farm" || fail "the farm's folder differs from the single render"
[[ -s "$work/farm.mp4" ]] || fail "no video"
echo "test-farm-slurm: 6 chunks, task 1 killed midway and finished by the final step;" \
    "the folder equals the single-machine render byte for byte ($((SECONDS - started)) s)"
