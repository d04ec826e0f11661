# Sourced by the scripts that compare the frames of two builds. Defines
#   bundle_frames   the frames rendered from each bundle: a hold, the
#                   break-apart, mid-transition, the settle, the next hold and
#                   the second transition
#   export_bundles RENDERER DIR
#                   writes the replay bundles, exported by the Linux renderer
#                   RENDERER, to DIR/<name>/: the demo scene and the demo with
#                   additional particles, at 8, 16 and 32 bits, and the
#                   particles at half resolution
#   compare_bundles WORK NAME_A RENDER_A NAME_B RENDER_B COMPARE
#                   renders every bundle in WORK/bundles with the commands
#                   RENDER_A and RENDER_B (called as `RENDER BUNDLE OUT`) into
#                   WORK/NAME_A/<name> and WORK/NAME_B/<name>, and compares each
#                   pair with `COMPARE --compare A B` (a pointillo-replay);
#                   returns 1 when any frame differs, 2 when a render fails
# Paths are relative to the repository root.

bundle_frames=12,30,36,42,54,66,102

export_bundles() {
    local renderer=$1 dir=$2 depth
    local particles=tests/replay/particles_scene.json
    export_one() { # NAME [SCENE] OPTIONS...
        local name=$1
        shift
        "$renderer" render "$@" --frames 0-102 --export-replay "$dir/$name" >/dev/null
    }
    for depth in 8 16 32; do
        export_one "demo-$depth" --depth "$depth"
        export_one "particles-$depth" "$particles" --depth "$depth"
    done
    export_one "particles-half-16" "$particles" --depth 16 --downsample 2
}

compare_bundles() {
    local work=$1 name_a=$2 render_a=$3 name_b=$4 render_b=$5 compare=$6
    local status=0 bundle name
    for bundle in "$work"/bundles/*/; do
        name=$(basename "$bundle")
        echo "== $name"
        # Called as a condition, so errexit does not reach in here.
        if ! "$render_a" "$bundle" "$work/$name_a/$name"; then
            echo "frame-bundles: the $name_a build could not render $name" >&2
            return 2
        fi
        if ! "$render_b" "$bundle" "$work/$name_b/$name"; then
            echo "frame-bundles: the $name_b build could not render $name" >&2
            return 2
        fi
        "$compare" --compare "$work/$name_a/$name" "$work/$name_b/$name" || status=1
    done
    return "$status"
}
