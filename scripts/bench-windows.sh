#!/usr/bin/env bash
# Times the Windows module under Wine against the Linux module on the same
# 1920x1080 particle bundle (the particles scene of the replay tests at that
# size, frames 36 to 42 of its first transition), each through its own
# pointillo-replay --bench, and prints the Wine/Linux ratio of the medians.
# The two runs alternate ROUNDS times (default 2) so that the machine's load
# falls on both alike; the ratio is that of the rounds' mean medians.
#
# Usage: scripts/bench-windows.sh [PASSES]   (default 5 passes per round)
#   POINTILLO_LINUX_BUILD  the Linux build to use (default build/win-lin, a
#                          release build made here if missing)
#   ROUNDS                 alternations of the two runs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/wine-env.sh

passes=${1:-5}
rounds=${ROUNDS:-2}
jobs=${JOBS:-$(nproc)}
linux_build=${POINTILLO_LINUX_BUILD:-build/win-lin}
windows_build="$PWD/build/windows"
work="$PWD/build/bench-windows"

if [[ ! -f "$linux_build/CMakeCache.txt" ]]; then
    cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DPOINTILLO_BUILD_BENCH=OFF >/dev/null
fi
if [[ ! -f "$windows_build/CMakeCache.txt" ]]; then
    cmake --preset windows >/dev/null
fi
cmake --build "$linux_build" --target pointillo pointillo_module pointillo-replay -j "$jobs" >/dev/null
cmake --build "$windows_build" --target pointillo_module pointillo-replay -j "$jobs" >/dev/null

rm -rf "$work"
mkdir -p "$work"
sed 's/"width": 1280, "height": 720/"width": 1920, "height": 1080/' \
    tests/replay/particles_scene.json >"$work/scene.json"
grep -q '"width": 1920, "height": 1080' "$work/scene.json" ||
    { echo "bench-windows: the particles scene no longer has the size this script expects" >&2; exit 1; }
"$linux_build/pointillo" render "$work/scene.json" --frames 36-42 \
    --export-replay "$work/bundle" >/dev/null

wine_start
trap wine_stop EXIT

# The median of one run, in ms, from its closing line.
median_of() {
    sed -n 's/^bench: median \([0-9.]*\) ms, .*/\1/p' <<<"$1"
}
linux_medians=()
windows_medians=()
for ((round = 1; round <= rounds; round++)); do
    linux=$("$linux_build/pointillo-replay" --bench "$passes" \
        --module "$linux_build/Pointillo.so" "$work/bundle")
    echo "linux   $linux"
    windows=$("$WINE" "$windows_build/pointillo-replay.exe" --bench "$passes" \
        --module "Z:$windows_build/Pointillo.aex" "Z:$work/bundle" | tr -d '\r')
    echo "windows $windows"
    linux_medians+=("$(median_of "$linux")")
    windows_medians+=("$(median_of "$windows")")
done
awk -v l="${linux_medians[*]}" -v w="${windows_medians[*]}" 'BEGIN {
    nl = split(l, a, " "); nw = split(w, b, " ")
    for (i = 1; i <= nl; i++) { sl += a[i] }
    for (i = 1; i <= nw; i++) { sw += b[i] }
    printf "bench-windows: Wine/Linux %.2fx (median %.1f ms against %.1f ms per 1920x1080 particle frame)\n",
        sw / sl, sw / nw, sl / nl
}'
rm -rf "$work"
