#!/usr/bin/env bash
# The renderer at production scale: frames per second and peak memory of
# whole `pointillo render` runs on the two standard workloads, for one build
# or, given two, for both in turn (A B A B ...), each run's figures printed.
#
#   words1080  "POINT", "CLOUD", "MORPH" in DejaVu Sans bold at 300, white,
#              #ffcc66, #66ccff, default parameters, 1920 x 1080, 30 fps, 4 s
#              (120 frames), PNG at 8 bits
#   words2160  the same at 3840 x 2160, size 600, "Enable Additional
#              Particles" on, frames 40 to 43, OpenEXR at 32 bits
#
# Usage: bench/render/bench_render.sh [-n RUNS] [--jobs N] [BUILD [OTHER_BUILD]]
#   BUILD defaults to build/release; a build is a folder holding pointillo and
#   its module. Needs /usr/bin/time (Debian's `time`).
set -euo pipefail
runs=3
jobs=2
while (($#)) && [[ "$1" == -* ]]; do
    case "$1" in
    -n) runs=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    *) echo "bench_render: unknown option $1" >&2; exit 2 ;;
    esac
done
builds=("${@:-build/release}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

words() { # WIDTH HEIGHT SIZE DEPTH PARTICLES
    cat <<SCENE
{"comp": {"width": $1, "height": $2, "fps": 30, "duration": 4}, "depth": $4,
 "sources": [{"text": "POINT", "font": "DejaVu Sans:bold", "size": $3, "color": "#ffffff"},
             {"text": "CLOUD", "font": "DejaVu Sans:bold", "size": $3, "color": "#ffcc66"},
             {"text": "MORPH", "font": "DejaVu Sans:bold", "size": $3, "color": "#66ccff"}],
 "params": {"Enable Additional Particles": $5}}
SCENE
}
words 1920 1080 300 8 false >"$work/words1080.json"
words 3840 2160 600 32 true >"$work/words2160.json"

# One run: frames per second (frames over the renderer's own render time),
# wall seconds, processor milliseconds per frame (user and system: the figure
# to compare on a busy machine), peak resident memory in MB, folder size in MB.
run() { # BUILD SCENE FRAMES...
    local build=$1 scene=$2
    shift 2
    rm -rf "$work/out"
    /usr/bin/time -f '%e %M %U %S' -o "$work/time" "$build/pointillo" render "$work/$scene.json" \
        -o "$work/out" --jobs "$jobs" "$@" >"$work/summary"
    local frames seconds wall peak user sys size
    read -r frames seconds < <(sed -n 's/^pointillo: \([0-9]*\) frames\? in \([0-9.]*\) s.*/\1 \2/p' \
        "$work/summary")
    read -r wall peak user sys <"$work/time"
    size=$(du -sm "$work/out" | cut -f1)
    awk -v scene="$scene" -v build="$build" -v f="$frames" -v s="$seconds" -v w="$wall" \
        -v u="$user" -v y="$sys" -v p="$peak" -v z="$size" 'BEGIN {
        printf "%-10s %-28s %7.2f fps %7.1f s wall %6.0f ms cpu/frame %6d MB peak %5d MB files\n",
            scene, build, f / s, w, (u + y) * 1000 / f, p / 1024, z }' 
}

echo "bench_render: $runs runs each, --jobs $jobs, on $(nproc) cores"
for ((r = 0; r < runs; ++r)); do
    for build in "${builds[@]}"; do
        run "$build" words1080
    done
done
for ((r = 0; r < runs; ++r)); do
    for build in "${builds[@]}"; do
        run "$build" words2160 --frames 40-43
    done
done
