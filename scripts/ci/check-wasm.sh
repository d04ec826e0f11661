#!/usr/bin/env bash
# Builds the core and its replay player for WebAssembly (the `wasm` preset,
# Debian's emscripten), plays every replay bundle of scripts/lib/frame-bundles.sh
# with build/wasm/pointillo-replay.js under Node, and requires its frames to
# equal byte for byte those the x86-64 release build's pointillo-replay
# renders through the module. Then checks the refusals of 32-bit sizes: an
# output beyond the WebAssembly limit, and a layer whose size does not fit
# 32 bits.
#
# Usage: scripts/ci/check-wasm.sh
#   POINTILLO_X86_BUILD  the x86-64 build (default build/release, configured
#                        here if missing)
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/frame-bundles.sh
started=$SECONDS

jobs=${JOBS:-$(nproc)}
x86_build=${POINTILLO_X86_BUILD:-build/release}
player=build/wasm/pointillo-replay.js
work="$PWD/build/wasm-frames"
fail() {
    echo "check-wasm: $*" >&2
    exit 1
}
command -v em++ >/dev/null || fail "no em++ (emscripten; scripts/install-deps.sh)"
command -v node >/dev/null || fail "no node (scripts/install-deps.sh)"
# emscripten's JavaScript optimizer needs Debian's acorn.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

cmake --preset wasm >/dev/null
cmake --build --preset wasm -j "$jobs"
[[ -f "$player" ]] || fail "no player at $player"
echo "check-wasm: build took $((SECONDS - started)) s"

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
render_wasm() {
    node "$player" --frames "$bundle_frames" "$1" "$2"
}
if ! compare_bundles "$work" x86-64 render_x86 wasm render_wasm "$x86_build/pointillo-replay"; then
    fail "the WebAssembly player's frames differ from the x86-64 build's (bundles and frames kept in $work)"
fi
echo "check-wasm: frames took $((SECONDS - frames_started)) s"

# refused NAME PATTERN: the player refuses the bundle $work/NAME (status 2)
# with a message matching PATTERN.
refused() {
    local status=0 message
    message=$(node "$player" "$work/$1" "$work/out-$1" 2>&1) || status=$?
    ((status == 2)) || fail "$1: status $status, expected 2: $message"
    grep -qE "$2" <<<"$message" || fail "$1: the message does not say '$2': $message"
    echo "check-wasm: $1 refused: $message"
}
# The demo bundle's comp at 8192 x 4096: 32 megapixels (the layers as they are).
cp -r "$work/bundles/demo-8" "$work/large-output"
sed -i 's/^size .*/size 8192 4096/' "$work/large-output/replay.txt"
refused large-output "8192 x 4096 pixels; this build renders at most 16 megapixels"
# A layer said to be 30000 x 30000 at 32 bits (14.4 GB): the size is told as
# it is, not as it wraps in 32 bits.
cp -r "$work/bundles/demo-32" "$work/huge-layer"
sed -i '0,/^layer \([0-9]*\) .*/s//layer \1 30000 30000 30000 30000/' "$work/huge-layer/replay.txt"
refused huge-layer "take 14400000000"

rm -rf "$work"
echo "check-wasm: every frame of the WebAssembly player equals the x86-64 build's" \
    "(all $((SECONDS - started)) s)"
