#!/usr/bin/env bash
# Makes docs/examples/frei0r_transition.png: melt runs pointillo_transition
# from one word to another (particles on), and six of its frames, a fifth of
# a second apart, are tiled over a dark background.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${POINTILLO_BUILD:-build/release}")
out=$(realpath -m "${1:-docs/examples/frei0r_transition.png}")
export FREI0R_PATH="$build/frei0r"
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
cat > profile.txt <<'PROFILE'
description=320x176 at 25 fps
frame_rate_num=25
frame_rate_den=1
width=320
height=176
progressive=1
sample_aspect_num=1
sample_aspect_den=1
display_aspect_num=20
display_aspect_den=11
colorspace=709
PROFILE
mkdir frames
# The values in the effect's units, as the plug-in's doubles.
mapfile -t values < <("$build/pointillo" frei0r-values transition Duration=1.2 Spacing=4 \
    "Dot Size=3.5" "Motion Style=2" "Enable Additional Particles=true" \
    "Emission Rate (per second)=400")
melt -quiet -profile profile.txt -track DOTS.png out=29 -track MORPH.png out=29 \
    -transition frei0r.pointillo_transition in=0 out=29 a_track=0 b_track=1 \
    "${values[@]}" \
    -consumer avformat:frames/f%03d.png vcodec=png pix_fmt=rgba
mkdir -p "$(dirname "$out")"
ffmpeg -v error -f lavfi -i "color=c=0x101820:s=320x176:r=25" -framerate 25 -i frames/f%03d.png \
    -filter_complex "[1]select='not(mod(n,5))',setpts=N/(25*TB)[s];[0][s]overlay=shortest=1,tile=3x2:padding=4:color=0x101820" \
    -frames:v 1 -y "$out"
echo "frei0r-contact-sheet: $out"
