#include "frame/sequence.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

namespace pointillo {
namespace {

struct Row {
    double seconds;
    bool loop;
    int32_t from;
    int32_t to;
    float progress;
};

// Defaults (start 0, hold 0.8, transition 1.2 as floats widened: a 2 s
// cycle), three sources, automatic. t = 2.0 falls on a cycle boundary and
// still belongs to the end of the first cycle because of the float widening.
TEST(SequenceTiming, AutomaticTable) {
    const Row rows[] = {
        {0.5, false, 0, 1, 0.0f},    {1.4, false, 0, 1, 0.5f}, {2.1, false, 1, 2, 0.0f},
        {3.0, false, 1, 2, 0.1667f}, {4.5, false, 2, 2, 0.0f}, {5.9, false, 2, 2, 0.0f},
        {5.4, true, 2, 0, 0.5f},     {6.1, true, 0, 1, 0.0f},
    };
    for (const Row& row : rows) {
        SequenceSettings settings;
        settings.loop = row.loop;
        const SequenceState state = sequence_state(settings, 3, row.seconds, 0.0);
        EXPECT_EQ(state.from, row.from) << "t=" << row.seconds << " loop=" << row.loop;
        EXPECT_EQ(state.to, row.to) << "t=" << row.seconds << " loop=" << row.loop;
        EXPECT_NEAR(state.progress, row.progress, 1e-4f) << "t=" << row.seconds;
    }
}

TEST(SequenceTiming, CycleBoundaryBelongsToPreviousCycle) {
    SequenceSettings settings;
    const SequenceState state = sequence_state(settings, 3, 2.0, 0.0);
    EXPECT_EQ(state.from, 0);
    EXPECT_EQ(state.to, 1);
    EXPECT_GT(state.progress, 0.999f);
    EXPECT_LT(state.progress, 1.0f);
}

TEST(SequenceTiming, BeforeStartShowsFirstSource) {
    SequenceSettings settings;
    settings.start = 10.0;
    EXPECT_EQ(sequence_state(settings, 3, 2.0, 0.0), (SequenceState{0, 1, 0.0f}));
    EXPECT_EQ(sequence_state(settings, 1, 2.0, 0.0), (SequenceState{0, 0, 0.0f}));
}

TEST(SequenceTiming, NoneOrOneSourceStandsStill) {
    for (int32_t count : {0, 1}) {
        for (bool automatic : {true, false}) {
            for (bool loop : {true, false}) {
                SequenceSettings settings;
                settings.automatic = automatic;
                settings.loop = loop;
                for (double t : {-3.0, 0.0, 1.4, 77.7}) {
                    EXPECT_EQ(sequence_state(settings, count, t, 3.5), (SequenceState{0, 0, 0.0f}))
                        << "count=" << count << " automatic=" << automatic << " loop=" << loop
                        << " t=" << t;
                }
            }
        }
    }
}

TEST(SequenceTiming, WithoutLoopHoldsLastSourceForever) {
    SequenceSettings settings;
    for (double t : {6.5, 60.0, 36000.0}) {
        EXPECT_EQ(sequence_state(settings, 4, t, 0.0), (SequenceState{3, 3, 0.0f})) << t;
    }
}

TEST(SequenceTiming, ManualPosition) {
    struct ManualRow {
        double position;
        bool loop;
        SequenceState expected;
    };
    const ManualRow rows[] = {
        {3.5, true, {2, 0, 0.5f}},  {4.0, true, {0, 1, 0.0f}},   {1.0, true, {0, 1, 0.0f}},
        {7.0, false, {2, 2, 0.0f}}, {0.25, false, {0, 1, 0.0f}}, {2.5, false, {1, 2, 0.5f}},
    };
    for (const ManualRow& row : rows) {
        SequenceSettings settings;
        settings.automatic = false;
        settings.loop = row.loop;
        // The time must not matter in manual mode.
        EXPECT_EQ(sequence_state(settings, 3, 123.0, row.position), row.expected)
            << "position=" << row.position << " loop=" << row.loop;
    }
}

TEST(SequenceTiming, ZeroHoldRisesWithoutPause) {
    SequenceSettings settings;
    settings.hold = 0.0;
    settings.transition = static_cast<double>(1.2f);
    const SequenceState a = sequence_state(settings, 3, 0.6, 0.0);
    const SequenceState b = sequence_state(settings, 3, 1.8, 0.0);
    EXPECT_EQ(a.from, 0);
    EXPECT_EQ(a.to, 1);
    EXPECT_NEAR(a.progress, 0.5f, 1e-6f);
    EXPECT_EQ(b.from, 1);
    EXPECT_EQ(b.to, 2);
    EXPECT_NEAR(b.progress, 0.5f, 1e-6f);
}

TEST(SequenceTiming, DegenerateLengthsAreFlooredAtOneMillisecond) {
    SequenceSettings settings;
    settings.hold = 0.0;
    settings.transition = 0.0;
    const SequenceState state = sequence_state(settings, 16, 0.0105, 0.0);
    // 10.5 cycles of 1 ms: source 10 halfway into 11.
    EXPECT_EQ(state.from, 10);
    EXPECT_EQ(state.to, 11);
    EXPECT_NEAR(state.progress, 0.5f, 1e-3f);
}

TEST(SequenceTiming, HostSecondsTreatsZeroScaleAsOne) {
    EXPECT_EQ(host_seconds(30000, 30000u), 1.0);
    EXPECT_EQ(host_seconds(-15000, 30000u), -0.5);
    EXPECT_EQ(host_seconds(7, 0u), 7.0);
    // A negative time must not be converted through the unsigned scale.
    EXPECT_EQ(host_seconds(std::numeric_limits<int32_t>::min(), 1u), -2147483648.0);
}

} // namespace
} // namespace pointillo
