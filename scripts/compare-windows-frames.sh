#!/usr/bin/env bash
# Renders the same frames with the Linux build and, under Wine, with the
# cross-built Windows one (pointillo-replay.exe loading Pointillo.aex), and
# compares them byte for byte. The frames come from replay bundles that the
# Linux renderer exports (`pointillo render --export-replay`): the demo scene
# and the demo with additional particles, at 8, 16 and 32 bits, and the
# particles at half resolution; each a hold, the break-apart, mid-transition,
# the settle, the next hold and the second transition.
#
# Usage: scripts/compare-windows-frames.sh
#   POINTILLO_LINUX_BUILD  the Linux build to use (default build/win-lin, a
#                          release build made here if missing)
# The windows preset must be configured (scripts/check-windows.sh does it).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh

jobs=${JOBS:-$(nproc)}
linux_build=${POINTILLO_LINUX_BUILD:-build/win-lin}
windows_build=build/windows
work="$PWD/build/windows-frames"
frames=12,30,36,42,54,66,102
particles=tests/replay/particles_scene.json

if [[ ! -f "$linux_build/CMakeCache.txt" ]]; then
    cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DPOINTILLO_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$linux_build" --target pointillo pointillo_module pointillo-replay -j "$jobs"
cmake --build "$windows_build" --target pointillo_module pointillo-replay -j "$jobs"

rm -rf "$work"
export_bundle() { # NAME [SCENE] OPTIONS...
    local name=$1
    shift
    "$linux_build/pointillo" render "$@" --frames 0-102 --export-replay "$work/bundles/$name" \
        >/dev/null
}
for depth in 8 16 32; do
    export_bundle "demo-$depth" --depth "$depth"
    export_bundle "particles-$depth" "$particles" --depth "$depth"
done
export_bundle "particles-half-16" "$particles" --depth 16 --downsample 2

wine_start
trap wine_stop EXIT

status=0
for bundle in "$work"/bundles/*/; do
    name=$(basename "$bundle")
    echo "== $name"
    "$linux_build/pointillo-replay" --frames "$frames" "$bundle" "$work/linux/$name"
    # Wine sees the file system as drive Z:.
    "$WINE" "$windows_build/pointillo-replay.exe" --frames "$frames" "Z:$bundle" \
        "Z:$work/windows/$name"
    "$linux_build/pointillo-replay" --compare "$work/linux/$name" "$work/windows/$name" ||
        status=1
done
if ((status)); then
    echo "compare-windows-frames: the Windows build's frames differ from the Linux build's" \
        "(bundles and frames kept in $work)" >&2
    exit 1
fi
# Close to a gigabyte of frames, of no further use once they are equal.
rm -rf "$work"
echo "compare-windows-frames: every frame of the Windows build equals the Linux build's"
