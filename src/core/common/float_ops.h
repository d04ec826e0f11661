#pragma once

// Float rules every part of the core shares, written once: frames are
// compared bit for bit, so each is one fixed sequence of operations.

namespace pointillo {

// Clamps that turn NaN into the lower bound (std::clamp, std::min and
// std::max pass a NaN through, and a NaN reaching an int conversion is UB).
inline float clamp01(float v) {
    return !(v > 0.0f) ? 0.0f : (v < 1.0f ? v : 1.0f);
}
inline float clamp_f(float v, float lo, float hi) {
    return !(v > lo) ? lo : (v < hi ? v : hi);
}
inline float max_f(float v, float lo) {
    return v > lo ? v : lo;
}
inline float min_f(float v, float hi) {
    return v < hi ? v : hi;
}

// from + t x (to - from): t = 0 gives `from` exactly.
inline float mix(float from, float to, float t) {
    return from + t * (to - from);
}

// Smoothstep of e in [0, 1].
inline float ease(float e) {
    return e * e * (3.0f - 2.0f * e);
}

} // namespace pointillo
