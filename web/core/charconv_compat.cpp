#include "charconv_compat.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace std {
namespace {

to_chars_result put(char* first, char* last, const std::string& text) {
    if (static_cast<size_t>(last - first) < text.size()) {
        return {last, errc::value_too_large};
    }
    std::memcpy(first, text.data(), text.size());
    return {first + text.size(), errc{}};
}

// The shortest decimal digits that read back as `value` (as a double, or as
// a float when `as_float`), with the exponent of the first digit.
void shortest_digits(double value, bool as_float, std::string& digits, int& exponent) {
    char buf[64];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*e", precision - 1, value);
        const double back = std::strtod(buf, nullptr);
        const bool same =
            as_float ? static_cast<float>(back) == static_cast<float>(value) : back == value;
        if (same) {
            break;
        }
    }
    const char* e = std::strchr(buf, 'e');
    exponent = std::atoi(e + 1);
    digits.clear();
    for (const char* p = buf; p < e; ++p) {
        if (*p >= '0' && *p <= '9') {
            digits += *p;
        }
    }
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }
}

to_chars_result shortest(char* first, char* last, double value, bool as_float) {
    if (std::isnan(value)) {
        return put(first, last, std::signbit(value) ? "-nan" : "nan");
    }
    if (std::isinf(value)) {
        return put(first, last, value < 0 ? "-inf" : "inf");
    }
    const std::string sign = std::signbit(value) ? "-" : "";
    if (value == 0.0) {
        return put(first, last, sign + "0");
    }
    std::string digits;
    int exponent = 0;
    shortest_digits(std::fabs(value), as_float, digits, exponent);
    const int n = static_cast<int>(digits.size());

    std::string fixed;
    if (exponent >= n - 1) {
        fixed = digits + std::string(static_cast<size_t>(exponent - (n - 1)), '0');
    } else if (exponent >= 0) {
        fixed = digits.substr(0, static_cast<size_t>(exponent + 1)) + "." +
                digits.substr(static_cast<size_t>(exponent + 1));
    } else {
        fixed = "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    }
    std::string scientific = digits.substr(0, 1);
    if (n > 1) {
        scientific += "." + digits.substr(1);
    }
    char exp_text[16];
    std::snprintf(exp_text, sizeof exp_text, "e%c%02d", exponent < 0 ? '-' : '+',
                  exponent < 0 ? -exponent : exponent);
    scientific += exp_text;
    return put(first, last, sign + (fixed.size() <= scientific.size() ? fixed : scientific));
}

} // namespace

to_chars_result to_chars(char* first, char* last, double value) {
    return shortest(first, last, value, false);
}

to_chars_result to_chars(char* first, char* last, float value) {
    return shortest(first, last, static_cast<double>(value), true);
}

to_chars_result to_chars(char* first, char* last, double value, chars_format format,
                         int precision) {
    char buf[512];
    const char* spec = format == chars_format::fixed        ? "%.*f"
                       : format == chars_format::scientific ? "%.*e"
                                                            : "%.*g";
    const int n = std::snprintf(buf, sizeof buf, spec, precision, value);
    if (n < 0 || n >= static_cast<int>(sizeof buf)) {
        return {last, errc::value_too_large};
    }
    return put(first, last, std::string(buf, static_cast<size_t>(n)));
}

from_chars_result from_chars(const char* first, const char* last, double& value,
                             chars_format format) {
    // The longest prefix of the accepted form: an optional minus, digits
    // with at most one point, and (unless fixed) an exponent.
    const char* p = first;
    if (p < last && *p == '-') {
        ++p;
    }
    int digits = 0;
    while (p < last && *p >= '0' && *p <= '9') {
        ++p;
        ++digits;
    }
    if (p < last && *p == '.') {
        ++p;
        while (p < last && *p >= '0' && *p <= '9') {
            ++p;
            ++digits;
        }
    }
    if (digits == 0) {
        return {first, errc::invalid_argument};
    }
    if (format != chars_format::fixed && p < last && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        if (q < last && (*q == '+' || *q == '-')) {
            ++q;
        }
        const char* exp_digits = q;
        while (q < last && *q >= '0' && *q <= '9') {
            ++q;
        }
        if (q > exp_digits) {
            p = q;
        }
    }
    const std::string text(first, p);
    const double parsed = std::strtod(text.c_str(), nullptr);
    if (std::isinf(parsed)) {
        return {p, errc::result_out_of_range};
    }
    value = parsed;
    return {p, errc{}};
}

} // namespace std
