#!/usr/bin/env bash
# Cross-builds the module, the emulated host, pointillo-replay and the core
# and host tests for ARM64 Linux (the `linux-arm64` preset, Debian's
# g++-aarch64-linux-gnu), runs the tests under qemu's user-mode emulation,
# and requires the frames the ARM64 build renders from every replay bundle of
# scripts/lib/frame-bundles.sh to equal byte for byte those of the x86-64
# release build.
#
# Usage: scripts/ci/check-arm64.sh
#   POINTILLO_X86_BUILD  the x86-64 build (default build/release, configured
#                        here if missing)
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/frame-bundles.sh
started=$SECONDS

jobs=${JOBS:-$(nproc)}
x86_build=${POINTILLO_X86_BUILD:-build/release}
arm_build=build/linux-arm64
work="$PWD/build/arm64-frames"
fail() {
    echo "check-arm64: $*" >&2
    exit 1
}
command -v aarch64-linux-gnu-g++ >/dev/null || fail "no aarch64-linux-gnu-g++ (scripts/install-deps.sh)"
command -v qemu-aarch64 >/dev/null || fail "no qemu-aarch64 (scripts/install-deps.sh)"

cmake --preset linux-arm64 >/dev/null
cmake --build --preset linux-arm64 -j "$jobs"
file "$arm_build/Pointillo.so" | grep -q 'ARM aarch64' || fail "$arm_build/Pointillo.so is not an ARM64 module"
echo "check-arm64: cross build took $((SECONDS - started)) s"

tests_started=$SECONDS
ctest --preset linux-arm64 -j "$jobs"
echo "check-arm64: the tests under qemu took $((SECONDS - tests_started)) s"

if [[ ! -f "$x86_build/CMakeCache.txt" ]]; then
    cmake -S . -B "$x86_build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$x86_build" --target pointillo pointillo_module pointillo-replay -j "$jobs"

frames_started=$SECONDS
rm -rf "$work"
export_bundles "$x86_build/pointillo" "$work/bundles"
render_x86() {
    "$x86_build/pointillo-replay" --frames "$bundle_frames" "$1" "$2"
}
render_arm64() {
    qemu-aarch64 -L /usr/aarch64-linux-gnu "$arm_build/pointillo-replay" \
        --frames "$bundle_frames" "$1" "$2"
}
if ! compare_bundles "$work" x86-64 render_x86 arm64 render_arm64 "$x86_build/pointillo-replay"; then
    fail "the ARM64 build's frames differ from the x86-64 build's (bundles and frames kept in $work)"
fi
rm -rf "$work"
echo "check-arm64: every frame of the ARM64 build equals the x86-64 build's" \
    "(frames $((SECONDS - frames_started)) s, all $((SECONDS - started)) s)"
