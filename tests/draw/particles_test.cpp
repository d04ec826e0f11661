#include "draw/motion.h"
#include "draw/particles.h"
#include "draw_fixtures.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace pointillo {
namespace {

constexpr float kStep = 0.05f;
const Rgb kRed{1.0f, 0.0f, 0.0f};
const Rgb kBlue{0.0f, 0.0f, 1.0f};

// One dot travelling 100 pixels to the right on a straight line; around
// progress 0.5 it moves at about 150 pixels per second.
struct Scene {
    SourceMask mask1 = test::uniform_mask(160, 100, 65535, &kRed);
    SourceMask mask2 = test::uniform_mask(160, 100, 65535, &kBlue);
    Cloud cloud1 = test::cloud_of({test::dot_at(20.0f, 50.0f)});
    Cloud cloud2 = test::cloud_of({test::dot_at(120.0f, 50.0f)});
    DotSettings dots = test::straight_settings();
    ParticleSettings particles = [] {
        ParticleSettings p;
        p.enabled = true;
        p.life = 10.0f;
        p.life_randomness = 0.0f;
        p.extra_spread = 0.0f;
        p.inherit_velocity = 1.0f;
        p.velocity_falloff = 0.0f;
        p.fade_over_life = 0.0f;
        p.size_randomness = 0.0f;
        p.end_scale = 1.0f;
        return p;
    }();
    float before = 0.45f;
    float progress = 0.5f;
    float after = 0.55f;
    float span = 0.1f;

    EmissionTiming timing(float age, int32_t sample) const {
        return {before, progress, after, span, age, kStep, sample};
    }
    std::vector<Particle> emit(float age, int32_t sample = 7) const {
        std::vector<Particle> out;
        emit_particles(out, {&mask1, &cloud1}, {&mask2, &cloud2}, dots, particles,
                       timing(age, sample));
        return out;
    }
    // The dot's own state and velocity, as the emitter sees them.
    DotState start() const {
        return evaluate_dot(cloud1.dots[0], cloud2.dots[0], dots, progress, 0);
    }
    float velocity_x() const {
        const float x1 = evaluate_dot(cloud1.dots[0], cloud2.dots[0], dots, before, 0).x;
        const float x2 = evaluate_dot(cloud1.dots[0], cloud2.dots[0], dots, after, 0).x;
        return (x2 - x1) / span;
    }
};

TEST(ParticleCount, FractionalRateEmitsOneOrTwoPerStep) {
    Scene scene;
    scene.particles.emission_rate = 30.0f; // 1.5 per 0.05 s step
    int ones = 0;
    int twos = 0;
    for (int32_t sample = 0; sample < 200; ++sample) {
        const size_t count = scene.emit(0.1f, sample).size();
        EXPECT_EQ(scene.emit(0.1f, sample).size(), count) << "sample " << sample;
        ASSERT_TRUE(count == 1 || count == 2) << "sample " << sample << " made " << count;
        (count == 1 ? ones : twos) += 1;
    }
    EXPECT_GT(ones, 60);
    EXPECT_GT(twos, 60);
}

TEST(ParticleCount, RateIsCappedAtTwentyThousand) {
    Scene scene;
    scene.particles.emission_rate = 50000.0f;
    EXPECT_EQ(scene.emit(0.1f).size(), 1000u);
    scene.particles.emission_rate = 20000.0f;
    EXPECT_EQ(scene.emit(0.1f).size(), 1000u);
}

TEST(ParticleCount, SameStepSameParticles) {
    Scene scene;
    scene.particles.extra_spread = 40.0f;
    scene.particles.size_randomness = 0.5f;
    const std::vector<Particle> a = scene.emit(0.3f, 11);
    const std::vector<Particle> b = scene.emit(0.3f, 11);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(Particle)), 0);
    const std::vector<Particle> other = scene.emit(0.3f, 12);
    EXPECT_FALSE(other.size() == a.size() &&
                 std::memcmp(a.data(), other.data(), a.size() * sizeof(Particle)) == 0);
}

TEST(ParticleCount, NothingForDisabledOrDegenerateSteps) {
    struct Row {
        const char* name;
        void (*change)(Scene&);
    };
    const Row rows[] = {
        {"disabled", [](Scene& s) { s.particles.enabled = false; }},
        {"rate 0", [](Scene& s) { s.particles.emission_rate = 0.0f; }},
        {"rate NaN", [](Scene& s) { s.particles.emission_rate = std::nanf(""); }},
        {"no progress change", [](Scene& s) { s.after = s.before + 0.0000005f; }},
        {"empty cloud 1", [](Scene& s) { s.cloud1.dots.clear(); }},
        {"empty cloud 2", [](Scene& s) { s.cloud2.dots.clear(); }},
        {"at rest", [](Scene& s) { s.cloud2 = s.cloud1; }},
    };
    for (const Row& row : rows) {
        Scene scene;
        row.change(scene);
        std::vector<Particle> out(5);
        emit_particles(out, {&scene.mask1, &scene.cloud1}, {&scene.mask2, &scene.cloud2},
                       scene.dots, scene.particles, scene.timing(0.2f, 3));
        EXPECT_TRUE(out.empty()) << row.name;
    }
    Scene scene;
    EXPECT_TRUE(scene.emit(-0.01f).empty());
    EXPECT_FALSE(scene.emit(0.0f).empty());
}

TEST(ParticleLife, GoneWhenAgeReachesLife) {
    Scene scene;
    scene.particles.life = 0.5f;
    EXPECT_TRUE(scene.emit(0.5f).empty());
    EXPECT_FALSE(scene.emit(0.49f).empty());
    // Life never drops below 0.02 s.
    scene.particles.life = 0.0f;
    EXPECT_FALSE(scene.emit(0.019f).empty());
    EXPECT_TRUE(scene.emit(0.02f).empty());
}

TEST(ParticleFlight, StraightWithoutDrag) {
    Scene scene;
    const std::vector<Particle> out = scene.emit(0.5f);
    ASSERT_FALSE(out.empty());
    const DotState e0 = scene.start();
    for (const Particle& p : out) {
        EXPECT_NEAR(p.x - e0.x, scene.velocity_x() * 0.5f, 1e-3f);
        EXPECT_EQ(p.y, e0.y);
    }
    EXPECT_GT(scene.velocity_x(), 140.0f);
}

// Drag 2 for 1 s: the particle travels (1 - e^-2) / 2 = 0.432 s worth of its
// start velocity.
TEST(ParticleFlight, DragShortensTheFlight) {
    Scene scene;
    scene.particles.velocity_falloff = 2.0f;
    const std::vector<Particle> out = scene.emit(1.0f);
    ASSERT_FALSE(out.empty());
    const float travel = (out[0].x - scene.start().x) / scene.velocity_x();
    EXPECT_NEAR(travel, 0.432332f, 2e-5f);
    EXPECT_NEAR(travel, 0.432f, 5e-4f);
}

// Tiny drag is computed without cancellation: the travel time matches the
// closed form in double to float precision, where the float form would be off
// by about 1e-4.
TEST(ParticleFlight, SmallDragIsPrecise) {
    Scene scene;
    scene.particles.velocity_falloff = 0.0002f;
    const float age = 3.0f;
    const std::vector<Particle> out = scene.emit(age);
    ASSERT_FALSE(out.empty());
    const double k = static_cast<double>(0.0002f);
    const double travel = -std::expm1(-k * 3.0) / k;
    const double expected =
        static_cast<double>(scene.start().x) + static_cast<double>(scene.velocity_x()) * travel;
    EXPECT_NEAR(static_cast<double>(out[0].x), expected, 2e-4);
}

TEST(ParticleFlight, GravityPullsDown) {
    Scene scene;
    scene.particles.gravity = 100.0f;
    // No drag: g t^2 / 2.
    const std::vector<Particle> free_fall = scene.emit(0.5f);
    ASSERT_FALSE(free_fall.empty());
    EXPECT_FLOAT_EQ(free_fall[0].y - scene.start().y, 12.5f);
    // Drag 2 for 1 s: g (t - T) / k = 100 x (1 - 0.432332) / 2.
    scene.particles.velocity_falloff = 2.0f;
    const std::vector<Particle> dragged = scene.emit(1.0f);
    ASSERT_FALSE(dragged.empty());
    EXPECT_NEAR(dragged[0].y - scene.start().y, 28.3834f, 1e-3f);
}

TEST(ParticleFlight, SpreadStaysWithinItsDisc) {
    Scene scene;
    scene.particles.emission_rate = 20000.0f;
    scene.particles.inherit_velocity = 0.0f;
    scene.particles.extra_spread = 50.0f;
    const std::vector<Particle> out = scene.emit(1.0f);
    ASSERT_EQ(out.size(), 1000u);
    const DotState e0 = scene.start();
    double mean = 0.0;
    for (const Particle& p : out) {
        const double d =
            std::hypot(static_cast<double>(p.x - e0.x), static_cast<double>(p.y - e0.y));
        EXPECT_LE(d, 50.0 + 1e-3);
        mean += d;
    }
    // Uniform over a disc of radius 50: mean distance 2/3 x 50.
    EXPECT_NEAR(mean / 1000.0, 33.3, 2.0);
}

TEST(ParticleLook, FadeOverLife) {
    Scene scene;
    scene.particles.opacity = 0.7f;
    scene.particles.life = 1.0f;
    struct Row {
        float fade;
        float age;
        float factor;
    };
    const Row rows[] = {{0.0f, 0.9f, 1.0f},  {1.0f, 0.0f, 1.0f},    {1.0f, 0.5f, 0.5f},
                        {0.25f, 0.7f, 1.0f}, {0.25f, 0.875f, 0.5f}, {2.0f, 0.5f, 0.5f}};
    for (const Row& row : rows) {
        scene.particles.fade_over_life = row.fade;
        const std::vector<Particle> out = scene.emit(row.age);
        ASSERT_FALSE(out.empty()) << "fade " << row.fade << " age " << row.age;
        // Coverage 1 on the from side, 1 on the to side.
        EXPECT_NEAR(out[0].opacity, 0.7f * row.factor, 1e-5f)
            << "fade " << row.fade << " age " << row.age;
    }
}

TEST(ParticleLook, EndScaleOverLife) {
    Scene scene;
    scene.particles.size = 4.0f;
    scene.particles.life = 1.0f;
    struct Row {
        float end_scale;
        float age;
        float radius;
    };
    const Row rows[] = {{0.0f, 0.0f, 2.0f}, {0.0f, 0.5f, 1.0f},    {0.0f, 0.9999f, 0.0f},
                        {2.0f, 0.5f, 3.0f}, {2.0f, 0.9999f, 4.0f}, {1.0f, 0.7f, 2.0f}};
    for (const Row& row : rows) {
        scene.particles.end_scale = row.end_scale;
        const std::vector<Particle> out = scene.emit(row.age);
        ASSERT_FALSE(out.empty());
        EXPECT_NEAR(out[0].radius, row.radius, 1e-3f)
            << "end scale " << row.end_scale << " age " << row.age;
    }
}

TEST(ParticleLook, ColourRules) {
    Scene scene;
    scene.particles.color = {0.0f, 1.0f, 0.0f};
    scene.dots.dot_color = {1.0f, 1.0f, 0.0f};
    struct Row {
        bool match_main;
        bool match_source;
        Rgb color;
    };
    // Half way (blend 0.5) from the red mask to the blue one.
    const Row rows[] = {{false, true, {0.0f, 1.0f, 0.0f}},
                        {false, false, {0.0f, 1.0f, 0.0f}},
                        {true, false, {1.0f, 1.0f, 0.0f}},
                        {true, true, {0.5f, 0.0f, 0.5f}}};
    for (const Row& row : rows) {
        scene.particles.match_main_color = row.match_main;
        scene.dots.match_source_colors = row.match_source;
        const std::vector<Particle> out = scene.emit(0.2f);
        ASSERT_FALSE(out.empty());
        EXPECT_FLOAT_EQ(out[0].color.red, row.color.red) << row.match_main << row.match_source;
        EXPECT_FLOAT_EQ(out[0].color.green, row.color.green) << row.match_main << row.match_source;
        EXPECT_FLOAT_EQ(out[0].color.blue, row.color.blue) << row.match_main << row.match_source;
    }
    // No colour plane: white.
    scene.mask1.colors = MaskColors{};
    scene.mask2.colors = MaskColors{};
    const std::vector<Particle> white = scene.emit(0.2f);
    ASSERT_FALSE(white.empty());
    EXPECT_EQ(white[0].color.red, 1.0f);
    EXPECT_EQ(white[0].color.blue, 1.0f);
}

TEST(ParticleLook, OpacityFollowsTheMaskCoverage) {
    Scene scene;
    scene.particles.opacity = 0.8f;
    scene.mask2.coverage.assign(scene.mask2.coverage.size(), 0);
    const std::vector<Particle> out = scene.emit(0.2f);
    ASSERT_FALSE(out.empty());
    EXPECT_FLOAT_EQ(out[0].opacity, 0.8f * 0.5f); // 1 + 0.5 x (0 - 1)
}

// The particle leaves from the very dot render_morph draws as pair j: with
// uneven clouds and no flight time it sits on that pair's state.
TEST(ParticlePairs, LeaveFromTheMorphsPairs) {
    Scene scene;
    std::vector<Dot> many;
    for (int k = 0; k < 7; ++k) {
        many.push_back(test::dot_at(10.0f + 20.0f * static_cast<float>(k), 30.0f));
    }
    scene.cloud1 = test::cloud_of(many);
    scene.cloud2 = test::cloud_of({test::dot_at(60.0f, 80.0f), test::dot_at(100.0f, 90.0f)});
    scene.particles.emission_rate = 2000.0f;
    const std::vector<Particle> out = scene.emit(0.0f);
    ASSERT_EQ(out.size(), 100u);
    for (const Particle& p : out) {
        bool found = false;
        for (int64_t j = 0; j < 7 && !found; ++j) {
            const DotState state =
                evaluate_dot(scene.cloud1.dots[static_cast<size_t>(j)],
                             scene.cloud2.dots[static_cast<size_t>(j * 2 / 7)], scene.dots,
                             scene.progress, static_cast<uint32_t>(j));
            found = state.x == p.x && state.y == p.y;
        }
        EXPECT_TRUE(found) << p.x << "," << p.y;
    }
}

} // namespace
} // namespace pointillo
