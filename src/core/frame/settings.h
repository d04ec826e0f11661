#pragma once

#include "common/color.h"

#include <cstdint>

namespace pointillo {

// Percent sliders become fractions by one single-precision product with the
// float 0.01 (not a division by 100): that is the value every reader sees.
constexpr float percent_to_fraction(float percent) {
    return percent * 0.01f;
}

// The popups' choices. Each value is the host's 1-based item number, so a
// popup's value and its enumerator agree; the *_from_popup functions map an
// item number once, where the snapshot is taken, and give any other number
// the meaning every reader has always given it.
enum class Distribution : int32_t { kGrid = 1, kJitteredGrid, kRandomized };
enum class DotShape : int32_t { kCircle = 1, kSquare, kDiamond, kRing };
enum class TransitionBy : int32_t { kEntireLayer = 1, kLetters, kWords, kIndividualDots };
enum class Order : int32_t {
    kLeftToRight = 1,
    kRightToLeft,
    kTopToBottom,
    kBottomToTop,
    kCenterOut,
    kRandom
};
enum class MotionStyle : int32_t { kDrift = 1, kSwirl, kChaos, kPop, kCenterOut };

namespace settings_detail {
template <typename E> constexpr E from_popup(int32_t item, E last, E fallback) {
    return item >= 1 && item <= static_cast<int32_t>(last) ? static_cast<E>(item) : fallback;
}
} // namespace settings_detail

// Other items: the jittered grid with the "Grid Jitter (%)" amount.
constexpr Distribution distribution_from_popup(int32_t item) {
    return settings_detail::from_popup(item, Distribution::kRandomized,
                                       Distribution::kJitteredGrid);
}
// Other items: a circle (its distance measure, and no ring hole).
constexpr DotShape dot_shape_from_popup(int32_t item) {
    return settings_detail::from_popup(item, DotShape::kRing, DotShape::kCircle);
}
// Other items: every dot on its own (staggered, keyed by its position).
constexpr TransitionBy transition_by_from_popup(int32_t item) {
    return settings_detail::from_popup(item, TransitionBy::kIndividualDots,
                                       TransitionBy::kIndividualDots);
}
// Other items: left to right.
constexpr Order order_from_popup(int32_t item) {
    return settings_detail::from_popup(item, Order::kRandom, Order::kLeftToRight);
}
// Other items: Chaos (scatter with noise, no swirl, no jump).
constexpr MotionStyle motion_style_from_popup(int32_t item) {
    return settings_detail::from_popup(item, MotionStyle::kCenterOut, MotionStyle::kChaos);
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
    Distribution distribution = Distribution::kJitteredGrid;
    DotShape dot_shape = DotShape::kCircle;
    TransitionBy transition_by = TransitionBy::kEntireLayer;
    Order order = Order::kLeftToRight;
    MotionStyle motion_style = MotionStyle::kChaos;
    bool form_solid_source = true;
    bool match_source_colors = true;
    Rgb dot_color{1.0f, 1.0f, 1.0f};
    float center_out_fan = percent_to_fraction(65.0f);

    friend bool operator==(const DotSettings&, const DotSettings&) = default;
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

    friend bool operator==(const ParticleSettings&, const ParticleSettings&) = default;
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

    friend bool operator==(const SequenceSettings&, const SequenceSettings&) = default;
};

// Every parameter value at one time.
struct Settings {
    DotSettings dots;
    ParticleSettings particles;
    SequenceSettings sequence;

    friend bool operator==(const Settings&, const Settings&) = default;
};

} // namespace pointillo
