#!/usr/bin/env bash
# Renders the same replay bundles with the Linux build and, under Wine, with
# the cross-built Windows one (pointillo-replay.exe loading Pointillo.aex),
# and compares the frames byte for byte. The bundles (three words in
# sequence at 8, 16 and 32 bits; dots only, with particles, and at half
# resolution) are made by the Linux build.
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

if [[ ! -f "$linux_build/CMakeCache.txt" ]]; then
    cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DPOINTILLO_BUILD_CLI=OFF -DPOINTILLO_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$linux_build" --target pointillo_module pointillo-replay make_replay_bundles \
    -j "$jobs"
cmake --build "$windows_build" --target pointillo_module pointillo-replay -j "$jobs"

rm -rf "$work"
"$linux_build/tests/replay/make_replay_bundles" "$work/bundles" >/dev/null

wine_start
trap wine_stop EXIT

status=0
for bundle in "$work"/bundles/*/; do
    name=$(basename "$bundle")
    echo "== $name"
    "$linux_build/pointillo-replay" "$bundle" "$work/linux/$name"
    # Wine sees the file system as drive Z:.
    "$WINE" "$windows_build/pointillo-replay.exe" "Z:$bundle" "Z:$work/windows/$name"
    "$linux_build/pointillo-replay" --compare "$work/linux/$name" "$work/windows/$name" ||
        status=1
done
if ((status)); then
    echo "compare-windows-frames: the Windows build's frames differ from the Linux build's" >&2
    exit 1
fi
echo "compare-windows-frames: every frame of the Windows build equals the Linux build's"
