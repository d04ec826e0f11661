#include "frame/settings.h"

#include <gtest/gtest.h>

namespace pointillo {
namespace {

// Default records must equal what a read of the default parameters gives:
// percentages go through the same single-precision product.
TEST(Settings, DefaultsEqualConvertedParameterDefaults) {
    const Settings settings;
    EXPECT_EQ(settings.dots.size_randomness, 10.0f * 0.01f);
    EXPECT_EQ(settings.dots.grid_jitter, 65.0f * 0.01f);
    EXPECT_EQ(settings.dots.stagger, 35.0f * 0.01f);
    EXPECT_EQ(settings.particles.fade_over_life, 60.0f * 0.01f);
    EXPECT_EQ(settings.sequence.hold, 0.800000011920929);
    EXPECT_EQ(settings.sequence.transition, static_cast<double>(1.2f));
    EXPECT_EQ(settings.dots.random_seed, 42);
    EXPECT_EQ(settings.dots.motion_style, motion_style::kChaos);
    EXPECT_TRUE(settings.dots.form_solid_source);
    EXPECT_FALSE(settings.particles.enabled);
}

} // namespace
} // namespace pointillo
