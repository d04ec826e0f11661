#!/usr/bin/env bash
# Builds Pointillo Studio into build/studio/site: the page and the core as
# WebAssembly, with Debian's emscripten.
set -euo pipefail
cd "$(dirname "$0")/.."
# emscripten's JavaScript optimizer needs Debian's acorn.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
if [[ ! -f build/studio/build.ninja ]]; then
    emcmake cmake -S web -B build/studio -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build build/studio -j2
