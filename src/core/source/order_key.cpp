#include "common/float_ops.h"
#include "common/hash.h"
#include "source/cloud.h"
#include "source/grouping.h"

#include <cmath>
#include <cstdint>

namespace pointillo {
namespace {

// Low 32 bits of trunc(pos x 10000), pos being a letter or word position in
// [0, 1]. Out-of-range positions (never produced by the cloud builder) are
// clamped first so the conversion is always defined.
uint32_t group_random_index(float pos) {
    const float scaled = clamp01(pos) * 10000.0f;
    return static_cast<uint32_t>(static_cast<int64_t>(scaled));
}

} // namespace

float order_key(const Dot& dot, const DotSettings& settings) {
    // Center Out motion always leaves from the middle outwards.
    if (settings.motion_style == MotionStyle::kCenterOut) {
        return clamp01(dot.radial);
    }

    float base = 0.0f;
    switch (settings.transition_by) {
    case TransitionBy::kEntireLayer:
        return 0.0f;
    case TransitionBy::kLetters:
        base = dot.letter_pos;
        break;
    case TransitionBy::kWords:
        base = dot.word_pos;
        break;
    case TransitionBy::kIndividualDots:
        base = dot.x_norm;
        break;
    }

    float key = base;
    switch (settings.order) {
    case Order::kLeftToRight:
        break;
    case Order::kRightToLeft:
        key = 1.0f - base;
        break;
    case Order::kTopToBottom:
        key = dot.y_norm;
        break;
    case Order::kBottomToTop:
        key = 1.0f - dot.y_norm;
        break;
    case Order::kCenterOut:
        key = std::fabs(base - 0.5f) * 2.0f;
        break;
    case Order::kRandom: {
        // Whole letters (or words) share one key so they leave as units.
        uint32_t index = dot.random;
        if (settings.transition_by == TransitionBy::kWords) {
            index = group_random_index(dot.word_pos);
        } else if (settings.transition_by == TransitionBy::kLetters) {
            index = group_random_index(dot.letter_pos);
        }
        key = rand01(index + static_cast<uint32_t>(settings.random_seed) + 0x81AF1549u);
        break;
    }
    }
    // Positions may exceed 1 by up to a pixel's worth on thin sources; keys
    // outside [0, 1] would move dots during a hold.
    return clamp01(key);
}

} // namespace pointillo
