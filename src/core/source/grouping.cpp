#include "source/grouping.h"

#include <algorithm>
#include <cstddef>

namespace pointillo {

ColumnGroups group_columns(std::span<const int32_t> opaque_per_column, int32_t min_x, int32_t max_x,
                           int32_t width) {
    ColumnGroups groups;
    const int32_t columns = static_cast<int32_t>(opaque_per_column.size());
    if (min_x < 0 || max_x < min_x || max_x >= columns) {
        return groups;
    }
    auto opaque = [&](int32_t c) { return opaque_per_column[static_cast<std::size_t>(c)] > 0; };

    // Letters: maximal runs of columns holding at least one opaque pixel.
    for (int32_t c = min_x; c <= max_x;) {
        if (!opaque(c)) {
            ++c;
            continue;
        }
        const int32_t start = c;
        while (c + 1 <= max_x && opaque(c + 1)) {
            ++c;
        }
        groups.runs.emplace_back(start, c);
        ++c;
    }
    groups.letter_count = static_cast<int32_t>(groups.runs.size());
    if (groups.runs.empty()) {
        return groups;
    }

    // A gap wider than a third of the typical letter (and than 3 columns)
    // separates words. The median is the upper middle value for even counts.
    std::vector<int32_t> widths;
    widths.reserve(groups.runs.size());
    for (const auto& [start, end] : groups.runs) {
        widths.push_back(end - start + 1);
    }
    std::sort(widths.begin(), widths.end());
    const float median = static_cast<float>(widths[widths.size() / 2]);
    const float threshold = std::max(0.33f * median, 3.0f);

    const std::size_t span = static_cast<std::size_t>(max_x - min_x) + 1;
    groups.letter_index.assign(span, 0);
    groups.word_index.assign(span, 0);

    // Empty columns between two letters are split at the midpoint (the
    // midpoint column going right), so every column has an owner.
    const std::size_t n = groups.runs.size();
    int32_t word = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const auto [start, end] = groups.runs[k];
        int32_t c_lo = min_x;
        if (k > 0) {
            const int32_t previous_end = groups.runs[k - 1].second;
            if (static_cast<float>(start - previous_end - 1) > threshold) {
                ++word;
            }
            c_lo = (previous_end + start) / 2;
        }
        int32_t c_hi = k + 1 < n ? (end + groups.runs[k + 1].first) / 2 : max_x + 1;
        c_hi = std::min(c_hi, width);
        for (int32_t c = c_lo; c < c_hi; ++c) {
            groups.letter_index[static_cast<std::size_t>(c - min_x)] = static_cast<int32_t>(k);
            groups.word_index[static_cast<std::size_t>(c - min_x)] = word;
        }
    }
    groups.word_count = word + 1;
    return groups;
}

} // namespace pointillo
