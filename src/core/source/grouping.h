#pragma once

#include "frame/settings.h"

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace pointillo {

struct Dot;

// Letters and words found from the columns of opaque pixels alone.
struct ColumnGroups {
    std::vector<std::pair<int32_t, int32_t>> runs; // inclusive column ranges, left to right
    int32_t letter_count = 0;
    int32_t word_count = 0;
    std::vector<int32_t> letter_index; // for columns min_x .. max_x
    std::vector<int32_t> word_index;   // for columns min_x .. max_x
};

// `opaque_per_column` holds one count per mask column (size `width`); min_x and
// max_x are the first and last columns with an opaque pixel.
ColumnGroups group_columns(std::span<const int32_t> opaque_per_column, int32_t min_x, int32_t max_x,
                           int32_t width);

// When a dot starts to move, in [0, 1], from its stored keys and the settings.
float order_key(const Dot& dot, const DotSettings& settings);

} // namespace pointillo
