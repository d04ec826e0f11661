#include "cli/base/number_text.h"

#include <charconv>

namespace pointillo {

std::string format_float(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, static_cast<float>(value));
    return std::string(text, result.ptr);
}

} // namespace pointillo
