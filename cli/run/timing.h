#pragma once

// When the scene shows each source, worked out as the effect does it, for
// the renderer's timing summary and its warnings about sources the comp never
// reaches.

#include "cli/effect/effect_bridge.h"
#include "cli/scene/prepared_scene.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pointillo {

// A run of frames in which the sequence holds one source, or turns one into
// the next. Sources are named by their slot number (1 to 16).
struct TimingSegment {
    bool transition = false;
    int32_t from_slot = 0; // the source shown or left
    int32_t to_slot = 0;   // the source turned into (transitions)
    int32_t first_frame = 0;
    int32_t last_frame = 0;
    float last_progress = 0.0f; // the transition's progress at its last frame
};

// The scene's segments over its frames. Each frame's sequence state comes
// from the effect's own sequence timing with the scene's values of
// "Automatic", "Loop", "Start (seconds)", "Hold (seconds)", "Transition
// (seconds)" and "Sequence Position" at that frame (keyframes included) and
// the number of filled source slots.
std::vector<TimingSegment> timing_segments(const SceneSetup& scene,
                                           std::span<const EffectParam> params);

// "Source 1 0-0.8 s, into Source 2 0.8-2 s, Source 2 from 2 s; the last
// transition ends at 2 s".
std::string timing_summary(const SceneSetup& scene, const std::vector<TimingSegment>& segments);

// One warning for each filled source the comp's frames never show (neither
// held nor turned into), saying when it would come and what to change.
std::vector<std::string> unreached_source_warnings(const SceneSetup& scene,
                                                   std::span<const EffectParam> params,
                                                   const std::vector<TimingSegment>& segments,
                                                   const std::string& file);

} // namespace pointillo
