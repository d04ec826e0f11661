#!/usr/bin/env bash
# Makes docs/examples/ofx_transition.png: pointillo-ofx-host runs the OpenFX
# transition from one word to another (particles on) in the transition
# context, and six of its 31 frames, a fifth of a second apart, are tiled over
# a dark background.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${POINTILLO_BUILD:-build/release}")
out=$(realpath -m "${1:-docs/examples/ofx_transition.png}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

word() {
    ffmpeg -v error -f lavfi -i "color=c=black@0:s=320x176,format=rgba" -frames:v 1 \
        -vf "drawtext=text=$1:fontsize=68:fontcolor=$2:x=(w-tw)/2:y=(h-th)/2:fontfile=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf" \
        "$1.png"
}
word DOTS '#ffd27a'
word MORPH '#7ad2ff'
"$build/pointillo-ofx-host" "$build/Pointillo.ofx.bundle" --plugin org.pointillo.Transition \
    --context transition --input DOTS.png --input MORPH.png --fps 25 --frames 31 \
    --param "Spacing=4" --param "Dot Size=3.5" --param "Motion Style=2" \
    --param "Enable Additional Particles=1" --param "Emission Rate (per second)=400" \
    --threads 2 -o frames
mkdir -p "$(dirname "$out")"
ffmpeg -v error -f lavfi -i "color=c=0x101820:s=320x176:r=25" -framerate 25 -i frames/frame_%05d.png \
    -filter_complex "[1]select='not(mod(n,6))',setpts=N/(25*TB)[s];[0][s]overlay=shortest=1,tile=3x2:padding=4:color=0x101820" \
    -frames:v 1 -y "$out"
echo "ofx-contact-sheet: $out"
