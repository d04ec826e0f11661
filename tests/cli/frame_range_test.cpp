#include "cli/base/errors.h"
#include "cli/run/frame_range.h"

#include <gtest/gtest.h>

namespace pointillo {
namespace {

// 120 frames at 30 fps: 0 to 3.967 s.
constexpr FrameTimes k30{120, 30000};

TEST(FrameRange, ParsesRangesAndSingleFrames) {
    struct Row {
        const char* text;
        FrameRange expected;
    };
    const Row rows[] = {
        {"0-119", {0, 119}}, {"5-5", {5, 5}},     {"7", {7, 7}},
        {"0", {0, 0}},       {"119", {119, 119}}, {"010-020", {10, 20}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(parse_frame_range(row.text, k30, "--frames"), row.expected) << row.text;
    }
}

TEST(FrameRange, TimesNameTheFrameShowingThen) {
    struct Row {
        const char* text;
        FrameTimes times;
        FrameRange expected;
    };
    // 0.1 x 30 is a hair under 3 in doubles; 0.049 s is 1.47 frames, so frame
    // 1 is showing; numbers and times mix; 1.5 s at 29.97 fps is 44.955 frames.
    const Row rows[] = {
        {"1.5s", k30, {45, 45}},
        {"0.5s-2s", k30, {15, 60}},
        {"0s", k30, {0, 0}},
        {"0.1s", k30, {3, 3}},
        {"0.049s", k30, {1, 1}},
        {"10-2s", k30, {10, 60}},
        {"3.967s", k30, {119, 119}},
        {"1.5s", {300, 29970}, {44, 44}},
        {"2s", {300, 29970}, {59, 59}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(parse_frame_range(row.text, row.times, "--frames"), row.expected) << row.text;
    }
    EXPECT_EQ(parse_frame("1.5s", k30, "--frame"), 45);
    EXPECT_EQ(parse_frame("7", k30, "--frame"), 7);
}

TEST(FrameRange, RefusesBadRanges) {
    struct Row {
        const char* text;
        const char* message; // after "--frames TEXT: "
    };
    const Row rows[] = {
        {"", "expected a frame number"},
        {"-", "expected a frame number"},
        {"-5", "frame numbers and times start at 0"},
        {"-1.5s", "frame numbers and times start at 0"},
        {"2--5", "frame numbers and times start at 0"},
        {"5-", "expected a frame number"},
        {"a-b", "expected a frame number"},
        {"1-2-3", "expected a frame number"},
        {"3-1", "the first frame comes after the last"},
        {"2s-1s", "the first frame comes after the last"},
        {"120", "the scene has frames 0 to 119 (the last at 3.967 s)"},
        {"0-120", "the scene has frames 0 to 119"},
        {"4s", "4s is past the end; the scene has frames 0 to 119"},
        {"99999999s", "past the end"},
        {"1e3s", "expected a frame number"},
        {"1.5", "or a time in seconds such as 1.5s"},
        {"s", "expected a frame number"},
        {"1.5 s", "expected a frame number"},
        {" 1-2", "expected a frame number"},
        {"1 -2", "expected a frame number"},
        {"+1", "expected a frame number"},
        {"1-+2", "expected a frame number"},
        {"nans", "expected a frame number"},
        {"99999999999", "expected a frame number"},
    };
    for (const Row& row : rows) {
        try {
            parse_frame_range(row.text, k30, "--frames");
            ADD_FAILURE() << "accepted \"" << row.text << "\"";
        } catch (const InputError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("--frames " + std::string(row.text) + ": ", 0),
                      0u)
                << e.what();
            EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(parse_frame("1-2", k30, "--frame"), InputError);
}

TEST(FrameRange, ChunksCoverARangeExactlyOnce) {
    // The chunking a job array would use: start + k x size, clipped to the end.
    const FrameRange all{0, 179};
    for (const int32_t size : {1, 7, 50, 180, 500}) {
        std::vector<int> seen(180, 0);
        for (int32_t first = all.first; first <= all.last; first += size) {
            const int32_t last = std::min(first + size - 1, all.last);
            const FrameRange chunk = parse_frame_range(
                std::to_string(first) + "-" + std::to_string(last), {180, 30000}, "--frames");
            for (int32_t n = chunk.first; n <= chunk.last; ++n) {
                ++seen[static_cast<size_t>(n)];
            }
        }
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 180) << "chunk size " << size;
    }
}

TEST(FrameRange, SecondsForMessages) {
    EXPECT_EQ(format_seconds_short(1.5), "1.5");
    EXPECT_EQ(format_seconds_short(2.0), "2");
    EXPECT_EQ(format_seconds_short(119.0 / 30.0), "3.967");
    EXPECT_EQ(format_seconds_short(0.0), "0");
    EXPECT_EQ(format_seconds_short(-0.0001), "0");
}

} // namespace
} // namespace pointillo
