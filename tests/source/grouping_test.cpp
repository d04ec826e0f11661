#include "source/grouping.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace pointillo {
namespace {

using Runs = std::vector<std::pair<int32_t, int32_t>>;

// Per-column opaque counts of a `width`-column mask with the given runs.
std::vector<int32_t> columns_with(const Runs& runs, int32_t width) {
    std::vector<int32_t> counts(static_cast<std::size_t>(width), 0);
    for (const auto& [start, end] : runs) {
        for (int32_t c = start; c <= end; ++c) {
            counts[static_cast<std::size_t>(c)] = 3;
        }
    }
    return counts;
}

ColumnGroups group(const Runs& runs, int32_t width) {
    const std::vector<int32_t> counts = columns_with(runs, width);
    return group_columns(counts, runs.front().first, runs.back().second, width);
}

// The word index of each run, read at its first column.
std::vector<int32_t> words_of_runs(const ColumnGroups& g, int32_t min_x) {
    std::vector<int32_t> words;
    for (const auto& [start, end] : g.runs) {
        words.push_back(g.word_index[static_cast<std::size_t>(start - min_x)]);
    }
    return words;
}

struct WordCase {
    const char* name;
    Runs runs;
    std::vector<int32_t> words; // expected word of every run
};

TEST(Grouping, SplitsWordsOnGapsWiderThanTheThreshold) {
    const WordCase cases[] = {
        // Widths 2, 5, 9, 20: median 9, and 0.33 x 9 = 2.97 < 3, so T = 3.
        // Gaps 3, 4, 3: only the gap of 4 splits.
        {"median 9, T = 3", {{0, 1}, {5, 9}, {14, 22}, {26, 45}}, {0, 0, 1, 1}},
        // Widths all 30: T = 9.9, gap 9 keeps, gap 10 splits.
        {"widths 30, T = 9.9", {{0, 29}, {39, 68}, {79, 108}}, {0, 0, 1}},
        // Widths 10, 20, 30, 40: the median is the upper middle (30, T = 9.9);
        // the lower middle (20) would make T = 6.6 and split the gap of 8.
        {"even count takes upper middle", {{0, 9}, {18, 37}, {46, 75}, {86, 125}}, {0, 0, 0, 1}},
        {"single run", {{4, 9}}, {0}},
        {"adjacent gaps of one column", {{0, 2}, {4, 6}, {8, 10}}, {0, 0, 0}},
    };
    for (const WordCase& c : cases) {
        const int32_t width = c.runs.back().second + 3;
        const ColumnGroups g = group(c.runs, width);
        EXPECT_EQ(g.runs, c.runs) << c.name;
        EXPECT_EQ(g.letter_count, static_cast<int32_t>(c.runs.size())) << c.name;
        EXPECT_EQ(words_of_runs(g, c.runs.front().first), c.words) << c.name;
        EXPECT_EQ(g.word_count, c.words.back() + 1) << c.name;
    }
}

TEST(Grouping, SplitsEmptyColumnsAtTheMidpointGoingRight) {
    // Runs (0, 9) and (20, 29): (9 + 20) / 2 = 14 belongs to the right run.
    const ColumnGroups g = group({{0, 9}, {20, 29}}, 40);
    ASSERT_EQ(g.letter_index.size(), 30u);
    for (int32_t c = 0; c < 30; ++c) {
        EXPECT_EQ(g.letter_index[static_cast<std::size_t>(c)], c < 14 ? 0 : 1) << "column " << c;
    }
    // The gap of 10 columns is wider than T = 3, so the right run is a new
    // word, its share of the gap included.
    for (int32_t c = 0; c < 30; ++c) {
        EXPECT_EQ(g.word_index[static_cast<std::size_t>(c)], c < 14 ? 0 : 1) << "column " << c;
    }
    EXPECT_EQ(g.word_count, 2);
}

TEST(Grouping, IndexesColumnsFromMinX) {
    // First opaque column 5: the per-column lists start there, the first run
    // owning from min_x. Midpoint (7 + 12) / 2 = 9 goes right.
    const ColumnGroups g = group({{5, 7}, {12, 14}}, 15);
    const std::vector<int32_t> letters = {0, 0, 0, 0, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(g.letter_index, letters);
    EXPECT_EQ(g.word_count, 2);
}

TEST(Grouping, LastRunOwnsUpToTheMaskEdge) {
    const ColumnGroups g = group({{0, 0}, {2, 3}}, 4);
    const std::vector<int32_t> letters = {0, 1, 1, 1};
    EXPECT_EQ(g.letter_index, letters);
    EXPECT_EQ(g.word_count, 1);
}

TEST(Grouping, RejectsColumnsOutsideTheCounts) {
    const std::vector<int32_t> counts(10, 1);
    for (auto [lo, hi] : {std::pair{-1, 5}, std::pair{3, 10}, std::pair{6, 5}}) {
        const ColumnGroups g = group_columns(counts, lo, hi, 10);
        EXPECT_EQ(g.letter_count, 0) << lo << ".." << hi;
        EXPECT_TRUE(g.letter_index.empty()) << lo << ".." << hi;
    }
    // No opaque column between min_x and max_x: nothing to group.
    const std::vector<int32_t> empty(10, 0);
    EXPECT_EQ(group_columns(empty, 0, 9, 10).letter_count, 0);
}

} // namespace
} // namespace pointillo
