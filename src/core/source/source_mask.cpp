#include "source/source_mask.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace pointillo {
namespace {

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

// An 8-bit alpha's coverage for all 256 values: the per-pixel formula's.
constexpr std::array<uint16_t, 256> kCoverage8 = [] {
    std::array<uint16_t, 256> t{};
    for (std::size_t i = 0; i < 256; ++i) {
        t[i] = coverage_from_alpha(kUnit8[i]);
    }
    return t;
}();

bool has_pixels(const ConstPixelView& pixels) {
    return pixels.data != nullptr && pixels.height >= 1;
}

ColorForm form_of(PixelDepth depth) {
    return depth == PixelDepth::k16   ? ColorForm::kArgb16
           : depth == PixelDepth::k32 ? ColorForm::kStraight
                                      : ColorForm::kArgb8;
}

// The pixels of a mask that sampling writes: rows [y0, y1), columns [x0, x1).
struct Landing {
    int64_t x0 = 0;
    int64_t x1 = 0;
    int64_t y0 = 0;
    int64_t y1 = 0;
};

// Coverage 0 and white everywhere but where sampling is about to write
// colours: an 8- or 16-bit plane of zeros (alpha 0) reads white, a straight
// plane holds white itself.
SourceMask blank_mask(int32_t output_width, int32_t output_height, ColorForm form,
                      Landing written = {}) {
    SourceMask mask;
    mask.width = std::max(output_width, 0);
    mask.height = std::max(output_height, 0);
    const std::size_t count =
        static_cast<std::size_t>(mask.width) * static_cast<std::size_t>(mask.height);
    mask.coverage.assign(count, 0);
    mask.colors.form = form;
    const std::size_t size = color_bytes(form);
    mask.colors.bytes.resize(count * size);
    if (size == 0 || count == 0) {
        return mask;
    }
    auto fill = [&](int64_t y, int64_t x0, int64_t x1) {
        std::byte* p = mask.colors.bytes.data() + static_cast<std::size_t>(y * mask.width) * size;
        if (form != ColorForm::kStraight) {
            std::memset(p + x0 * static_cast<int64_t>(size), 0,
                        static_cast<std::size_t>(x1 - x0) * size);
            return;
        }
        const Rgb white{1.0f, 1.0f, 1.0f};
        for (int64_t x = x0; x < x1; ++x) {
            std::memcpy(p + x * static_cast<int64_t>(sizeof white), &white, sizeof white);
        }
    };
    for (int64_t y = 0; y < mask.height; ++y) {
        if (y >= written.y0 && y < written.y1 && written.x0 < written.x1) {
            fill(y, 0, written.x0);
            fill(y, written.x1, mask.width);
        } else {
            fill(y, 0, mask.width);
        }
    }
    return mask;
}

// Each row function writes every pixel it is given, colour included, so a row
// can be sampled over a copy of another mask.
void sample_row_8(const std::byte* src, int64_t count, uint16_t* coverage, std::byte* colors) {
    const auto* p = reinterpret_cast<const unsigned char*>(src);
    for (int64_t c = 0; c < count; ++c) {
        coverage[c] = kCoverage8[p[4 * c]];
    }
    std::memcpy(colors, src, static_cast<std::size_t>(count) * 4);
}

void sample_row_16(const std::byte* src, int64_t count, uint16_t* coverage, std::byte* colors) {
    for (int64_t c = 0; c < count; ++c) {
        uint16_t alpha;
        std::memcpy(&alpha, src + 8 * c, sizeof alpha);
        // The host's 16-bit white is 32768: value x 2^-15, exact in float.
        coverage[c] = coverage_from_alpha(static_cast<float>(alpha) * 0x1p-15f);
    }
    std::memcpy(colors, src, static_cast<std::size_t>(count) * 8);
}

void sample_row_32(const std::byte* src, int64_t count, uint16_t* coverage, std::byte* colors) {
    for (int64_t c = 0; c < count; ++c) {
        float v[4];
        std::memcpy(v, src + 16 * c, sizeof v);
        coverage[c] = coverage_from_alpha(v[0]);
        const Rgb color = straight_color(v[0], v[1], v[2], v[3]);
        std::memcpy(colors + sizeof(Rgb) * c, &color, sizeof color);
    }
}

void sample_row(PixelDepth depth, const std::byte* src, int64_t count, SourceMask& mask,
                std::size_t first) {
    uint16_t* coverage = mask.coverage.data() + first;
    std::byte* colors = mask.colors.bytes.data() + first * color_bytes(mask.colors.form);
    switch (depth) {
    case PixelDepth::k16:
        sample_row_16(src, count, coverage, colors);
        break;
    case PixelDepth::k32:
        sample_row_32(src, count, coverage, colors);
        break;
    default:
        sample_row_8(src, count, coverage, colors);
        break;
    }
}

// Whether a row of lent pixels samples to what `mask` holds from `first` on.
// 8- and 16-bit masks keep the pixels themselves, and coverage follows from
// alpha; a 32-bit mask keeps only what sampling made of them.
bool row_matches(PixelDepth depth, const std::byte* src, int64_t count, const SourceMask& mask,
                 std::size_t first) {
    if (depth != PixelDepth::k32) {
        return std::memcmp(src, mask.colors.bytes.data() + first * color_bytes(mask.colors.form),
                           static_cast<std::size_t>(count) * color_bytes(mask.colors.form)) == 0;
    }
    // A stretch at a time, branch-free, so the compiler can run the
    // divisions side by side; the values are those of sample_row_32.
    constexpr int64_t kStretch = 64;
    for (int64_t c0 = 0; c0 < count; c0 += kStretch) {
        const int64_t n = count - c0 < kStretch ? count - c0 : kStretch;
        uint16_t coverage[kStretch];
        float straight[kStretch * 3];
        for (int64_t c = 0; c < n; ++c) {
            float v[4];
            std::memcpy(v, src + 16 * (c0 + c), sizeof v);
            coverage[c] = coverage_from_alpha(v[0]);
            const bool divide = v[0] > kMinColorAlpha;
            const float a = divide ? v[0] : 1.0f;
            straight[3 * c] = divide ? v[1] / a : 1.0f;
            straight[3 * c + 1] = divide ? v[2] / a : 1.0f;
            straight[3 * c + 2] = divide ? v[3] / a : 1.0f;
        }
        const std::size_t at = first + static_cast<std::size_t>(c0);
        if (std::memcmp(coverage, mask.coverage.data() + at, static_cast<std::size_t>(n) * 2) !=
                0 ||
            std::memcmp(straight, mask.colors.bytes.data() + at * sizeof(Rgb),
                        static_cast<std::size_t>(n) * sizeof(Rgb)) != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

MaskOrigin mask_origin(const OutputGrid& output, const LayerPart& part) {
    // The ceiling, not rounding: half of a 101-pixel layer is 51 pixels wide.
    const int64_t sw =
        trunc_to_int64(std::ceil(output.downsample_x * static_cast<float>(part.ref_width)));
    const int64_t sh =
        trunc_to_int64(std::ceil(output.downsample_y * static_cast<float>(part.ref_height)));
    // 64-bit with saturated inputs, so absurd sizes cannot overflow; C++
    // division truncates toward zero (-3 / 2 is -1), as the centring wants.
    const int64_t w = std::clamp<int64_t>(sw, -(int64_t{1} << 40), int64_t{1} << 40);
    const int64_t h = std::clamp<int64_t>(sh, -(int64_t{1} << 40), int64_t{1} << 40);
    return MaskOrigin{saturate_int32((output.width - w) / 2 + part.left),
                      saturate_int32((output.height - h) / 2 + part.top)};
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

MaskPlacement mask_placement(int32_t output_width, int32_t output_height,
                             const ConstPixelView& pixels, MaskOrigin origin) {
    MaskPlacement placement;
    placement.output_width = output_width;
    placement.output_height = output_height;
    placement.origin = origin;
    if (has_pixels(pixels)) {
        placement.width = pixels.width;
        placement.height = pixels.height;
        placement.depth = pixels.depth;
    }
    return placement;
}

int32_t sample_or_reuse(std::span<const SourceMask* const> earlier, int32_t output_width,
                        int32_t output_height, const ConstPixelView& pixels, MaskOrigin origin,
                        const CancelCheck& cancel, SourceMask& out) {
    // Positions in `earlier` of the masks that match every row so far.
    std::vector<int32_t> matching;
    matching.reserve(earlier.size());
    for (std::size_t k = 0; k < earlier.size(); ++k) {
        matching.push_back(static_cast<int32_t>(k));
    }
    // Set once no earlier mask matches: the rows from there on are sampled
    // into it.
    SourceMask* building = nullptr;

    if (has_pixels(pixels)) {
        const int64_t width = std::max(output_width, 0);
        const int64_t height = std::max(output_height, 0);
        // The columns that land inside the mask are the same for every row.
        const int64_t c_begin = std::max<int64_t>(0, -int64_t{origin.x});
        const int64_t c_end = std::min<int64_t>(pixels.width, width - origin.x);
        const std::ptrdiff_t pixel_size = bytes_per_pixel(pixels.depth);
        auto source_row = [&](int32_t r) {
            return pixels.data + static_cast<std::ptrdiff_t>(r) * pixels.rowbytes +
                   c_begin * pixel_size;
        };
        auto lands = [&](int64_t y) { return y >= 0 && y < height && c_begin < c_end; };
        // One differing row proves a mask differs, and the host sees none of
        // these reads: a look at every 16th row first drops most masks of
        // other sources for a sixteenth of a whole comparison.
        std::erase_if(matching, [&](int32_t k) {
            for (int32_t r = 8; r < pixels.height; r += 16) {
                const int64_t y = int64_t{origin.y} + r;
                if (lands(y) &&
                    !row_matches(pixels.depth, source_row(r), c_end - c_begin,
                                 *earlier[static_cast<std::size_t>(k)],
                                 static_cast<std::size_t>(y * width + origin.x + c_begin))) {
                    return true;
                }
            }
            return false;
        });
        for (int32_t r = 0; r < pixels.height; ++r) {
            // Rows outside the mask count towards the poll as well.
            if (r % 64 == 0) {
                cancel.poll();
            }
            const int64_t y = int64_t{origin.y} + r;
            if (!lands(y)) {
                continue;
            }
            const std::byte* src = source_row(r);
            const std::size_t first = static_cast<std::size_t>(y * width + origin.x + c_begin);
            if (building == nullptr) {
                int32_t dropped = -1;
                std::erase_if(matching, [&](int32_t k) {
                    const bool differs = !row_matches(pixels.depth, src, c_end - c_begin,
                                                      *earlier[static_cast<std::size_t>(k)], first);
                    dropped = differs ? k : dropped;
                    return differs;
                });
                if (!matching.empty()) {
                    continue;
                }
                // Rows before this one are those of the mask matched last.
                // (Not one conditional expression: its const result would be
                // copied, not moved.)
                if (dropped >= 0) {
                    out = *earlier[static_cast<std::size_t>(dropped)];
                } else {
                    out = blank_mask(
                        output_width, output_height, form_of(pixels.depth),
                        Landing{origin.x + c_begin, origin.x + c_end, y,
                                std::min<int64_t>(height, int64_t{origin.y} + pixels.height)});
                }
                building = &out;
            }
            sample_row(pixels.depth, src, c_end - c_begin, out, first);
        }
    }

    if (building == nullptr) {
        if (!matching.empty()) {
            return matching.front();
        }
        out = blank_mask(output_width, output_height,
                         has_pixels(pixels) ? form_of(pixels.depth) : ColorForm::kNone);
    }
    out.coverage_hash = coverage_hash(out.coverage.data(), out.coverage.size());
    return -1;
}

SourceMask sample_source_mask(int32_t output_width, int32_t output_height,
                              const ConstPixelView& pixels, MaskOrigin origin,
                              const CancelCheck& cancel) {
    SourceMask mask;
    sample_or_reuse({}, output_width, output_height, pixels, origin, cancel, mask);
    return mask;
}

MaskColors straight_colors(std::size_t count, Rgb fill) {
    MaskColors colors;
    colors.form = ColorForm::kStraight;
    colors.bytes.resize(count * sizeof(Rgb));
    for (std::size_t k = 0; k < count; ++k) {
        set_color(colors, k, fill);
    }
    return colors;
}

} // namespace pointillo
