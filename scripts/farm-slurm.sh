#!/usr/bin/env bash
# Renders a scene on a Slurm cluster: a job array with one task per chunk of
# frames, and a final step, run once every task has ended however it ended,
# that renders whatever is still missing (`pointillo render --resume`) and,
# with --video, encodes the video. The output folder must be shared by the
# nodes; each node needs pointillo, its module, the fonts and the scene's
# images at the same paths.
#
# Usage: scripts/farm-slurm.sh SCENE OUT [options] [-- RENDER_OPTIONS...]
#   --chunk N          frames per array task (default 100)
#   --frames A-B       render only these frames (default: the whole scene)
#   --video FILE       the final step also writes FILE (.mp4 or .gif)
#   --cpus N           CPUs per task, also its --jobs (default 1)
#   --pointillo PATH   the renderer (default: pointillo on PATH)
#   --logs DIR         the tasks' logs (default OUT.logs)
#   --sbatch ARG       passed to both sbatch calls (repeatable: --sbatch
#                      --partition=render --sbatch --time=2:00:00)
#   --wait             wait for the final step and exit with its status
# RENDER_OPTIONS go to every `pointillo render` (--depth 16, --downsample 2,
# --background '#000000', --set KEY=VALUE, ...); not -o, --frames, --frame,
# --jobs, --resume or --video, which this script sets.
# Prints the two job ids ("array 123, final 124").
set -euo pipefail

fail() {
    echo "farm-slurm: $*" >&2
    exit 2
}

# ---- inside a job: one chunk, or the final step ------------------------------
if [[ "${1:-}" == "--task" || "${1:-}" == "--final" ]]; then
    mode=$1
    shift
    pointillo=$1 scene=$2 out=$3 first=$4 last=$5 chunk=$6 cpus=$7 video=$8
    shift 8
    [[ "${1:-}" == "--" ]] && shift
    if [[ "$mode" == "--task" ]]; then
        from=$((first + SLURM_ARRAY_TASK_ID * chunk))
        to=$((from + chunk - 1 < last ? from + chunk - 1 : last))
        echo "farm-slurm: task $SLURM_ARRAY_TASK_ID renders frames $from-$to on $(hostname)"
        exec "$pointillo" render "$scene" -o "$out" --frames "$from-$to" --jobs "$cpus" \
            --resume "$@"
    fi
    # Every task has ended: temporaries a killed task left are stale.
    find "$out" -maxdepth 1 -name '.frame_*.tmp' -delete
    video_args=()
    [[ -n "$video" ]] && video_args=(--video "$video")
    echo "farm-slurm: final step renders what is missing of $first-$last on $(hostname)"
    exec "$pointillo" render "$scene" -o "$out" --frames "$first-$last" --jobs "$cpus" \
        --resume "${video_args[@]}" "$@"
fi

# ---- submitting -------------------------------------------------------------------
(($# >= 2)) || fail "usage: farm-slurm.sh SCENE OUT [--chunk N] [--frames A-B] [--video FILE] [-- RENDER_OPTIONS...]"
scene=$(realpath -- "$1")
out=$(realpath -m -- "$2")
shift 2
chunk=100 frames="" video="" cpus=1 pointillo=pointillo logs="" wait=0
sbatch_args=()
while (($#)); do
    case "$1" in
    --chunk) chunk=${2:?}; shift 2 ;;
    --frames) frames=${2:?}; shift 2 ;;
    --video) video=$(realpath -m -- "${2:?}"); shift 2 ;;
    --cpus) cpus=${2:?}; shift 2 ;;
    --pointillo) pointillo=${2:?}; shift 2 ;;
    --logs) logs=$(realpath -m -- "${2:?}"); shift 2 ;;
    --sbatch) sbatch_args+=("${2:?}"); shift 2 ;;
    --wait) wait=1; shift ;;
    --) shift; break ;;
    *) fail "unknown option $1 (render options go after --)" ;;
    esac
done
render_args=("$@")
for arg in "${render_args[@]}"; do
    case "$arg" in
    -o | --output | --output=* | --frames | --frames=* | --frame | --frame=* | --jobs | --jobs=* | \
        --resume | --video | --video=* | --export-replay | --export-replay=*)
        fail "$arg is set by this script; use its own options instead" ;;
    esac
done
[[ "$chunk" =~ ^[1-9][0-9]*$ ]] || fail "--chunk $chunk: must be a whole number from 1"
[[ "$cpus" =~ ^[1-9][0-9]*$ ]] || fail "--cpus $cpus: must be a whole number from 1"
pointillo=$(command -v -- "$pointillo") || fail "no pointillo found (give --pointillo PATH)"
pointillo=$(realpath -- "$pointillo")
command -v sbatch >/dev/null || fail "sbatch is not installed"
logs=${logs:-$out.logs}
mkdir -p "$out" "$logs"

# The renderer itself checks the scene and the options and names the frames.
frames_args=()
[[ -n "$frames" ]] && frames_args=(--frames "$frames")
range=$("$pointillo" render "$scene" "${frames_args[@]}" --print-range "${render_args[@]}") ||
    exit 2
first=${range%-*}
last=${range#*-}
tasks=$(((last - first + chunk) / chunk))

self=$(realpath -- "${BASH_SOURCE[0]}")
array=$(sbatch --parsable --job-name=pointillo-chunks --array="0-$((tasks - 1))" \
    --cpus-per-task="$cpus" --output="$logs/chunk-%a.log" "${sbatch_args[@]}" \
    "$self" --task "$pointillo" "$scene" "$out" "$first" "$last" "$chunk" "$cpus" "$video" \
    -- "${render_args[@]}")
array=${array%%;*}
wait_args=()
((wait)) && wait_args=(--wait)
final_status=0
final=$(sbatch --parsable --job-name=pointillo-final --dependency="afterany:$array" \
    --kill-on-invalid-dep=no --cpus-per-task="$cpus" --output="$logs/final.log" \
    "${wait_args[@]}" "${sbatch_args[@]}" \
    "$self" --final "$pointillo" "$scene" "$out" "$first" "$last" "$chunk" "$cpus" "$video" \
    -- "${render_args[@]}") || final_status=$?
final=${final%%;*}
echo "farm-slurm: frames $first-$last in $tasks chunks of $chunk: array $array, final $final" \
    "(logs in $logs)"
exit "$final_status"
