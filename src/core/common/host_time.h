#pragma once

#include <cstdint>

namespace pointillo {

// Seconds of a host time: time / time_scale in double, a time scale of 0 (or
// less) counting as 1. Every host's times and scales fit in 64 bits exactly.
constexpr double host_seconds(int64_t time, int64_t time_scale) {
    return static_cast<double>(time) / static_cast<double>(time_scale > 1 ? time_scale : 1);
}

} // namespace pointillo
