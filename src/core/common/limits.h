#pragma once

#include <cstdint>

namespace pointillo {

// Largest canvas or output the effect draws: 64 Mi pixels (8192 x 8192).
constexpr uint64_t kMaxPixels = 67'108'864;

// True when w x h pixels is a size the effect can draw. Each side is bounded
// first, so the 64-bit product cannot wrap for any pair of inputs.
constexpr bool pixel_count_ok(int64_t width, int64_t height) {
    return width >= 1 && height >= 1 && static_cast<uint64_t>(width) <= kMaxPixels &&
           static_cast<uint64_t>(height) <= kMaxPixels &&
           static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <= kMaxPixels;
}

} // namespace pointillo
