#pragma once

#include <cstdint>
#include <string_view>

namespace pointillo {

// An inclusive range of frame numbers.
struct FrameRange {
    int32_t first = 0;
    int32_t last = 0;

    int32_t count() const { return last - first + 1; }
    friend bool operator==(const FrameRange&, const FrameRange&) = default;
};

// Reads "A-B" (inclusive) or a single "N" for a scene of `frame_count` frames
// (0 to frame_count - 1). Throws InputError naming `option` when the text is
// malformed, reversed, negative or past the last frame.
FrameRange parse_frame_range(std::string_view text, int32_t frame_count, std::string_view option);

} // namespace pointillo
