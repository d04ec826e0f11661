#include "common/hash.h"
#include "source/cloud.h"
#include "source/grouping.h"

#include <gtest/gtest.h>

namespace pointillo {
namespace {

// Dyadic key values, so every expected key below is exact.
Dot sample_dot() {
    Dot dot;
    dot.letter_pos = 0.25f;
    dot.word_pos = 0.75f;
    dot.x_norm = 0.125f;
    dot.y_norm = 0.375f;
    dot.random = 12345u;
    dot.radial = 0.625f;
    return dot;
}

constexpr int32_t kSeed = 42;

// "Random" draws from the group's position x 10000 (letters, words) or the
// dot's own cell hash, offset by the seed and the order channel.
float random_key(uint32_t index) {
    return rand01(index + static_cast<uint32_t>(kSeed) + 0x81AF1549u);
}

// Popup item numbers, mapped as the snapshot maps them, so that the rows with
// items outside the lists show what such values have always meant.
struct KeyCase {
    int32_t transition_by;
    int32_t order;
    float key;
};

TEST(OrderKey, EveryTransitionByAndOrder) {
    constexpr int32_t kEntireLayer = 1, kLetters = 2, kWords = 3, kIndividualDots = 4;
    constexpr int32_t kLeftToRight = 1, kRightToLeft = 2, kTopToBottom = 3, kBottomToTop = 4,
                      kCenterOut = 5, kRandom = 6;
    const KeyCase cases[] = {
        {kEntireLayer, kLeftToRight, 0.0f},
        {kEntireLayer, kRightToLeft, 0.0f},
        {kEntireLayer, kTopToBottom, 0.0f},
        {kEntireLayer, kBottomToTop, 0.0f},
        {kEntireLayer, kCenterOut, 0.0f},
        {kEntireLayer, kRandom, 0.0f},
        {kLetters, kLeftToRight, 0.25f},
        {kLetters, kRightToLeft, 0.75f},
        {kLetters, kTopToBottom, 0.375f}, // the dot's own height, not its letter's
        {kLetters, kBottomToTop, 0.625f},
        {kLetters, kCenterOut, 0.5f},
        {kLetters, kRandom, random_key(2500u)},
        {kWords, kLeftToRight, 0.75f},
        {kWords, kRightToLeft, 0.25f},
        {kWords, kTopToBottom, 0.375f},
        {kWords, kBottomToTop, 0.625f},
        {kWords, kCenterOut, 0.5f},
        {kWords, kRandom, random_key(7500u)},
        {kIndividualDots, kLeftToRight, 0.125f},
        {kIndividualDots, kRightToLeft, 0.875f},
        {kIndividualDots, kTopToBottom, 0.375f},
        {kIndividualDots, kBottomToTop, 0.625f},
        {kIndividualDots, kCenterOut, 0.75f},
        {kIndividualDots, kRandom, random_key(12345u)},
        {9, kLeftToRight, 0.125f}, // unknown "Transition By" reads as dots
        {0, kRandom, random_key(12345u)},
        {kLetters, 9, 0.25f}, // unknown "Order" keeps the base
        {kLetters, -1, 0.25f},
    };
    const Dot dot = sample_dot();
    for (const KeyCase& c : cases) {
        DotSettings settings;
        settings.random_seed = kSeed;
        settings.motion_style = MotionStyle::kDrift;
        settings.transition_by = transition_by_from_popup(c.transition_by);
        settings.order = order_from_popup(c.order);
        EXPECT_EQ(order_key(dot, settings), c.key)
            << "transition_by " << c.transition_by << ", order " << c.order;
        // Center Out motion overrides both choices with the radial key.
        settings.motion_style = MotionStyle::kCenterOut;
        EXPECT_EQ(order_key(dot, settings), 0.625f)
            << "Center Out motion, transition_by " << c.transition_by << ", order " << c.order;
    }
}

TEST(OrderKey, CenterOutOrderIsZeroInTheMiddleOneAtTheEdges) {
    DotSettings settings;
    settings.transition_by = TransitionBy::kIndividualDots;
    settings.order = Order::kCenterOut;
    Dot dot;
    for (auto [x_norm, key] : {std::pair{0.5f, 0.0f}, std::pair{0.0f, 1.0f}, std::pair{1.0f, 1.0f},
                               std::pair{0.75f, 0.5f}}) {
        dot.x_norm = x_norm;
        EXPECT_EQ(order_key(dot, settings), key) << "x_norm " << x_norm;
    }
}

TEST(OrderKey, KeysPastTheBoxAreClampedToTheUnitInterval) {
    // A thin source puts dots up to a pixel's worth past the box: x_norm 4/3
    // on a 4-column source.
    Dot dot;
    dot.x_norm = 4.0f / 3.0f;
    dot.y_norm = 1.25f;
    dot.radial = 1.0f;
    struct ClampCase {
        Order order;
        float key;
    };
    const ClampCase cases[] = {
        {Order::kLeftToRight, 1.0f}, {Order::kRightToLeft, 0.0f}, {Order::kTopToBottom, 1.0f},
        {Order::kBottomToTop, 0.0f}, {Order::kCenterOut, 1.0f},
    };
    DotSettings settings;
    settings.transition_by = TransitionBy::kIndividualDots;
    for (const ClampCase& c : cases) {
        settings.order = c.order;
        EXPECT_EQ(order_key(dot, settings), c.key) << "order " << static_cast<int>(c.order);
    }
}

} // namespace
} // namespace pointillo
