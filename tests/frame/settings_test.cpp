#include "frame/param_table.h"
#include "frame/settings.h"
#include "frame/settings_read.h"

#include <gtest/gtest.h>
#include <vector>

namespace pointillo {
namespace {

// What a host with every parameter at its registered default hands over.
ParamReading default_reading(int32_t index) {
    const ParamSpec* spec = param_at(index);
    ParamReading reading;
    if (spec == nullptr) {
        return reading;
    }
    if (spec->type == ParamType::kColor) {
        reading.red = reading.green = reading.blue = 255;
    } else {
        // The host keeps a slider's value in double, as the float default widened.
        reading.number = static_cast<double>(spec->default_value);
    }
    return reading;
}

// Default records must equal what a read of the default parameters gives:
// percentages go through the same single-precision product.
TEST(Settings, DefaultsEqualAReadOfTheDefaultParameters) {
    const Settings defaults;
    EXPECT_EQ(defaults.dots.size_randomness, 10.0f * 0.01f);
    EXPECT_EQ(defaults.sequence.hold, 0.800000011920929);
    EXPECT_EQ(defaults.dots.motion_style, MotionStyle::kChaos);

    std::vector<int32_t> indices;
    const auto read = [&](int32_t index, int32_t time) {
        EXPECT_EQ(time, 250);
        indices.push_back(index);
        return default_reading(index);
    };
    const Settings settings = read_settings(read, 250);
    EXPECT_TRUE(settings.dots == defaults.dots);
    EXPECT_TRUE(settings.particles == defaults.particles);
    EXPECT_TRUE(settings.sequence == defaults.sequence);
    EXPECT_EQ(indices.size(), 44u);
    // The first and last reads, by the host's indices.
    ASSERT_FALSE(indices.empty());
    EXPECT_EQ(indices.front(), param_index_of(param_id::kDistribution));
    EXPECT_EQ(indices.back(), param_index_of(param_id::kParticleColor));
}

TEST(Settings, ConversionsOfReadValues) {
    const auto read = [](int32_t index, int32_t) {
        ParamReading r = default_reading(index);
        if (index == param_index_of(param_id::kRandomSeed)) {
            r.number = 41.99;
        } else if (index == param_index_of(param_id::kDotColor)) {
            r.red = 255;
            r.green = 128;
            r.blue = 0;
        } else if (index == param_index_of(param_id::kHold)) {
            r.number = 0.1;
        } else if (index == param_index_of(param_id::kDotShape)) {
            r.number = 4;
        } else if (index == param_index_of(param_id::kMotionStyle)) {
            r.number = 17; // no such item
        }
        return r;
    };
    const Settings s = read_settings(read, 0);
    EXPECT_EQ(s.dots.random_seed, 41);
    EXPECT_EQ(s.dots.dot_color, (Rgb{1.0f, 128.0f / 255.0f, 0.0f}));
    EXPECT_EQ(s.sequence.hold, static_cast<double>(0.1f));
    EXPECT_EQ(s.dots.dot_shape, DotShape::kRing);
    EXPECT_EQ(s.dots.motion_style, MotionStyle::kChaos);
}

// Items outside a popup's list keep the meaning every reader gave them.
TEST(Settings, PopupItemsOutsideTheListFallBack) {
    struct Case {
        int32_t item;
        Distribution distribution;
        DotShape shape;
        TransitionBy transition_by;
        Order order;
        MotionStyle style;
    };
    const Case cases[] = {
        {1, Distribution::kGrid, DotShape::kCircle, TransitionBy::kEntireLayer, Order::kLeftToRight,
         MotionStyle::kDrift},
        {3, Distribution::kRandomized, DotShape::kDiamond, TransitionBy::kWords,
         Order::kTopToBottom, MotionStyle::kChaos},
        {4, Distribution::kJitteredGrid, DotShape::kRing, TransitionBy::kIndividualDots,
         Order::kBottomToTop, MotionStyle::kPop},
        {5, Distribution::kJitteredGrid, DotShape::kCircle, TransitionBy::kIndividualDots,
         Order::kCenterOut, MotionStyle::kCenterOut},
        {6, Distribution::kJitteredGrid, DotShape::kCircle, TransitionBy::kIndividualDots,
         Order::kRandom, MotionStyle::kChaos},
        {7, Distribution::kJitteredGrid, DotShape::kCircle, TransitionBy::kIndividualDots,
         Order::kLeftToRight, MotionStyle::kChaos},
        {0, Distribution::kJitteredGrid, DotShape::kCircle, TransitionBy::kIndividualDots,
         Order::kLeftToRight, MotionStyle::kChaos},
        {-3, Distribution::kJitteredGrid, DotShape::kCircle, TransitionBy::kIndividualDots,
         Order::kLeftToRight, MotionStyle::kChaos},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(distribution_from_popup(c.item), c.distribution) << "item " << c.item;
        EXPECT_EQ(dot_shape_from_popup(c.item), c.shape) << "item " << c.item;
        EXPECT_EQ(transition_by_from_popup(c.item), c.transition_by) << "item " << c.item;
        EXPECT_EQ(order_from_popup(c.item), c.order) << "item " << c.item;
        EXPECT_EQ(motion_style_from_popup(c.item), c.style) << "item " << c.item;
    }
}

} // namespace
} // namespace pointillo
