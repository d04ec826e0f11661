#!/usr/bin/env bash
# Builds and runs every test, stage by stage (CI runs them all, in this order).
#
# Usage: scripts/test.sh [STAGE...]    the chosen stages, in the order given
#        scripts/test.sh --list        the stages and what each runs
#
# A stage that needs the release build (frei0r, ofx, farm, portable, windows,
# arm64, wasm)
# builds it when it is not there; nothing else is shared between stages.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)

# name|what it runs|the function that runs it
stages=(
    "deps|install what is missing (scripts/install-deps.sh)|stage_deps"
    "format|formatting of every source file (clang-format)|stage_format"
    "release|the release build and its whole ctest suite|stage_release"
    "frei0r|the frei0r plug-ins in ffmpeg and melt|stage_frei0r"
    "ofx|the OpenFX bundle: its layout and exports, and its tests in the test host|stage_ofx"
    "farm|the render farm script on a one-node Slurm cluster|stage_farm"
    "studio|the studio in headless chromium: its controls, frames equal to the renderer's, bad input|stage_studio"
    "portable|the portable drawing form alone (Clang): drawing tests, frames equal to the release build's|stage_portable"
    "asan|the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer|stage_asan"
    "tsan|the concurrency tests under ThreadSanitizer|stage_tsan"
    "fuzz|20 seconds of libFuzzer on the scene reader|stage_fuzz"
    "windows|the Windows module: cross build, checks, tests and frame comparison under Wine|stage_windows"
    "packages|the Windows installer under Wine and the Debian package with apt: installed, used, removed|stage_packages"
    "arm64|the ARM64 build: cross build, tests and frame comparison under qemu|stage_arm64"
    "wasm|the WebAssembly replay player under Node: frames equal to the release build's, 32-bit limits|stage_wasm"
)

stage_deps() { bash scripts/install-deps.sh; }

stage_format() { bash scripts/ci/check-format.sh; }

build_release() {
    cmake --preset release >/dev/null
    cmake --build --preset release -j "$jobs"
}

stage_release() {
    build_release
    ctest --preset release -j "$jobs"
}

stage_frei0r() {
    build_release
    POINTILLO_BUILD=build/release bash scripts/ci/test-frei0r-hosts.sh
}

stage_ofx() {
    build_release
    POINTILLO_BUILD=build/release bash scripts/ci/test-ofx.sh
}

stage_farm() {
    build_release
    POINTILLO_BUILD=build/release bash scripts/ci/test-farm-slurm.sh
}

stage_studio() {
    build_release
    POINTILLO_BUILD=build/release bash scripts/ci/test-studio.sh
}

stage_portable() {
    build_release
    POINTILLO_SIMD_BUILD=build/release bash scripts/ci/check-portable.sh
}

stage_asan() {
    cmake --preset asan-ubsan >/dev/null
    cmake --build --preset asan-ubsan -j "$jobs"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --preset asan-ubsan -j "$jobs"
}

stage_tsan() {
    cmake --preset tsan >/dev/null
    # Only what the concurrency tests need: a test's target has the test's name.
    local concurrency_tests
    mapfile -t concurrency_tests < <(ctest --preset tsan -N | awk '/Test +#/ {print $3}')
    ((${#concurrency_tests[@]})) || { echo "no concurrency tests found" >&2; return 1; }
    cmake --build --preset tsan -j "$jobs" --target "${concurrency_tests[@]}"
    TSAN_OPTIONS=halt_on_error=1 ctest --preset tsan -j "$jobs"
}

stage_fuzz() { bash scripts/ci/fuzz-scene.sh 20; }

stage_windows() {
    # The Linux side of the frame comparison is the release build.
    build_release
    POINTILLO_LINUX_BUILD=build/release bash scripts/ci/check-windows.sh
}

stage_packages() { bash scripts/ci/test-packages.sh; }
stage_arm64() {
    # The x86-64 side of the frame comparison is the release build.
    build_release
    POINTILLO_X86_BUILD=build/release bash scripts/ci/check-arm64.sh
}

stage_wasm() {
    build_release
    POINTILLO_X86_BUILD=build/release bash scripts/ci/check-wasm.sh
}

list() {
    local entry name what
    for entry in "${stages[@]}"; do
        IFS='|' read -r name what _ <<<"$entry"
        printf '  %-9s %s\n' "$name" "$what"
    done
}

# field_of NAME N: the Nth field (1 name, 2 what, 3 function) of stage NAME.
field_of() {
    local entry
    for entry in "${stages[@]}"; do
        [[ "${entry%%|*}" == "$1" ]] && { cut -d'|' -f"$2" <<<"$entry"; return 0; }
    done
    return 1
}

if [[ "${1:-}" == "--list" || "${1:-}" == "-h" || "${1:-}" == "--help" ]]; then
    echo "usage: scripts/test.sh [STAGE...]   (all stages by default)"
    list
    exit 0
fi

chosen=("$@")
if ((${#chosen[@]} == 0)); then
    for entry in "${stages[@]}"; do chosen+=("${entry%%|*}"); done
fi
# Check every name before running anything, so a typo does not surface an hour in.
for name in "${chosen[@]}"; do
    field_of "$name" 1 >/dev/null || {
        echo "test.sh: no stage '$name'; the stages are:" >&2
        list >&2
        exit 2
    }
done

for name in "${chosen[@]}"; do
    printf '\n==== %s: %s\n' "$name" "$(field_of "$name" 2)"
    start=$SECONDS
    "$(field_of "$name" 3)"
    printf '==== %s passed in %d s\n' "$name" $((SECONDS - start))
done

printf '\n==== %s passed\n' "$(if (($# == 0)); then echo "all stages"; else echo "${chosen[*]}"; fi)"
