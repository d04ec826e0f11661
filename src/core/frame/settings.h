#pragma once

#include "common/color.h"

#include <cstdint>

namespace pointillo {

// Percent sliders become fractions by one single-precision product with the
// float 0.01 (not a division by 100): that is the value every reader sees.
constexpr float percent_to_fraction(float percent) {
    return percent * 0.01f;
}

// Popup item numbers, 1-based as the host delivers them. Values outside these
// lists reach the core unchanged; each reader says what it does with them.
namespace distribution {
constexpr int32_t kGrid = 1, kJitteredGrid = 2, kRandomized = 3;
}
namespace dot_shape {
constexpr int32_t kCircle = 1, kSquare = 2, kDiamond = 3, kRing = 4;
}
namespace transition_by {
constexpr int32_t kEntireLayer = 1, kLetters = 2, kWords = 3, kIndividualDots = 4;
}
namespace order {
constexpr int32_t kLeftToRight = 1, kRightToLeft = 2, kTopToBottom = 3, kBottomToTop = 4,
                  kCenterOut = 5, kRandom = 6;
}
namespace motion_style {
constexpr int32_t kDrift = 1, kSwirl = 2, kChaos = 3, kPop = 4, kCenterOut = 5;
}

// Pixel-sized fields are in full-resolution layer pixels; smart render scales
// a copy by the render scale before the core sees it.
struct DotSettings {
    float spacing = 8.0f;
    float dot_size = 7.0f;
    float size_randomness = percent_to_fraction(10.0f);
    float grid_jitter = percent_to_fraction(65.0f);
    float scatter = 180.0f;
    float chaos_amount = 60.0f;
    float chaos_frequency = 2.0f;
    float stagger = percent_to_fraction(35.0f);
    float source_overlap = 1.8f;
    float edge_softness = 0.4f;
    float ring_thickness = percent_to_fraction(30.0f);
    float break_apart_settle = percent_to_fraction(18.0f);
    float swirl_turns = 0.4f;
    int32_t random_seed = 42;
    int32_t distribution = distribution::kJitteredGrid;
    int32_t dot_shape = dot_shape::kCircle;
    int32_t transition_by = transition_by::kEntireLayer;
    int32_t order = order::kLeftToRight;
    int32_t motion_style = motion_style::kChaos;
    bool form_solid_source = true;
    bool match_source_colors = true;
    Rgb dot_color{1.0f, 1.0f, 1.0f};
    float center_out_fan = percent_to_fraction(65.0f);
};

struct ParticleSettings {
    bool enabled = false;
    bool match_main_color = true;
    float emission_rate = 160.0f; // particles per second
    float inherit_velocity = percent_to_fraction(70.0f);
    float extra_spread = 70.0f;    // pixels per second
    float velocity_falloff = 1.8f; // drag, per second
    float gravity = 0.0f;          // pixels per second squared, down
    float life = 0.7f;             // seconds
    float life_randomness = percent_to_fraction(20.0f);
    float size = 3.0f; // diameter, pixels
    float size_randomness = percent_to_fraction(35.0f);
    float end_scale = percent_to_fraction(0.0f);
    float opacity = percent_to_fraction(70.0f);
    float fade_over_life = percent_to_fraction(60.0f);
    Rgb color{1.0f, 1.0f, 1.0f};
};

// The sequence values keep float precision (the slider's float, widened), so
// timing agrees with what the controls show.
struct SequenceSettings {
    bool automatic = true;
    bool loop = false;
    double position = 1.0;
    double start = 0.0;                            // seconds
    double hold = static_cast<double>(0.8f);       // seconds
    double transition = static_cast<double>(1.2f); // seconds
};

// Every parameter value at one time.
struct Settings {
    DotSettings dots;
    ParticleSettings particles;
    SequenceSettings sequence;
};

} // namespace pointillo
