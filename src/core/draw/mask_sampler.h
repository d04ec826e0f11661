#pragma once

// Reading coverage and colour out of a SourceMask for the drawing code.

#include "common/color.h"
#include "source/source_mask.h"

#include <cstddef>
#include <cstdint>

namespace pointillo {

// A mask's planes, checked once: a coverage plane of the wrong size counts as
// no mask at all (0 x 0), a colour plane of the wrong size as no colour plane,
// so no later read can leave the vectors.
struct MaskSampler {
    const uint16_t* coverage = nullptr;
    const std::byte* colors = nullptr; // null: no colour plane, every colour is white
    ColorForm color_form = ColorForm::kNone;
    int32_t width = 0;
    int32_t height = 0;
};

inline MaskSampler make_mask_sampler(const SourceMask& mask) {
    MaskSampler sampler;
    if (mask.width <= 0 || mask.height <= 0) {
        return sampler;
    }
    const uint64_t count = static_cast<uint64_t>(mask.width) * static_cast<uint64_t>(mask.height);
    if (mask.coverage.size() != count) {
        return sampler;
    }
    sampler.coverage = mask.coverage.data();
    sampler.width = mask.width;
    sampler.height = mask.height;
    if (mask.colors.form != ColorForm::kNone && color_count(mask.colors) == count &&
        mask.colors.bytes.size() == count * color_bytes(mask.colors.form)) {
        sampler.colors = mask.colors.bytes.data();
        sampler.color_form = mask.colors.form;
    }
    return sampler;
}

// Index of the pixel under (x, y), coordinates truncated toward zero, or -1
// when that pixel is outside the mask (negative, beyond its size, or NaN).
// -0.5 truncates to 0 and is inside. The comparisons run before any
// conversion, so the conversion is always defined.
inline int64_t mask_index_at(const MaskSampler& mask, float x, float y) {
    if (!(x > -1.0f) || !(y > -1.0f) || !(static_cast<double>(x) < mask.width) ||
        !(static_cast<double>(y) < mask.height)) {
        return -1;
    }
    return static_cast<int64_t>(static_cast<int32_t>(y)) * mask.width + static_cast<int32_t>(x);
}

// Coverage as a fraction, 0 outside the mask.
inline float mask_coverage(const MaskSampler& mask, int64_t index) {
    return index < 0 ? 0.0f : static_cast<float>(mask.coverage[index]) / 65535.0f;
}

// Straight colour, white outside the mask or without a colour plane.
inline Rgb mask_color(const MaskSampler& mask, int64_t index) {
    if (index < 0 || mask.colors == nullptr) {
        return Rgb{1.0f, 1.0f, 1.0f};
    }
    return decode_color(mask.color_form, mask.colors + static_cast<std::size_t>(index) *
                                                           color_bytes(mask.color_form));
}

} // namespace pointillo
