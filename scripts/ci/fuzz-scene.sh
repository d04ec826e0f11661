#!/usr/bin/env bash
# Fuzzes the renderer's scene reader with libFuzzer (under AddressSanitizer and
# UndefinedBehaviorSanitizer) for the given number of seconds, 20 by default.
# Needs clang. New inputs go to a temporary copy of the seed corpus; a crash
# leaves its input as crash-* in the build folder (build/fuzz by default).
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-20}
build=${POINTILLO_FUZZ_BUILD_DIR:-build/fuzz}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DPOINTILLO_BUILD_CLI=ON -DPOINTILLO_BUILD_FUZZ=ON \
    -DPOINTILLO_BUILD_TESTS=OFF -DPOINTILLO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_scene -j "$(nproc)"

export POINTILLO_MODULE="$PWD/$build/Pointillo.so"
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp cli/fuzz/corpus/* "$corpus"/
"$build/cli/fuzz/fuzz_scene" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -dict=cli/fuzz/scene.dict -artifact_prefix="$build/" -print_final_stats=1 "$corpus"
