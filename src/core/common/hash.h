#pragma once

#include <cstdint>

namespace pointillo {

// The one integer hash behind every random value. Unsigned 32-bit arithmetic
// wraps by definition, so the multiplications are exact on every platform.
constexpr uint32_t hash32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

// A float in [0, 1) with 24 random bits: every value is exact in float.
constexpr float rand01(uint32_t x) {
    return static_cast<float>(hash32(x) >> 8) * 0x1p-24f;
}

// Random channels are spaced by the golden-ratio constant: channel k of base b
// is rand01(b + k * kGolden), all in uint32 arithmetic.
constexpr uint32_t kGolden = 0x9E3779B9u;

} // namespace pointillo
