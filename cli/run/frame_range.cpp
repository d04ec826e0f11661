#include "cli/run/frame_range.h"

#include "cli/base/errors.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>

namespace pointillo {

namespace {

std::optional<int32_t> parse_number(std::string_view text) {
    int32_t value = 0;
    if (text.empty() || text.size() > 10 || text[0] == '-' || text[0] == '+') {
        return std::nullopt;
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parse_seconds(std::string_view text) {
    if (text.size() < 2 || text.back() != 's' || text[0] == '-' || text[0] == '+') {
        return std::nullopt;
    }
    const std::string_view number = text.substr(0, text.size() - 1);
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value,
                                        std::chars_format::fixed);
    if (result.ec != std::errc{} || result.ptr != number.data() + number.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

struct Reader {
    FrameTimes times;
    std::string where; // "--frames 0-2s: "

    double seconds_of(int32_t frame) const {
        return static_cast<double>(frame) * 1000.0 / static_cast<double>(times.time_scale);
    }

    std::string last_frame_text() const {
        const int32_t last = times.frame_count - 1;
        return "the scene has frames 0 to " + std::to_string(last) + " (the last at " +
               format_seconds_short(seconds_of(last)) + " s)";
    }

    int32_t end(std::string_view text) const {
        if (text.size() > 1 && text[0] == '-' &&
            std::isdigit(static_cast<unsigned char>(text[1]))) {
            throw InputError(where + "frame numbers and times start at 0");
        }
        if (const auto number = parse_number(text)) {
            if (*number >= times.frame_count) {
                throw InputError(where + last_frame_text());
            }
            return *number;
        }
        if (const auto seconds = parse_seconds(text); seconds && times.time_scale > 0) {
            // A time a hair before a frame's own (the decimal 0.1 is not
            // exact) still names that frame.
            const double frame =
                std::floor(*seconds * static_cast<double>(times.time_scale) / 1000.0 + 1e-6);
            if (!(frame < static_cast<double>(times.frame_count))) {
                throw InputError(where + std::string(text) + " is past the end; " +
                                 last_frame_text());
            }
            return static_cast<int32_t>(frame);
        }
        throw InputError(where + "expected a frame number N or a range A-B, each end a whole " +
                         "number from 0 or a time in seconds such as 1.5s");
    }
};

} // namespace

std::string format_seconds_short(double seconds) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed, 3);
    std::string out(text, result.ptr);
    if (out.find('.') != std::string::npos) {
        out.erase(out.find_last_not_of('0') + 1);
        if (out.back() == '.') {
            out.pop_back();
        }
    }
    return out == "-0" ? "0" : out;
}

FrameRange parse_frame_range(std::string_view text, FrameTimes times, std::string_view option) {
    const Reader reader{times, std::string(option) + " " + std::string(text) + ": "};
    // A leading '-' is a negative start, not the range's dash.
    const size_t dash = text.find('-', 1);
    FrameRange range;
    if (dash == std::string_view::npos) {
        range.first = reader.end(text);
        range.last = range.first;
        return range;
    }
    range.first = reader.end(text.substr(0, dash));
    range.last = reader.end(text.substr(dash + 1));
    if (range.first > range.last) {
        throw InputError(reader.where + "the first frame comes after the last");
    }
    return range;
}

int32_t parse_frame(std::string_view text, FrameTimes times, std::string_view option) {
    const Reader reader{times, std::string(option) + " " + std::string(text) + ": "};
    if (text.find('-', 1) != std::string_view::npos) {
        throw InputError(reader.where + "takes one frame; use --frames A-B for a range");
    }
    return reader.end(text);
}

} // namespace pointillo
