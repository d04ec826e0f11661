#!/usr/bin/env bash
# Pointillo Studio in Debian's chromium, headless, driven by puppeteer-core:
# the page's controls, its saved scene rendered by `pointillo`, and its
# frames of image sources compared with the renderer's byte for byte; bad
# input and its messages.
#   POINTILLO_BUILD (default build/release) holds the renderer and module.
#   STUDIO_SCREENSHOT=FILE also writes the README's picture of the studio.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${POINTILLO_BUILD:-build/release}")
for tool in node em++ /usr/bin/chromium; do
    command -v "$tool" >/dev/null || { echo "test-studio: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
[[ -x $build/pointillo ]] || { echo "test-studio: no renderer in $build" >&2; exit 1; }
if [[ ! -d web/test/node_modules/puppeteer-core ]]; then
    npm ci --prefix web/test --no-audit --no-fund
fi
bash scripts/build-studio.sh
STUDIO_SITE=build/studio/site POINTILLO="$build/pointillo" CHROMIUM=/usr/bin/chromium \
    node --test --test-reporter=spec web/test/png.test.mjs web/test/studio.test.mjs
