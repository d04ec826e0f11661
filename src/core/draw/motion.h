#pragma once

#include "frame/settings.h"

#include <cstdint>

namespace pointillo {

struct Dot;

// Which solid a dot belongs to: none while it travels; the from side's during
// the break-apart and the to side's while it settles, when it is drawn cut by
// that side's mask.
enum class SolidPhase { kTravelling, kFromSolid, kToSolid };

// One dot pair at one progress of the transition.
struct DotState {
    float x = 0.0f; // centre, canvas pixels
    float y = 0.0f;
    float radius = 0.0f;
    float inner_radius = 0.0f; // ring hole; 0 for filled shapes
    SolidPhase solid_phase = SolidPhase::kTravelling;
    float blend = 0.0f; // eased travel, 0 at the from dot, 1 at the to dot
};

// Pure: the same pair, settings, progress and pair index give the same state.
DotState evaluate_dot(const Dot& from, const Dot& to, const DotSettings& settings, float progress,
                      uint32_t pair);

} // namespace pointillo
