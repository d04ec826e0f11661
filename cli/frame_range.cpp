#include "cli/frame_range.h"

#include "cli/errors.h"

#include <charconv>
#include <string>

namespace pointillo {

namespace {

bool parse_frame(std::string_view text, int32_t& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc{} && result.ptr == text.data() + text.size() && value >= 0;
}

} // namespace

FrameRange parse_frame_range(std::string_view text, int32_t frame_count, std::string_view option) {
    const std::string where = std::string(option) + " " + std::string(text) + ": ";
    FrameRange range;
    const size_t dash = text.find('-');
    const bool ok = dash == std::string_view::npos
                        ? parse_frame(text, range.first)
                        : parse_frame(text.substr(0, dash), range.first) &&
                              parse_frame(text.substr(dash + 1), range.last);
    if (!ok) {
        throw InputError(where + "expected a frame number N or a range A-B of whole numbers " +
                         "from 0");
    }
    if (dash == std::string_view::npos) {
        range.last = range.first;
    }
    if (range.first > range.last) {
        throw InputError(where + "the first frame comes after the last");
    }
    if (range.last >= frame_count) {
        throw InputError(where + "the scene has frames 0 to " + std::to_string(frame_count - 1));
    }
    return range;
}

} // namespace pointillo
