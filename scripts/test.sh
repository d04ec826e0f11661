#!/usr/bin/env bash
# Builds and runs every test: formatting, the native suite, the frei0r
# plug-ins in ffmpeg and melt, the render farm script on a one-node Slurm
# cluster, the portable drawing form alone (its
# tests and frames), the suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, the concurrency tests under
# ThreadSanitizer, a short fuzz run of the scene reader, and the Windows
# module (cross-built, checked, its tests run under Wine, and its frames
# compared with the Linux build's).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
stage() { printf '\n==== %s\n' "$*"; }

stage "dependencies"
bash scripts/install-deps.sh

stage "formatting"
bash scripts/check-format.sh

stage "native build and tests (release)"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs"

stage "frei0r plug-ins in ffmpeg and melt"
POINTILLO_BUILD=build/release bash scripts/test-frei0r-hosts.sh

stage "render farm on a one-node Slurm cluster"
POINTILLO_BUILD=build/release bash scripts/test-farm-slurm.sh

stage "portable drawing form alone (Clang): drawing tests, frames equal to the release build's"
POINTILLO_SIMD_BUILD=build/release bash scripts/check-portable.sh

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan-ubsan >/dev/null
cmake --build --preset asan-ubsan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --preset asan-ubsan -j "$jobs"

stage "ThreadSanitizer (concurrency tests)"
cmake --preset tsan >/dev/null
# Only what the concurrency tests need: a test's target has the test's name.
mapfile -t concurrency_tests < <(ctest --preset tsan -N | awk '/Test +#/ {print $3}')
((${#concurrency_tests[@]})) || { echo "no concurrency tests found" >&2; exit 1; }
cmake --build --preset tsan -j "$jobs" --target "${concurrency_tests[@]}"
TSAN_OPTIONS=halt_on_error=1 ctest --preset tsan -j "$jobs"

stage "fuzzing the scene reader"
bash scripts/fuzz-scene.sh 20

stage "Windows module (cross build, checks, tests and frame comparison under Wine)"
# The Linux side of the frame comparison is the release build made above.
POINTILLO_LINUX_BUILD=build/release bash scripts/check-windows.sh

stage "all stages passed"
