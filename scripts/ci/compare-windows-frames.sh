#!/usr/bin/env bash
# Renders the same frames with the Linux build and, under Wine, with the
# cross-built Windows one (pointillo-replay.exe loading Pointillo.aex), and
# compares them byte for byte. The frames come from the replay bundles of
# scripts/lib/frame-bundles.sh, which the Linux renderer exports.
#
# Usage: scripts/ci/compare-windows-frames.sh
#   POINTILLO_LINUX_BUILD  the Linux build to use (default build/win-lin, a
#                          release build made here if missing)
# The windows preset must be configured (scripts/ci/check-windows.sh does it).
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/wine-env.sh
source scripts/lib/frame-bundles.sh

jobs=${JOBS:-$(nproc)}
linux_build=${POINTILLO_LINUX_BUILD:-build/win-lin}
windows_build=build/windows
work="$PWD/build/windows-frames"

if [[ ! -f "$linux_build/CMakeCache.txt" ]]; then
    cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DPOINTILLO_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$linux_build" --target pointillo pointillo_module pointillo-replay -j "$jobs"
cmake --build "$windows_build" --target pointillo_module pointillo-replay -j "$jobs"

rm -rf "$work"
export_bundles "$linux_build/pointillo" "$work/bundles"

wine_start
trap wine_stop EXIT

render_linux() {
    "$linux_build/pointillo-replay" --frames "$bundle_frames" "$1" "$2"
}
render_windows() {
    # Wine sees the file system as drive Z:.
    "$WINE" "$windows_build/pointillo-replay.exe" --frames "$bundle_frames" "Z:$1" "Z:$2"
}
if ! compare_bundles "$work" linux render_linux windows render_windows \
    "$linux_build/pointillo-replay"; then
    echo "compare-windows-frames: the Windows build's frames differ from the Linux build's" \
        "(bundles and frames kept in $work)" >&2
    exit 1
fi
# Close to a gigabyte of frames, of no further use once they are equal.
rm -rf "$work"
echo "compare-windows-frames: every frame of the Windows build equals the Linux build's"
