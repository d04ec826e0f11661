// libFuzzer target for the scene reader: any bytes either give a scene whose
// values are all in range, or an InputError. Nothing else may escape, and no
// file is opened (image and font checks come later, in prepare_scene).

#include "cli/base/errors.h"
#include "cli/effect/effect_bridge.h"
#include "cli/scene/scene.h"
#include "cli/scene/scene_reader.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void check_scene(const pointillo::Scene& scene) {
    using namespace pointillo;
    check(scene.comp.width >= 1 && scene.comp.width <= kMaxCompSide);
    check(scene.comp.height >= 1 && scene.comp.height <= kMaxCompSide);
    check(int64_t{scene.comp.width} * scene.comp.height <= 67'108'864);
    check(scene.comp.time_scale >= 1);
    check(scene.comp.frame_count >= 1 && scene.comp.frame_count <= kMaxFrameCount);
    check(scene.downsample >= 1 && scene.downsample <= 8);
    check(scene.sources.size() <= kSourceSlotCount);
    for (const ParamTrack& track : scene.params) {
        check(!track.keys.empty());
        for (size_t i = 0; i < track.keys.size(); ++i) {
            check(std::isfinite(track.keys[i].seconds));
            check(std::isfinite(track.keys[i].value.number));
            check(i == 0 || track.keys[i].seconds > track.keys[i - 1].seconds);
        }
        // Evaluate at the first, a middle and the last frame, and before the start.
        for (const int32_t frame : {0, scene.comp.frame_count / 2, scene.comp.frame_count - 1}) {
            const TrackValue value =
                param_value_at(track, frame_current_time(frame), scene.comp.time_scale);
            check(std::isfinite(value.number));
        }
        check(std::isfinite(param_value_at(track, -1000, scene.comp.time_scale).number));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The list is plain values: the session is set down and unloaded at once.
    static const std::vector<pointillo::EffectParam> params = [] {
        pointillo::EffectSession session;
        return session.parameters();
    }();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        check_scene(pointillo::parse_scene(text, "fuzz.json", "/nonexistent", params));
    } catch (const pointillo::InputError&) {
    }
    return 0;
}
