#!/usr/bin/env bash
# Renders a contact sheet of each example scene for the README: six frames
# at a quarter of the size, three by two, to
# docs/examples/NAME.png. Needs the release build of pointillo and ffmpeg.
set -euo pipefail
cd "$(dirname "$0")/.."

pointillo=${POINTILLO:-build/release/pointillo}
cmake --build --preset release --target pointillo -j "$(nproc)" >/dev/null
mkdir -p docs/examples
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Six moments of each scene: holds and flights (see its timing summary).
declare -A moments=(
    [titles]="0s 1.3s 2.2s 3.2s 3.6s 5s"
    [logo_between_words]="0s 1.4s 2.5s 3.3s 3.6s 5s"
    [sequence_position]="0s 0.9s 2s 4.15s 4.3s 6s"
    [particles]="0s 1.6s 2s 2.4s 2.8s 4.5s"
)

for scene in examples/*.json; do
    name=$(basename "$scene" .json)
    rm -f "$work"/*.png
    k=0
    for time in ${moments[$name]:-0s 1s 2s 3s 4s 5s}; do
        "$pointillo" render "$scene" --downsample 4 --frame "$time" -o "$work/$k.png" >/dev/null
        k=$((k + 1))
    done
    ffmpeg -v error -y -i "$work/%d.png" -vf "tile=3x2:padding=4:margin=4:color=0x303030" \
        -frames:v 1 "docs/examples/$name.png"
    echo "contact-sheets: docs/examples/$name.png"
done
