#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pointillo {

// An inclusive range of frame numbers.
struct FrameRange {
    int32_t first = 0;
    int32_t last = 0;

    int32_t count() const { return last - first + 1; }
    friend bool operator==(const FrameRange&, const FrameRange&) = default;
};

// The frames of a scene: `frame_count` of them, frame n at n x 1000 host time
// units of `time_scale` a second.
struct FrameTimes {
    int32_t frame_count = 0;
    int32_t time_scale = 0;
};

// Reads "A-B" (inclusive) or a single "N" for `times`. Each end is a frame
// number from 0 or a time in seconds written with an "s" ("1.5s"), which names
// the frame showing at that time: the last one that starts at or before it.
// Throws InputError naming `option` when the text is malformed, reversed,
// negative or past the last frame.
FrameRange parse_frame_range(std::string_view text, FrameTimes times, std::string_view option);

// The same for one frame only ("N" or "1.5s").
int32_t parse_frame(std::string_view text, FrameTimes times, std::string_view option);

// Seconds for messages: up to three decimals, trailing zeros dropped ("1.5",
// "2", "5.967").
std::string format_seconds_short(double seconds);

} // namespace pointillo
