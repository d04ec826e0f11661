#include "frame/param_table.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace pointillo {
namespace {

TEST(ParamTable, IndexOfId) {
    struct Case {
        int32_t id;
        int32_t index;
    };
    const Case cases[] = {
        {1, 1},   {2, 2},   {3, 5},   {18, 20}, {19, 21}, {36, 38}, {37, 40},
        {38, 41}, {53, 56}, {54, 58}, {55, 3},  {56, 4},  {57, 39}, {58, 57},
        {59, 59}, {74, 74}, {75, 75}, {0, 0},   {76, 76}, {-5, -5}, {1000, 1000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(param_index_of(c.id), c.index) << "id " << c.id;
    }
}

TEST(ParamTable, IdsAndIndicesCoverTheListOnce) {
    std::set<int32_t> ids;
    std::set<int32_t> indices;
    for (int32_t id = 1; id <= 75; ++id) {
        ids.insert(id);
        indices.insert(param_index_of(id));
    }
    EXPECT_EQ(indices.size(), 75u);
    EXPECT_EQ(*indices.begin(), 1);
    EXPECT_EQ(*indices.rbegin(), 75);
}

TEST(ParamTable, LookupByName) {
    struct Case {
        const char* name;
        int32_t index;
    };
    const Case cases[] = {
        {"Sources", 1},         {"Text Count", 2},
        {"Add Source", 3},      {"Source 1", 5},
        {"Source 3", 7},        {"Source 16", 20},
        {"Dot Size", 33},       {"Match Source Colors", 39},
        {"Dot Color", 40},      {"Center Out Fan (%)", 57},
        {"Particle Color", 74}, {"Source 0", -1},
        {"Source 17", -1},      {"Source 01", -1},
        {"Source %d", -1},      {"Source ", -1},
        {"dot size", -1},       {"", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(param_index_by_name(c.name), c.index) << '"' << c.name << '"';
    }
}

TEST(ParamTable, ById) {
    ASSERT_NE(param_by_id(param_id::kCenterOutFan), nullptr);
    EXPECT_STREQ(param_by_id(param_id::kCenterOutFan)->name, "Center Out Fan (%)");
    EXPECT_EQ(param_by_id(source_slot_id(7))->slot, 7);
    EXPECT_EQ(param_by_id(0), nullptr);
    EXPECT_EQ(param_by_id(76), nullptr);
}

} // namespace
} // namespace pointillo
