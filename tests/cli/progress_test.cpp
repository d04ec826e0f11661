#include "cli/run/progress.h"

#include <gtest/gtest.h>

namespace pointillo {
namespace {

TEST(Progress, TheLineFitsTheTerminal) {
    struct Row {
        int32_t columns;
        std::string line;
    };
    // 30 of 150 frames after 2.5 s: 12 frames/s, 10 s left.
    const Row rows[] = {
        {100, "[######........................] 30/150 frames  12.0 frames/s  10 s left"},
        {60, "[###..............] 30/150 frames  12.0 frames/s  10 s left"},
        {40, "[##.........] 30/150  12.0/s  10 s left"},
        {30, "[#........] 30/150  10 s left"},
        {20, "30/150  10 s left"},
        {10, "30/150"},
        {4, "30/"},
        {0, "3"},
    };
    for (const Row& row : rows) {
        const std::string line = progress_line(30, 150, 2.5, row.columns, "frames");
        EXPECT_EQ(line, row.line) << row.columns;
        EXPECT_LT(static_cast<int32_t>(line.size()), std::max(row.columns, 2)) << row.columns;
    }
    EXPECT_EQ(progress_line(0, 150, 0.0, 80, "encoded"),
              "[..............................] 0/150 encoded  0.0 frames/s");
    EXPECT_EQ(progress_line(5, 5, 1.0, 80, "frames"),
              "[##############################] 5/5 frames  5.0 frames/s");
    EXPECT_EQ(progress_line(0, 0, 1.0, 40, "frames"), "[############] 0/0 frames  0.0 frames/s");
}

} // namespace
} // namespace pointillo
