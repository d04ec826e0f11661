#include "common/hash.h"
#include "draw/motion.h"
#include "draw_fixtures.h"
#include "source/cloud.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

namespace pointillo {
namespace {

bool same_state(const DotState& a, const DotState& b) {
    return std::memcmp(&a, &b, sizeof(DotState)) == 0;
}

// Two dots far apart, with offsets from their box centres, keys for every
// order, so any motion style has something to do.
Dot from_dot() {
    Dot dot = test::dot_at(40.0f, 60.0f);
    dot.dx = -30.0f;
    dot.dy = 12.0f;
    dot.x_norm = 0.2f;
    dot.y_norm = 0.7f;
    dot.letter_pos = 0.25f;
    dot.word_pos = 0.5f;
    dot.radial = 0.4f;
    dot.random = 12345u;
    return dot;
}

Dot to_dot() {
    Dot dot = test::dot_at(300.0f, 20.0f);
    dot.dx = 25.0f;
    dot.dy = -8.0f;
    dot.x_norm = 0.9f;
    dot.y_norm = 0.1f;
    dot.letter_pos = 1.0f;
    dot.word_pos = 1.0f;
    dot.radial = 0.8f;
    dot.random = 777u;
    return dot;
}

const MotionStyle kStyles[] = {MotionStyle::kDrift, MotionStyle::kSwirl, MotionStyle::kChaos,
                               MotionStyle::kPop, MotionStyle::kCenterOut};

TEST(Motion, EndsSitOnFromAndToForEveryStyle) {
    const Dot s = from_dot();
    const Dot t = to_dot();
    for (const MotionStyle style : kStyles) {
        for (const TransitionBy by : {TransitionBy::kEntireLayer, TransitionBy::kLetters}) {
            DotSettings settings;
            settings.form_solid_source = false;
            settings.motion_style = style;
            settings.transition_by = by;
            for (uint32_t pair = 0; pair < 50; ++pair) {
                const DotState start = evaluate_dot(s, t, settings, 0.0f, pair);
                EXPECT_EQ(start.x, s.x) << "style " << style << " by " << by << " pair " << pair;
                EXPECT_EQ(start.y, s.y) << "style " << style << " by " << by << " pair " << pair;
                EXPECT_EQ(start.blend, 0.0f);
                EXPECT_EQ(start.solid_phase, SolidPhase::kTravelling);
                const DotState end = evaluate_dot(s, t, settings, 1.0f, pair);
                EXPECT_NEAR(end.x, t.x, 1e-3f) << "style " << style << " pair " << pair;
                EXPECT_NEAR(end.y, t.y, 1e-3f) << "style " << style << " pair " << pair;
                EXPECT_EQ(end.blend, 1.0f);
                // Progress outside [0, 1] clamps.
                EXPECT_TRUE(same_state(evaluate_dot(s, t, settings, -0.5f, pair), start));
                EXPECT_TRUE(same_state(evaluate_dot(s, t, settings, 1.5f, pair), end));
            }
        }
    }
}

TEST(Motion, RadiusHasSizeRandomnessAndAFloor) {
    DotSettings settings = test::straight_settings();
    settings.dot_size = 10.0f;
    settings.size_randomness = 0.2f;
    float smallest = 1e9f;
    float largest = 0.0f;
    for (uint32_t pair = 0; pair < 2000; ++pair) {
        const float r = evaluate_dot(from_dot(), to_dot(), settings, 0.3f, pair).radius;
        smallest = std::min(smallest, r);
        largest = std::max(largest, r);
    }
    EXPECT_GE(smallest, 4.0f);
    EXPECT_LT(smallest, 4.05f);
    EXPECT_LE(largest, 6.0f);
    EXPECT_GT(largest, 5.95f);

    // Above 95 % acts as 95 %; no dot is smaller than 0.25.
    DotSettings wild = settings;
    wild.size_randomness = 3.0f;
    DotSettings capped = settings;
    capped.size_randomness = 0.95f;
    wild.dot_size = capped.dot_size = 0.6f;
    bool floor_seen = false;
    for (uint32_t pair = 0; pair < 2000; ++pair) {
        const DotState a = evaluate_dot(from_dot(), to_dot(), wild, 0.3f, pair);
        EXPECT_TRUE(same_state(a, evaluate_dot(from_dot(), to_dot(), capped, 0.3f, pair)));
        EXPECT_GE(a.radius, 0.25f);
        floor_seen = floor_seen || a.radius == 0.25f;
    }
    EXPECT_TRUE(floor_seen);
}

TEST(Motion, StaggerOnlyWithGroupsOrCenterOut) {
    const Dot s = from_dot();
    const Dot t = to_dot();
    struct Row {
        MotionStyle style;
        TransitionBy by;
        bool staggered;
    };
    const Row rows[] = {
        {MotionStyle::kDrift, TransitionBy::kEntireLayer, false},
        {MotionStyle::kChaos, TransitionBy::kEntireLayer, false},
        {MotionStyle::kCenterOut, TransitionBy::kEntireLayer, true},
        {MotionStyle::kDrift, TransitionBy::kLetters, true},
        {MotionStyle::kPop, TransitionBy::kWords, true},
        {MotionStyle::kSwirl, TransitionBy::kIndividualDots, true},
    };
    for (const Row& row : rows) {
        DotSettings none;
        none.form_solid_source = false;
        none.motion_style = row.style;
        none.transition_by = row.by;
        none.stagger = 0.0f;
        DotSettings some = none;
        some.stagger = 0.6f;
        const bool differs =
            !same_state(evaluate_dot(s, t, none, 0.4f, 3), evaluate_dot(s, t, some, 0.4f, 3));
        EXPECT_EQ(differs, row.staggered) << "style " << row.style << " by " << row.by;
    }
}

// Stagger 85 % with keys ks = 1 and kt = 0: the dot leaves at 0.425 and its
// travel lasts the minimum 0.15 of the transition.
TEST(Motion, StrongestStaggerKeepsFifteenPercentOfTravel) {
    Dot s = from_dot();
    Dot t = to_dot();
    s.x_norm = 1.0f;
    t.x_norm = 0.0f;
    DotSettings settings;
    settings.form_solid_source = false;
    settings.transition_by = TransitionBy::kIndividualDots;
    settings.order = Order::kLeftToRight;
    settings.stagger = 0.85f;
    DotSettings over = settings;
    over.stagger = 2.0f; // acts as 85 %
    DotSettings whole = settings;
    whole.transition_by = TransitionBy::kEntireLayer;
    for (uint32_t pair = 0; pair < 20; ++pair) {
        EXPECT_EQ(evaluate_dot(s, t, settings, 0.42f, pair).x, s.x);
        EXPECT_EQ(evaluate_dot(s, t, settings, 0.425f, pair).y, s.y);
        const DotState mid = evaluate_dot(s, t, settings, 0.5f, pair);
        const DotState half = evaluate_dot(s, t, whole, 0.5f, pair);
        EXPECT_NEAR(mid.x, half.x, 0.05f) << pair;
        EXPECT_NEAR(mid.y, half.y, 0.05f) << pair;
        EXPECT_NEAR(evaluate_dot(s, t, settings, 0.575f, pair).x, t.x, 1e-3f);
        EXPECT_EQ(evaluate_dot(s, t, settings, 0.6f, pair).blend, 1.0f);
        EXPECT_TRUE(same_state(evaluate_dot(s, t, over, 0.5f, pair), mid));
    }
}

TEST(Motion, BreakApartTravelAndSettlePhases) {
    const Dot s = from_dot();
    const Dot t = to_dot();
    DotSettings settings;
    settings.break_apart_settle = 0.18f;
    settings.spacing = 8.0f;
    settings.source_overlap = 1.8f;
    const float solid = 1.8f * 8.0f;
    for (uint32_t pair = 0; pair < 50; ++pair) {
        DotSettings plain = settings;
        plain.form_solid_source = false;
        const float r = evaluate_dot(s, t, plain, 0.5f, pair).radius;

        const DotState at0 = evaluate_dot(s, t, settings, 0.0f, pair);
        EXPECT_EQ(at0.radius, solid);
        EXPECT_EQ(at0.solid_phase, SolidPhase::kFromSolid);

        const DotState early = evaluate_dot(s, t, settings, 0.1f, pair);
        EXPECT_EQ(early.x, s.x);
        EXPECT_EQ(early.y, s.y);
        EXPECT_EQ(early.solid_phase, SolidPhase::kFromSolid);
        EXPECT_EQ(early.blend, 0.0f);
        EXPECT_LT(early.radius, solid);
        EXPECT_GT(early.radius, r);

        const DotState middle = evaluate_dot(s, t, settings, 0.5f, pair);
        EXPECT_EQ(middle.solid_phase, SolidPhase::kTravelling);
        EXPECT_GT(middle.blend, 0.0f);
        EXPECT_LT(middle.blend, 1.0f);

        const DotState late = evaluate_dot(s, t, settings, 0.9f, pair);
        EXPECT_EQ(late.x, t.x);
        EXPECT_EQ(late.y, t.y);
        EXPECT_EQ(late.solid_phase, SolidPhase::kToSolid);
        EXPECT_EQ(late.blend, 1.0f);
        EXPECT_GT(late.radius, r);
        EXPECT_EQ(evaluate_dot(s, t, settings, 1.0f, pair).radius, solid);
    }
    // 50 % acts as 40 %: progress 0.39 still breaks apart.
    DotSettings wide = settings;
    wide.break_apart_settle = 0.5f;
    EXPECT_EQ(evaluate_dot(s, t, wide, 0.39f, 0).solid_phase, SolidPhase::kFromSolid);
    EXPECT_EQ(evaluate_dot(s, t, wide, 0.41f, 0).solid_phase, SolidPhase::kTravelling);
    // And the solid radius never drops below the dot's own radius.
    DotSettings big = settings;
    big.dot_size = 60.0f;
    big.size_randomness = 0.0f;
    EXPECT_EQ(evaluate_dot(s, t, big, 0.0f, 0).radius, 30.0f);
}

TEST(Motion, RingHoleOpensDuringBreakApart) {
    const Dot s = from_dot();
    const Dot t = to_dot();
    DotSettings settings;
    settings.dot_shape = DotShape::kRing;
    settings.ring_thickness = 0.3f;
    EXPECT_EQ(evaluate_dot(s, t, settings, 0.0f, 1).inner_radius, 0.0f);
    const DotState opening = evaluate_dot(s, t, settings, 0.1f, 1);
    EXPECT_GT(opening.inner_radius, 0.0f);
    const DotState travel = evaluate_dot(s, t, settings, 0.5f, 1);
    EXPECT_FLOAT_EQ(travel.inner_radius, travel.radius * 0.7f);
    // The travelling band keeps at least 2 % of the radius.
    settings.ring_thickness = 0.0f;
    EXPECT_FLOAT_EQ(evaluate_dot(s, t, settings, 0.5f, 1).inner_radius,
                    evaluate_dot(s, t, settings, 0.5f, 1).radius * 0.98f);
    settings.dot_shape = DotShape::kCircle;
    EXPECT_EQ(evaluate_dot(s, t, settings, 0.5f, 1).inner_radius, 0.0f);
    EXPECT_EQ(evaluate_dot(s, t, settings, 0.1f, 1).inner_radius, 0.0f);
}

// Drift at mid travel, checked against the definition written out with its
// random channels: angle k = 4, magnitude k = 5, size k = 3. The largest
// "Random Seed" is used, whose x 65537 overflows an int (UBSan watches).
TEST(Motion, DriftFollowsItsRandomChannels) {
    Dot s = test::dot_at(100.0f, 100.0f);
    Dot t = test::dot_at(100.0f, 100.0f);
    DotSettings settings;
    settings.form_solid_source = false;
    settings.motion_style = MotionStyle::kDrift;
    settings.random_seed = 1'000'000;
    settings.scatter = 50.0f;
    for (uint32_t pair = 0; pair < 200; ++pair) {
        const uint32_t b = hash32(pair + 1'000'000u * 65537u);
        const double angle = 2.0 * 3.14159265358979 * static_cast<double>(rand01(b + 0x78DDE6E4u));
        const double m = std::sqrt(static_cast<double>(rand01(b + 0x1715609Du)));
        const DotState state = evaluate_dot(s, t, settings, 0.5f, pair);
        EXPECT_NEAR(state.x, 100.0 + m * 50.0 * std::cos(angle), 1e-3) << pair;
        EXPECT_NEAR(state.y, 100.0 + m * 50.0 * std::sin(angle), 1e-3) << pair;
        const double r =
            (0.1 * (2.0 * static_cast<double>(rand01(b + 0xDAA66D2Bu)) - 1.0) + 1.0) * 3.5;
        EXPECT_NEAR(state.radius, r, 1e-5) << pair;
    }
}

TEST(Motion, ChaosNoiseIsOffForDriftOnly) {
    Dot s = test::dot_at(50.0f, 50.0f);
    DotSettings settings = test::straight_settings();
    settings.chaos_amount = 40.0f;
    // Scatter 0: only the noise can move a dot that starts and ends in place.
    const DotState drift = evaluate_dot(s, s, settings, 0.5f, 9);
    EXPECT_EQ(drift.x, 50.0f);
    EXPECT_EQ(drift.y, 50.0f);
    for (const MotionStyle style : {MotionStyle::kSwirl, MotionStyle::kChaos, MotionStyle::kPop}) {
        settings.motion_style = style;
        const DotState moved = evaluate_dot(s, s, settings, 0.5f, 9);
        EXPECT_GT(std::hypot(moved.x - 50.0f, moved.y - 50.0f), 0.5f) << "style " << style;
        EXPECT_LE(std::fabs(moved.x - 50.0f), 40.0f * 1.0001f) << "style " << style;
    }
}

TEST(Motion, SwirlTurnsTheScatterDirection) {
    Dot s = test::dot_at(0.0f, 0.0f);
    DotSettings settings = test::straight_settings();
    settings.motion_style = MotionStyle::kSwirl;
    settings.scatter = 100.0f;
    settings.swirl_turns = 0.25f; // a quarter turn at w = 1, an eighth at w = 0.5
    DotSettings drift = settings;
    drift.motion_style = MotionStyle::kDrift;
    for (uint32_t pair = 0; pair < 100; ++pair) {
        const DotState swirl = evaluate_dot(s, s, settings, 0.5f, pair);
        const DotState plain = evaluate_dot(s, s, drift, 0.5f, pair);
        // Same distance, direction turned by 2 pi x 0.25 x 0.5.
        EXPECT_NEAR(std::hypot(swirl.x, swirl.y), std::hypot(plain.x, plain.y), 1e-3f);
        const double turn = std::remainder(
            std::atan2(swirl.y, swirl.x) - std::atan2(plain.y, plain.x), 2.0 * 3.14159265358979);
        if (std::hypot(plain.x, plain.y) > 1.0f) {
            EXPECT_NEAR(turn, 3.14159265358979 / 4.0, 1e-3) << pair;
        }
    }
}

// Pop keeps 15 % of the horizontal scatter, lifts by 0.6 x scatter and at mid
// travel (sin(1.5 pi) = -1, bump 1) shrinks to 0.65 of the radius.
TEST(Motion, PopLiftsAndPulses) {
    Dot s = test::dot_at(200.0f, 200.0f);
    DotSettings pop = test::straight_settings();
    pop.motion_style = MotionStyle::kPop;
    pop.scatter = 100.0f;
    DotSettings drift = pop;
    drift.motion_style = MotionStyle::kDrift;
    double lift = 0.0;
    const int pairs = 4000;
    for (uint32_t pair = 0; pair < pairs; ++pair) {
        const DotState state = evaluate_dot(s, s, pop, 0.5f, pair);
        const DotState plain = evaluate_dot(s, s, drift, 0.5f, pair);
        EXPECT_LE(std::fabs(state.x - 200.0f), 15.0f + 1e-3f) << pair;
        EXPECT_NEAR(state.x - 200.0f, 0.15f * (plain.x - 200.0f), 1e-3f) << pair;
        EXPECT_NEAR(state.y - 200.0f, plain.y - 200.0f - 60.0f, 1e-3f) << pair;
        EXPECT_NEAR(state.radius, plain.radius * 0.65f, 1e-4f) << pair;
        lift += static_cast<double>(state.y) - 200.0;
    }
    EXPECT_NEAR(lift / pairs, -60.0, 3.0);
}

TEST(Motion, CenterOutPushesAlongTheOffsetWithFan) {
    DotSettings settings = test::straight_settings();
    settings.motion_style = MotionStyle::kCenterOut;
    settings.scatter = 100.0f;
    settings.stagger = 0.0f;
    settings.center_out_fan = 0.65f;
    Dot right = test::dot_at(120.0f, 50.0f);
    right.dx = 20.0f;
    Dot below = test::dot_at(100.0f, 80.0f);
    below.dy = 30.0f;
    for (uint32_t pair = 0; pair < 200; ++pair) {
        const DotState sideways = evaluate_dot(right, right, settings, 0.5f, pair);
        EXPECT_GE(sideways.x - 120.0f, 65.0f - 1e-3f) << pair;
        EXPECT_LE(sideways.x - 120.0f, 100.0f + 1e-3f) << pair;
        EXPECT_EQ(sideways.y, 50.0f) << pair;
        const DotState down = evaluate_dot(below, below, settings, 0.5f, pair);
        EXPECT_GE(down.y - 80.0f, 0.65f * 65.0f - 1e-3f) << pair;
        EXPECT_LE(down.y - 80.0f, 0.65f * 100.0f + 1e-3f) << pair;
        EXPECT_EQ(down.x, 100.0f) << pair;
    }
    // Fan 0: a dot below the centre only moves by the (here absent) noise.
    settings.center_out_fan = 0.0f;
    EXPECT_EQ(evaluate_dot(below, below, settings, 0.5f, 4).y, 80.0f);
    // The fan scales only the vertical push.
    EXPECT_TRUE(same_state(evaluate_dot(right, right, settings, 0.5f, 4),
                           evaluate_dot(
                               right, right,
                               [&] {
                                   DotSettings other = settings;
                                   other.center_out_fan = 0.65f;
                                   return other;
                               }(),
                               0.5f, 4)));
}

TEST(Motion, CenterOutAtTheCentrePicksARandomDirection) {
    DotSettings settings = test::straight_settings();
    settings.motion_style = MotionStyle::kCenterOut;
    settings.scatter = 100.0f;
    settings.center_out_fan = 1.0f;
    settings.stagger = 0.0f;
    const Dot centre = test::dot_at(64.0f, 64.0f); // dx = dy = 0
    int left = 0;
    int up = 0;
    for (uint32_t pair = 0; pair < 400; ++pair) {
        const DotState state = evaluate_dot(centre, centre, settings, 0.5f, pair);
        const float distance = std::hypot(state.x - 64.0f, state.y - 64.0f);
        EXPECT_GE(distance, 65.0f - 1e-3f) << pair;
        EXPECT_LE(distance, 100.0f + 1e-3f) << pair;
        left += state.x < 64.0f ? 1 : 0;
        up += state.y < 64.0f ? 1 : 0;
    }
    EXPECT_GT(left, 100);
    EXPECT_LT(left, 300);
    EXPECT_GT(up, 100);
    EXPECT_LT(up, 300);
}

TEST(Motion, SameSeedAndPairSamePathOtherSeedOtherPath) {
    const Dot s = from_dot();
    const Dot t = to_dot();
    for (const MotionStyle style : kStyles) {
        DotSettings settings;
        settings.motion_style = style;
        settings.transition_by = TransitionBy::kWords;
        settings.order = Order::kRandom;
        DotSettings other = settings;
        other.random_seed = 43;
        int different = 0;
        for (uint32_t pair = 0; pair < 100; ++pair) {
            const float a = 0.3f + 0.004f * static_cast<float>(pair);
            EXPECT_TRUE(same_state(evaluate_dot(s, t, settings, a, pair),
                                   evaluate_dot(s, t, settings, a, pair)));
            different += same_state(evaluate_dot(s, t, settings, a, pair),
                                    evaluate_dot(s, t, other, a, pair))
                             ? 0
                             : 1;
        }
        EXPECT_GT(different, 90) << "style " << style;
    }
}

// Seeds at the ends of the int range, in uint32 arithmetic: no overflow, and
// finite results.
TEST(Motion, ExtremeSeedsAreDefined) {
    const int32_t seeds[] = {1'000'000, -1'000'000, std::numeric_limits<int32_t>::max(),
                             std::numeric_limits<int32_t>::min()};
    for (const int32_t seed : seeds) {
        for (const MotionStyle style : kStyles) {
            DotSettings settings;
            settings.random_seed = seed;
            settings.motion_style = style;
            settings.order = Order::kRandom;
            settings.transition_by = TransitionBy::kIndividualDots;
            const DotState state = evaluate_dot(from_dot(), to_dot(), settings, 0.5f, 0xFFFFFFFFu);
            EXPECT_TRUE(std::isfinite(state.x) && std::isfinite(state.y) &&
                        std::isfinite(state.radius))
                << "seed " << seed << " style " << style;
        }
    }
}

} // namespace
} // namespace pointillo
