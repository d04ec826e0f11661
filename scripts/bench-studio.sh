#!/usr/bin/env bash
# The studio's speed in headless chromium beside the native renderer on one
# job: frames a second at 1280 x 720 with and without particles, and the
# time to the first frame.   scripts/bench-studio.sh [FRAMES]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${POINTILLO_BUILD:-build/release}")
bash scripts/build-studio.sh >/dev/null
node web/test/bench.mjs build/studio/site "$build/pointillo" "${1:-150}"
