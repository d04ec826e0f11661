#include "source/source_mask.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace pointillo {
namespace {

// Host pixels are premultiplied; below this alpha the colour is left white
// rather than divided by (almost) nothing. The float nearest 1e-8.
constexpr float kMinColorAlpha = 1e-8f;

// Truncates toward zero, saturating out-of-range values and sending NaN to 0,
// so the conversion is always defined.
int64_t trunc_to_int64(float v) {
    if (!(v == v)) {
        return 0;
    }
    if (v >= 9.0e18f) {
        return std::numeric_limits<int64_t>::max();
    }
    if (v <= -9.0e18f) {
        return std::numeric_limits<int64_t>::min();
    }
    return static_cast<int64_t>(v);
}

int32_t saturate_int32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Coverage from an unclamped alpha: clamped to [0, 1] (NaN counts as 0, which
// a plain min/max would pass through into the integer conversion), then
// scaled and rounded in float.
constexpr uint16_t coverage_from_alpha(float alpha) {
    const float a = !(alpha > 0.0f) ? 0.0f : (alpha < 1.0f ? alpha : 1.0f);
    return static_cast<uint16_t>(static_cast<int32_t>(a * 65535.0f + 0.5f));
}

// One pixel into the mask: coverage always, straight colour only where there
// is alpha to divide by.
inline void store_pixel(float a, float r, float g, float b, uint16_t& coverage, Rgb& color) {
    coverage = coverage_from_alpha(a);
    if (a > kMinColorAlpha) {
        color = Rgb{r / a, g / a, b / a};
    }
}

// An 8-bit channel as a float (value / 255), and an 8-bit alpha's coverage,
// for all 256 values: the same numbers the per-pixel formula gives.
constexpr std::array<float, 256> kUnit8 = [] {
    std::array<float, 256> t{};
    for (int i = 0; i < 256; ++i) {
        t[static_cast<std::size_t>(i)] = static_cast<float>(i) / 255.0f;
    }
    return t;
}();

constexpr std::array<uint16_t, 256> kCoverage8 = [] {
    std::array<uint16_t, 256> t{};
    for (std::size_t i = 0; i < 256; ++i) {
        t[i] = coverage_from_alpha(kUnit8[i]);
    }
    return t;
}();

void sample_row_8(const std::byte* src, int64_t count, uint16_t* coverage, Rgb* colors) {
    const auto* p = reinterpret_cast<const unsigned char*>(src);
    for (int64_t c = 0; c < count; ++c, p += 4) {
        const unsigned char alpha = p[0];
        coverage[c] = kCoverage8[alpha];
        // Alpha 0 is the only 8-bit value at or below the colour threshold.
        if (alpha != 0) {
            const float a = kUnit8[alpha];
            colors[c] = Rgb{kUnit8[p[1]] / a, kUnit8[p[2]] / a, kUnit8[p[3]] / a};
        }
    }
}

void sample_row_16(const std::byte* src, int64_t count, uint16_t* coverage, Rgb* colors) {
    for (int64_t c = 0; c < count; ++c, src += 8) {
        uint16_t v[4];
        std::memcpy(v, src, sizeof v);
        // The host's 16-bit white is 32768: value x 2^-15, exact in float.
        store_pixel(static_cast<float>(v[0]) * 0x1p-15f, static_cast<float>(v[1]) * 0x1p-15f,
                    static_cast<float>(v[2]) * 0x1p-15f, static_cast<float>(v[3]) * 0x1p-15f,
                    coverage[c], colors[c]);
    }
}

void sample_row_32(const std::byte* src, int64_t count, uint16_t* coverage, Rgb* colors) {
    for (int64_t c = 0; c < count; ++c, src += 16) {
        float v[4];
        std::memcpy(v, src, sizeof v);
        store_pixel(v[0], v[1], v[2], v[3], coverage[c], colors[c]);
    }
}

} // namespace

MaskOrigin mask_origin(int32_t output_width, int32_t output_height, float downsample_x,
                       float downsample_y, int32_t ref_width, int32_t ref_height, int32_t rect_left,
                       int32_t rect_top) {
    // The ceiling, not rounding: half of a 101-pixel layer is 51 pixels wide.
    const int64_t sw = trunc_to_int64(std::ceil(downsample_x * static_cast<float>(ref_width)));
    const int64_t sh = trunc_to_int64(std::ceil(downsample_y * static_cast<float>(ref_height)));
    // 64-bit with saturated inputs, so absurd sizes cannot overflow; C++
    // division truncates toward zero (-3 / 2 is -1), as the centring wants.
    const int64_t w = std::clamp<int64_t>(sw, -(int64_t{1} << 40), int64_t{1} << 40);
    const int64_t h = std::clamp<int64_t>(sh, -(int64_t{1} << 40), int64_t{1} << 40);
    return MaskOrigin{saturate_int32((output_width - w) / 2 + rect_left),
                      saturate_int32((output_height - h) / 2 + rect_top)};
}

uint64_t coverage_hash(const uint16_t* coverage, std::size_t count) {
    constexpr uint64_t kPrime = 0x100000001B3ull;
    uint64_t h = 0x14650FB0739D0383ull;
    std::size_t i = 0;
    // Four samples make one little-endian word, the first in the low bits.
    // Each sample is widened before its shift.
    for (; i + 4 <= count; i += 4) {
        const uint64_t word = static_cast<uint64_t>(coverage[i]) |
                              static_cast<uint64_t>(coverage[i + 1]) << 16 |
                              static_cast<uint64_t>(coverage[i + 2]) << 32 |
                              static_cast<uint64_t>(coverage[i + 3]) << 48;
        h = (h ^ word) * kPrime;
    }
    for (; i < count; ++i) {
        h = (h ^ static_cast<uint64_t>(coverage[i])) * kPrime;
    }
    return h;
}

SourceMask sample_source_mask(int32_t output_width, int32_t output_height,
                              const ConstPixelView& pixels, MaskOrigin origin,
                              const CancelCheck& cancel) {
    SourceMask mask;
    mask.width = std::max(output_width, 0);
    mask.height = std::max(output_height, 0);
    const std::size_t count =
        static_cast<std::size_t>(mask.width) * static_cast<std::size_t>(mask.height);
    mask.coverage.assign(count, 0);
    mask.colors.assign(count, Rgb{1.0f, 1.0f, 1.0f});

    if (pixels.data != nullptr && pixels.height >= 1) {
        // The columns that land inside the mask are the same for every row.
        const int64_t c_begin = std::max<int64_t>(0, -int64_t{origin.x});
        const int64_t c_end = std::min<int64_t>(pixels.width, int64_t{mask.width} - origin.x);
        const std::ptrdiff_t pixel_size = bytes_per_pixel(pixels.depth);
        for (int32_t r = 0; r < pixels.height; ++r) {
            // Rows outside the mask count towards the poll as well.
            if (r % 64 == 0) {
                cancel.poll();
            }
            const int64_t y = int64_t{origin.y} + r;
            if (y < 0 || y >= mask.height || c_begin >= c_end) {
                continue;
            }
            const std::byte* src = pixels.data + static_cast<std::ptrdiff_t>(r) * pixels.rowbytes +
                                   c_begin * pixel_size;
            const std::size_t first =
                static_cast<std::size_t>(y) * static_cast<std::size_t>(mask.width) +
                static_cast<std::size_t>(int64_t{origin.x} + c_begin);
            uint16_t* coverage = mask.coverage.data() + first;
            Rgb* colors = mask.colors.data() + first;
            switch (pixels.depth) {
            case PixelDepth::k16:
                sample_row_16(src, c_end - c_begin, coverage, colors);
                break;
            case PixelDepth::k32:
                sample_row_32(src, c_end - c_begin, coverage, colors);
                break;
            default:
                sample_row_8(src, c_end - c_begin, coverage, colors);
                break;
            }
        }
    }

    mask.coverage_hash = coverage_hash(mask.coverage.data(), mask.coverage.size());
    return mask;
}

} // namespace pointillo
