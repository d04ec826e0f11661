#pragma once

#include <array>
#include <cstdint>

namespace pointillo {

// unpremultiply_8 without a division per pixel: each alpha's divisor 2a as
// a 32-bit reciprocal rounded up. Numerators stay below 2^17 and divisors
// below 2^9, so the reciprocal's excess (under 2^-15) never carries a
// quotient past the next integer: the results are unpremultiply_8's.
class Straight8 {
  public:
    Straight8() {
        reciprocal_[0] = 0;
        for (uint32_t a = 1; a < 256; ++a) {
            reciprocal_[a] = (uint64_t{1} << 32) / (2 * a) + 1;
        }
    }

    uint8_t operator()(uint32_t color, uint32_t alpha) const {
        const uint64_t straight = (uint64_t{color * 510 + alpha} * reciprocal_[alpha]) >> 32;
        return static_cast<uint8_t>(straight < 255 ? straight : 255);
    }

  private:
    std::array<uint64_t, 256> reciprocal_{};
};

// Built once, shared by every row.
inline const Straight8& straight_8() {
    static const Straight8 table;
    return table;
}

} // namespace pointillo
