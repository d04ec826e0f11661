#!/usr/bin/env bash
# The frei0r plug-ins in their real hosts, headless: ffmpeg's frei0r filter
# runs `pointillo` over a still image (Progress keyframed with sendcmd) and
# over a generated clip; melt runs `pointillo_transition` between two still
# images, timed by its duration and by its position keyed over the
# transition (two lengths, reversed once), and between two generated clips,
# with particles on; GStreamer, melt and ffmpeg run the filter over a still
# with "Spacing" and "Progress" set. For the still inputs every frame must
# equal `pointillo render` of the equivalent scene, pixel for pixel. Every
# value is given in the effect's units and turned into the plug-ins' doubles
# by `pointillo frei0r-values`. Frame sizes are multiples of 8: ffmpeg 5.1's
# frei0r filter hands other widths over with padded rows, which frei0r does
# not allow.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${POINTILLO_BUILD:-build/release}")
export FREI0R_PATH="$build/frei0r"
for tool in ffmpeg melt gst-launch-1.0 gst-inspect-1.0; do
    command -v "$tool" >/dev/null || { echo "test-frei0r-hosts: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "test-frei0r-hosts: $*" >&2; exit 1; }
values() { "$build/pointillo" frei0r-values "$@"; }
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
commands=""
for n in 1 2 3 4; do
    commands+="$(awk "BEGIN { print $n / 8 }") frei0r filter_params "
    commands+="$(values filter --format ffmpeg "Progress=$(awk "BEGIN { print $n / 4 }")" Distribution=2 Spacing=5);"
done
ffmpeg -v error -loop 1 -framerate 8 -i a.png -frames:v 5 \
    -vf "sendcmd=c='$commands',frei0r=filter_name=pointillo:filter_params=$(values filter --format ffmpeg Progress=0 Distribution=2 Spacing=5)" \
    -pix_fmt rgba ffmpeg_still/f%03d.png
same_frames filter_want ffmpeg_still 1 5
moving ffmpeg_still

mkdir ffmpeg_clip
ffmpeg -v error -i clip1.mkv -vf "format=rgba,frei0r=filter_name=pointillo:filter_params=$(values filter --format ffmpeg Progress=0.4 Distribution=2 Spacing=4)" \
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
mapfile -t particles < <(values transition "Enable Additional Particles=true" \
    "Emission Rate (per second)=600" "Motion Style=2")
transition=(-transition frei0r.pointillo_transition in=0 out=39 a_track=0 b_track=1
    "$(values transition Duration=1.2)" "${particles[@]}")
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
# The transition driven by its position, keyed over the transition from 0 at
# `in` to 1 at `out` whatever its length, as Kdenlive's description keys it;
# against "Sequence Position" keyed from 1 to 2 over the same span. One and
# two seconds keep the renderer's key times exact.
for frames in 25 50; do
    reverse=$((frames == 50))
    sources='[{"image": "a.png"}, {"image": "b.png"}]'
    ((reverse)) && sources='[{"image": "b.png"}, {"image": "a.png"}]'
    cat > "position$frames.json" <<JSON
{"comp": {"width": 96, "height": 64, "fps": 25, "duration": $(awk "BEGIN { print ($frames + 1) / 25 }")},
 "sources": $sources,
 "params": {"Automatic": false, "Sequence Position": [[0, 1], [$((frames / 25)), 2]],
            "Enable Additional Particles": true, "Emission Rate (per second)": 600, "Motion Style": 2}}
JSON
    "$build/pointillo" render "position$frames.json" -o "position${frames}_want" --jobs 2 >/dev/null
    mkdir "melt_position$frames"
    melt -quiet -profile profile.txt -track a.png out=$frames -track b.png out=$frames \
        -transition frei0r.pointillo_transition in=0 out=$frames a_track=0 b_track=1 \
        Automatic=0 "Position=0=0;-1=1" "Reverse=$reverse" "${particles[@]}" \
        -consumer avformat:"melt_position$frames/f%03d.png" vcodec=png pix_fmt=rgba
    same_frames "position${frames}_want" "melt_position$frames" 1 $((frames + 1))
    moving "melt_position$frames"
done

# ---- GStreamer, melt and ffmpeg: the filter over a still, "Spacing" 12 and
# "Progress" 0.5, every other parameter at its default.
gst-inspect-1.0 frei0r-filter-pointillo >gst_filter.txt || fail "GStreamer has no frei0r-filter-pointillo"
gst-inspect-1.0 frei0r-mixer-pointillo-transition >gst_transition.txt ||
    fail "GStreamer has no frei0r-mixer-pointillo-transition"
# Every double's default lies in its range, 0 to 1.
for element in gst_filter gst_transition; do
    # "Double. Range: 0 - 1 Default: 0.14"
    awk '/Double. Range/ { if ($7 < $3 || $7 > $5) { print; bad = 1 } } END { exit bad }' \
        "$element.txt" || fail "$element: a default outside its range"
    doubles=$(grep -c "Double. Range: *0 - *1 Default" "$element.txt")
    ((doubles >= 25)) || fail "$element: $doubles doubles in 0 to 1"
done
cat > still.json <<'JSON'
{"comp": {"width": 96, "height": 64, "fps": 25, "duration": 0.04},
 "sources": [{"image": "a.png"}, {"image": "a.png"}],
 "params": {"Automatic": false, "Sequence Position": 1.5, "Spacing": 12}}
JSON
"$build/pointillo" render still.json -o still_want --jobs 2 >/dev/null
mapfile -t gst_values < <(values filter --format gst Progress=0.5 Spacing=12)
mkdir gst_still melt_still_filter ffmpeg_still_filter
gst-launch-1.0 -q filesrc location=a.png ! pngdec ! imagefreeze num-buffers=1 ! videoconvert ! \
    video/x-raw,format=RGBA ! frei0r-filter-pointillo "${gst_values[@]}" ! pngenc ! \
    filesink location=gst_still/f000.png || fail "gst-launch-1.0 failed"
mapfile -t mlt_values < <(values filter Progress=0.5 Spacing=12)
melt -quiet -profile profile.txt a.png out=0 -filter frei0r.pointillo "${mlt_values[@]}" \
    -consumer avformat:melt_still_filter/f%03d.png vcodec=png pix_fmt=rgba
ffmpeg -v error -i a.png \
    -vf "frei0r=filter_name=pointillo:filter_params=$(values filter --format ffmpeg Progress=0.5 Spacing=12)" \
    -pix_fmt rgba ffmpeg_still_filter/f000.png
same_frames still_want gst_still 0 1
same_frames still_want melt_still_filter 1 1
same_frames still_want ffmpeg_still_filter 0 1
cmp -s <(rgba still_want/frame_00000.png) <(rgba a.png) && fail "the filter left the still as it was"
echo "test-frei0r-hosts: ffmpeg, melt and GStreamer run both plug-ins"
