#pragma once

// The colour plane of a source mask. An 8- or 16-bit source is kept as its
// own premultiplied pixels (4 or 8 bytes a pixel instead of 12) and the
// straight colour is formed when read, by the very division sampling used to
// make; a 32-bit source, whose straight colour takes less room than its
// pixels, keeps that colour.

#include "common/color.h"
#include "memory/buffer_pool.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace pointillo {

enum class ColorForm : uint8_t {
    kNone,     // no colour plane: every colour is white
    kArgb8,    // the source's 8-bit alpha, red, green, blue
    kArgb16,   // the source's 16-bit alpha, red, green, blue (white 32768)
    kStraight, // three floats of straight colour
};

// A straight plane is read and written as packed floats.
static_assert(sizeof(Rgb) == 3 * sizeof(float));

constexpr std::size_t color_bytes(ColorForm form) {
    return form == ColorForm::kArgb8      ? 4
           : form == ColorForm::kArgb16   ? 8
           : form == ColorForm::kStraight ? sizeof(Rgb)
                                          : 0;
}

// Leaves the bytes a plane grows by unset: sampling writes every pixel once,
// so clearing them first would only double the writes. The storage is pooled:
// a frame makes a mask per distinct source, each as large as the output.
template <class T> struct UnsetAllocator : PoolAllocator<T> {
    UnsetAllocator() = default;
    template <class U> UnsetAllocator(const UnsetAllocator<U>& /*other*/) noexcept {}
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <class U, class... Args> void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// One plane of color_bytes(form) per pixel, row-major like the coverage.
struct MaskColors {
    ColorForm form = ColorForm::kNone;
    std::vector<std::byte, UnsetAllocator<std::byte>> bytes;

    friend bool operator==(const MaskColors&, const MaskColors&) = default;
};

inline std::size_t color_count(const MaskColors& colors) {
    const std::size_t size = color_bytes(colors.form);
    return size == 0 ? 0 : colors.bytes.size() / size;
}

// Host pixels are premultiplied; below this alpha the colour is left white
// rather than divided by (almost) nothing. The float nearest 1e-8.
constexpr float kMinColorAlpha = 1e-8f;

// An 8-bit channel as a float: value / 255, for all 256 values.
inline constexpr std::array<float, 256> kUnit8 = [] {
    std::array<float, 256> t{};
    for (int i = 0; i < 256; ++i) {
        t[static_cast<std::size_t>(i)] = static_cast<float>(i) / 255.0f;
    }
    return t;
}();

// The straight colour of premultiplied channels: divided by alpha where there
// is alpha to divide by, white elsewhere.
inline Rgb straight_color(float a, float r, float g, float b) {
    return a > kMinColorAlpha ? Rgb{r / a, g / a, b / a} : Rgb{1.0f, 1.0f, 1.0f};
}

// The straight colour of one stored pixel of a plane of form `form` (not
// kNone).
inline Rgb decode_color(ColorForm form, const std::byte* pixel) {
    switch (form) {
    case ColorForm::kArgb8: {
        unsigned char v[4];
        std::memcpy(v, pixel, sizeof v);
        // Alpha 0 is the only 8-bit value at or below the colour threshold.
        if (v[0] == 0) {
            return Rgb{1.0f, 1.0f, 1.0f};
        }
        const float a = kUnit8[v[0]];
        return Rgb{kUnit8[v[1]] / a, kUnit8[v[2]] / a, kUnit8[v[3]] / a};
    }
    case ColorForm::kArgb16: {
        uint16_t v[4];
        std::memcpy(v, pixel, sizeof v);
        // value x 2^-15, exact in float.
        return straight_color(
            static_cast<float>(v[0]) * 0x1p-15f, static_cast<float>(v[1]) * 0x1p-15f,
            static_cast<float>(v[2]) * 0x1p-15f, static_cast<float>(v[3]) * 0x1p-15f);
    }
    default: {
        Rgb c;
        std::memcpy(&c, pixel, sizeof c);
        return c;
    }
    }
}

// The straight colours of `count` stored pixels from `pixels` on, the form
// settled once for the run.
inline void decode_colors(ColorForm form, const std::byte* pixels, std::size_t count, Rgb* out) {
    switch (form) {
    case ColorForm::kArgb8:
        for (std::size_t k = 0; k < count; ++k) {
            out[k] = decode_color(ColorForm::kArgb8, pixels + 4 * k);
        }
        break;
    case ColorForm::kArgb16:
        for (std::size_t k = 0; k < count; ++k) {
            out[k] = decode_color(ColorForm::kArgb16, pixels + 8 * k);
        }
        break;
    default:
        std::memcpy(out, pixels, count * sizeof(Rgb));
        break;
    }
}

// The colour at `index` (below color_count), white without a plane.
inline Rgb color_at(const MaskColors& colors, std::size_t index) {
    if (colors.form == ColorForm::kNone) {
        return Rgb{1.0f, 1.0f, 1.0f};
    }
    return decode_color(colors.form, colors.bytes.data() + index * color_bytes(colors.form));
}

// A plane of `count` straight colours, all `fill`.
MaskColors straight_colors(std::size_t count, Rgb fill);

// Sets the straight colour at `index` of a kStraight plane.
inline void set_color(MaskColors& colors, std::size_t index, Rgb color) {
    std::memcpy(colors.bytes.data() + index * sizeof(Rgb), &color, sizeof color);
}

} // namespace pointillo
