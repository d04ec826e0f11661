#include "cli/errors.h"
#include "cli/frame_range.h"

#include <gtest/gtest.h>

namespace pointillo {
namespace {

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
        EXPECT_EQ(parse_frame_range(row.text, 120, "--frames"), row.expected) << row.text;
    }
}

TEST(FrameRange, RefusesBadRanges) {
    const char* rows[] = {"",      "-",   "-5",   "5-",   "a-b", "1-2-3", "3-1",        "120",
                          "0-120", "1.5", " 1-2", "1 -2", "+1",  "1-+2",  "99999999999"};
    for (const char* text : rows) {
        try {
            parse_frame_range(text, 120, "--frames");
            ADD_FAILURE() << "accepted \"" << text << "\"";
        } catch (const InputError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("--frames " + std::string(text) + ": ", 0), 0u)
                << e.what();
        }
    }
}

TEST(FrameRange, ChunksCoverARangeExactlyOnce) {
    // The chunking a job array would use: start + k x size, clipped to the end.
    const FrameRange all{0, 179};
    for (const int32_t size : {1, 7, 50, 180, 500}) {
        std::vector<int> seen(180, 0);
        for (int32_t first = all.first; first <= all.last; first += size) {
            const int32_t last = std::min(first + size - 1, all.last);
            const FrameRange chunk = parse_frame_range(
                std::to_string(first) + "-" + std::to_string(last), 180, "--frames");
            for (int32_t n = chunk.first; n <= chunk.last; ++n) {
                ++seen[static_cast<size_t>(n)];
            }
        }
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 180) << "chunk size " << size;
    }
}

} // namespace
} // namespace pointillo
