#!/usr/bin/env bash
# The frei0r plug-ins in their real hosts, headless: ffmpeg's frei0r filter
# runs `pointillo` over a still image (Progress keyframed with sendcmd) and
# over a generated clip; melt runs `pointillo_transition` between two still
# images and between two generated clips, with particles on. For the still
# inputs every frame must equal `pointillo render` of the equivalent scene,
# pixel for pixel. Frame sizes are multiples of 8: ffmpeg 5.1's frei0r
# filter hands other widths over with padded rows, which frei0r does not
# allow.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${POINTILLO_BUILD:-build/release}")
export FREI0R_PATH="$build/frei0r"
for tool in ffmpeg melt; do
    command -v "$tool" >/dev/null || { echo "test-frei0r-hosts: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "test-frei0r-hosts: $*" >&2; exit 1; }
rgba() { ffmpeg -v error -i "$1" -f rawvideo -pix_fmt rgba -; }
# same_frames RENDERER_DIR HOST_DIR HOST_FIRST_NUMBER COUNT
same_frames() {
    local n
    for ((n = 0; n < $4; n++)); do
        local want got
        want=$(printf '%s/frame_%05d.png' "$1" "$n")
        got=$(printf '%s/f%03d.png' "$2" $((n + $3)))
        [[ -f $got ]] || fail "$2: frame $n missing"
        cmp -s <(rgba "$want") <(rgba "$got") || fail "$2: frame $n differs from the renderer's"
    done
    echo "test-frei0r-hosts: $2: $4 frames equal the renderer's"
}
# moving DIR: the frames are not all one picture.
moving() {
    local distinct
    distinct=$(md5sum "$1"/*.png | awk '{print $1}' | sort -u | wc -l)
    ((distinct >= 3)) || fail "$1: only $distinct distinct frames"
    echo "test-frei0r-hosts: $1: $(ls "$1" | wc -l) frames, $distinct distinct"
}

# Two stills with soft, half and no alpha.
ffmpeg -v error -f lavfi -i "testsrc2=s=96x64:d=1,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='clip(255*(30-hypot(X-48,Y-32))/4,0,255)'" \
    -frames:v 1 a.png
ffmpeg -v error -f lavfi -i "testsrc2=s=96x64:d=1,format=rgba,hue=h=120,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='if(lt(mod(X,24),12),255,90)'" \
    -frames:v 1 b.png
# Two moving clips.
ffmpeg -v error -f lavfi -i "testsrc2=s=96x64:r=25:d=2" -c:v ffv1 clip1.mkv
ffmpeg -v error -f lavfi -i "rgbtestsrc=s=96x64:r=25:d=2,hue=H=2*PI*t" -c:v ffv1 clip2.mkv

# ---- ffmpeg: the filter; its time is in milliseconds ("Time in Milliseconds" y)
# Progress 0, 0.25, 0.5, 0.75, 1 at 8 fps, set by sendcmd, against "Sequence
# Position" keyed from 1 to 2 over half a second.
cat > filter.json <<'JSON'
{"comp": {"width": 96, "height": 64, "fps": 8, "duration": 0.625},
 "sources": [{"image": "a.png"}, {"image": "a.png"}],
 "params": {"Automatic": false, "Sequence Position": [[0, 1], [0.5, 2]], "Spacing": 5}}
JSON
"$build/pointillo" render filter.json -o filter_want --jobs 2 >/dev/null
mkdir ffmpeg_still
commands="0.125 frei0r filter_params 0.25|y|2|5;0.25 frei0r filter_params 0.5|y|2|5;"
commands+="0.375 frei0r filter_params 0.75|y|2|5;0.5 frei0r filter_params 1|y|2|5"
ffmpeg -v error -loop 1 -framerate 8 -i a.png -frames:v 5 \
    -vf "sendcmd=c='$commands',frei0r=filter_name=pointillo:filter_params=0|y|2|5" \
    -pix_fmt rgba ffmpeg_still/f%03d.png
same_frames filter_want ffmpeg_still 1 5
moving ffmpeg_still

mkdir ffmpeg_clip
ffmpeg -v error -i clip1.mkv -vf "format=rgba,frei0r=filter_name=pointillo:filter_params=0.4|y|2|4" \
    -pix_fmt rgba ffmpeg_clip/f%03d.png
[[ $(ls ffmpeg_clip | wc -l) -eq 50 ]] || fail "ffmpeg_clip: $(ls ffmpeg_clip | wc -l) frames, not 50"
moving ffmpeg_clip

# ---- melt: the transition; MLT's time is seconds from the transition's start
cat > profile.txt <<'PROFILE'
description=96x64 at 25 fps
frame_rate_num=25
frame_rate_den=1
width=96
height=64
progressive=1
sample_aspect_num=1
sample_aspect_den=1
display_aspect_num=3
display_aspect_den=2
colorspace=709
PROFILE
cat > transition.json <<'JSON'
{"comp": {"width": 96, "height": 64, "fps": 25, "duration": 1.6},
 "sources": [{"image": "a.png"}, {"image": "b.png"}],
 "params": {"Hold (seconds)": 0, "Transition (seconds)": 1.2, "Enable Additional Particles": true,
            "Emission Rate (per second)": 600, "Motion Style": 2}}
JSON
"$build/pointillo" render transition.json -o transition_want --jobs 2 >/dev/null
# Input 1 is track 0, the clip being left; input 2 is track 1.
transition=(-transition frei0r.pointillo_transition in=0 out=39 a_track=0 b_track=1
    "Duration (seconds)=1.2" "Enable Additional Particles=1" "Emission Rate (per second)=600"
    "Motion Style=2")
mkdir melt_still
melt -quiet -profile profile.txt -track a.png out=39 -track b.png out=39 "${transition[@]}" \
    -consumer avformat:melt_still/f%03d.png vcodec=png pix_fmt=rgba
same_frames transition_want melt_still 1 40
moving melt_still

mkdir melt_clip
melt -quiet -profile profile.txt -track clip1.mkv out=39 -track clip2.mkv out=39 "${transition[@]}" \
    -consumer avformat:melt_clip/f%03d.png vcodec=png pix_fmt=rgba
[[ $(ls melt_clip | wc -l) -eq 40 ]] || fail "melt_clip: $(ls melt_clip | wc -l) frames, not 40"
moving melt_clip
echo "test-frei0r-hosts: ffmpeg and melt run both plug-ins"
