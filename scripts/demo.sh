#!/usr/bin/env bash
# Installs what is missing, builds the renderer and the module with the
# release preset and renders the built-in demo scene to out/ (PNG frames) and,
# with ffmpeg, out/demo.mp4. Extra arguments go to `pointillo render`.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --no-windows
cmake --preset release >/dev/null
cmake --build --preset release --target pointillo -j "$(nproc)"
./build/release/pointillo render -o out --video out/demo.mp4 "$@"
echo "demo: frames in out/, video in out/demo.mp4"
