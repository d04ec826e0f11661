#!/usr/bin/env bash
# Builds the portable drawing form alone (the `portable` preset: no SSE2 or
# AVX2 form, compiled with Clang), runs the drawing tests there, and requires
# the frames it renders to equal byte for byte those of a build with every
# form (compiled with GCC, drawing with the best form this processor runs).
# The frames come from the replay bundles of scripts/lib/frame-bundles.sh.
#
# Usage: scripts/ci/check-portable.sh
#   POINTILLO_SIMD_BUILD  the build with every form (default build/release,
#                         configured here if missing)
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/frame-bundles.sh
started=$SECONDS

jobs=${JOBS:-$(nproc)}
simd_build=${POINTILLO_SIMD_BUILD:-build/release}
portable_build=build/portable
work="$PWD/build/portable-frames"

cmake --preset portable >/dev/null
cmake --build --preset portable -j "$jobs" --target draw_test pointillo_module pointillo-replay
ctest --preset portable -R '^draw_test$'

if [[ ! -f "$simd_build/CMakeCache.txt" ]]; then
    cmake -S . -B "$simd_build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$simd_build" --target pointillo pointillo_module pointillo-replay -j "$jobs"

rm -rf "$work"
export_bundles "$simd_build/pointillo" "$work/bundles"
render_simd() {
    "$simd_build/pointillo-replay" --frames "$bundle_frames" "$1" "$2"
}
render_portable() {
    "$portable_build/pointillo-replay" --frames "$bundle_frames" "$1" "$2"
}
if ! compare_bundles "$work" simd render_simd portable render_portable \
    "$simd_build/pointillo-replay"; then
    echo "check-portable: the portable form's frames differ from the build with every form" \
        "(bundles and frames kept in $work)" >&2
    exit 1
fi
rm -rf "$work"
echo "check-portable: every frame of the portable form equals the build with every form's" \
    "($((SECONDS - started)) s)"
