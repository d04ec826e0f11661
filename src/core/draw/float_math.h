#pragma once

// Float helpers shared by the drawing code. Every frame is compared bit for
// bit with other builds, so the transcendental functions run in double and are
// rounded to float once: the platforms' float versions differ in the last bit,
// their double results rounded to float agree.

#include "common/bit_cast.h"
#include "common/float_ops.h"

#include <cmath>
#include <cstdint>

namespace pointillo::draw_math {

constexpr float kPi = 3.14159265358979323846f;

inline float sin_f(float v) {
    return static_cast<float>(std::sin(static_cast<double>(v)));
}
inline float cos_f(float v) {
    return static_cast<float>(std::cos(static_cast<double>(v)));
}
inline float sqrt_f(float v) {
    return static_cast<float>(std::sqrt(static_cast<double>(v)));
}
inline float hypot_f(float a, float b) {
    return static_cast<float>(std::hypot(static_cast<double>(a), static_cast<double>(b)));
}

// The same float as hypot_f(dx, dy), for non-negative finite dx and dy,
// without the library call in the common case. The squares of floats are exact
// in double, so sqrt of their sum is within one double ulp of the true length;
// the library result is too. Rounded to float they can only disagree when the
// double lies right next to a midpoint between two floats (the 29 bits below
// float precision close to 0x10000000), and there we ask the library. The
// margin is thousands of ulps wide, so the fast path never needs the library
// to be correctly rounded. `dy2` is double(dy) squared.
constexpr uint32_t kHypotMargin = 1u << 12; // in double ulps, either side of the midpoint

inline float hypot_fast(float dx, float dy, double dy2) {
    const double dxd = static_cast<double>(dx);
    const double r = std::sqrt(dxd * dxd + dy2);
    const uint32_t low = static_cast<uint32_t>(pointillo::bit_cast<uint64_t>(r)) & 0x1FFFFFFFu;
    // The plain form: |low - 0x10000000| < margin, or r so small that float
    // rounding happens at a subnormal position.
    if (low - (0x10000000u - kHypotMargin) < 2u * kHypotMargin || (r < 0x1p-120 && r > 0.0)) {
        return hypot_f(dx, dy);
    }
    return static_cast<float>(r);
}

} // namespace pointillo::draw_math
