#pragma once

// Small hand-made masks, dots and clouds for the drawing tests: plain values,
// so nothing here depends on the cloud builder.

#include "common/color.h"
#include "draw/canvas.h"
#include "draw/kernels.h"
#include "draw/motion.h"
#include "source/cloud.h"
#include "source/source_mask.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

namespace pointillo {

// Popup choices print as their item numbers in failure messages.
inline std::ostream& operator<<(std::ostream& out, DotShape v) {
    return out << static_cast<int>(v);
}
inline std::ostream& operator<<(std::ostream& out, MotionStyle v) {
    return out << static_cast<int>(v);
}
inline std::ostream& operator<<(std::ostream& out, TransitionBy v) {
    return out << static_cast<int>(v);
}
inline std::ostream& operator<<(std::ostream& out, SolidPhase v) {
    return out << static_cast<int>(v);
}
inline std::ostream& operator<<(std::ostream& out, DrawLevel v) {
    switch (v) {
    case DrawLevel::kPortable:
        return out << "portable";
    case DrawLevel::kSse2:
        return out << "SSE2";
    case DrawLevel::kAvx2:
        return out << "AVX2";
    }
    return out << "level " << static_cast<int>(v);
}

} // namespace pointillo

namespace pointillo::test {

// Every "Dot Shape" choice, for loops over them.
inline constexpr DotShape kAllDotShapes[] = {DotShape::kCircle, DotShape::kSquare,
                                             DotShape::kDiamond, DotShape::kRing};

// Every drawing form, lowest first.
inline constexpr DrawLevel kAllDrawLevels[] = {DrawLevel::kPortable, DrawLevel::kSse2,
                                               DrawLevel::kAvx2};

// The reference form.
inline const DrawKernels& portable_kernels() {
    return *draw_kernels(DrawLevel::kPortable);
}

// Runs `check(kernels)` with the table of every form this build has and this
// processor runs, the portable one first; a failure names the form.
template <class Check> void for_each_form(Check check) {
    for (const DrawLevel level : kAllDrawLevels) {
        const DrawKernels* kernels = draw_kernels(level);
        if (kernels == nullptr) {
            continue;
        }
        SCOPED_TRACE(::testing::Message() << "drawing form " << level);
        check(*kernels);
    }
}

// A mask of uniform coverage; with a colour plane when `color` is given.
inline SourceMask uniform_mask(int32_t width, int32_t height, uint16_t coverage,
                               const Rgb* color = nullptr) {
    SourceMask mask;
    mask.width = width;
    mask.height = height;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    mask.coverage.assign(count, coverage);
    if (color != nullptr) {
        mask.colors = straight_colors(count, *color);
    }
    return mask;
}

inline Dot dot_at(float x, float y) {
    Dot dot;
    dot.x = x;
    dot.y = y;
    return dot;
}

inline Cloud cloud_of(std::vector<Dot> dots, float spacing = 8.0f) {
    Cloud cloud;
    cloud.dots = std::move(dots);
    cloud.spacing = spacing;
    return cloud;
}

// Bit-for-bit equality of two canvases (a NaN equals itself here).
inline bool same_pixels(const Canvas& a, const Canvas& b) {
    return a.width == b.width && a.height == b.height && a.pixels.size() == b.pixels.size() &&
           (a.pixels.empty() || std::memcmp(a.pixels.data(), b.pixels.data(),
                                            a.pixels.size() * sizeof(PremultipliedPixel)) == 0);
}

inline bool all_transparent(const Canvas& canvas) {
    for (const PremultipliedPixel& p : canvas.pixels) {
        if (p.alpha != 0.0f || p.red != 0.0f || p.green != 0.0f || p.blue != 0.0f) {
            return false;
        }
    }
    return true;
}

inline const PremultipliedPixel& pixel(const Canvas& canvas, int32_t x, int32_t y) {
    return canvas.pixels[static_cast<size_t>(y) * static_cast<size_t>(canvas.width) +
                         static_cast<size_t>(x)];
}

// Settings that keep a dot on the straight line between its two ends: no
// scatter, no noise, no solid phases, no stagger.
inline DotSettings straight_settings() {
    DotSettings settings;
    settings.motion_style = MotionStyle::kDrift;
    settings.scatter = 0.0f;
    settings.chaos_amount = 0.0f;
    settings.form_solid_source = false;
    settings.transition_by = TransitionBy::kEntireLayer;
    return settings;
}

} // namespace pointillo::test
