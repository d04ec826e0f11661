#!/usr/bin/env bash
# Pointillo Studio on this machine: builds the page if needed and serves it
# on 127.0.0.1 only, opening SCENE.json when one is given.
#   scripts/studio.sh [--port N] [SCENE.json]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [[ ! -f "$root/build/studio/site/pointillo-studio.wasm" ]]; then
    bash "$root/scripts/build-studio.sh"
fi
exec node "$root/web/serve.mjs" "$root/build/studio/site" "$@"
