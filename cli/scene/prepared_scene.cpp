#include "cli/scene/prepared_scene.h"

#include "common/host_time.h"
#include "common/keyframes.h"

#include <algorithm>
#include <span>

namespace pointillo {

TrackValue param_value_at(const ParamTrack& track, int32_t current_time, int32_t time_scale) {
    if (track.keys.empty()) {
        return {};
    }
    return value_at(std::span<const TrackKey>(track.keys), host_seconds(current_time, time_scale),
                    track.kind == ParamKind::Slider ? Tween::kLinear : Tween::kHold);
}

const ParamTrack* find_track(const SceneSetup& setup, int32_t index) {
    const auto it = std::lower_bound(
        setup.params.begin(), setup.params.end(), index,
        [](const ParamTrack& track, int32_t wanted) { return track.index < wanted; });
    return it != setup.params.end() && it->index == index ? &*it : nullptr;
}

} // namespace pointillo
