#include "common/hash.h"
#include "draw/dot_batch.h"
#include "draw_fixtures.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>
#include <vector>

namespace pointillo {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

using test::for_each_form;

// The definition of a batch: a cleared canvas, then each dot drawn alone, in
// the portable form.
Canvas drawn_one_by_one(int32_t width, int32_t height, const DotStyle& style,
                        const std::vector<DotDraw>& dots) {
    const DrawKernels& portable = test::portable_kernels();
    Canvas canvas;
    reset_canvas(canvas, width, height);
    for (const DotDraw& dot : dots) {
        if (dot.mask != nullptr) {
            draw_masked_dot(canvas, style, place_of(dot), *dot.mask, portable);
        } else {
            draw_dot(canvas, style.shape, style.softness, dot.x, dot.y, dot.radius,
                     dot.inner_radius, dot.opacity, dot.color, portable);
        }
    }
    return canvas;
}

// A mask of seeded coverage and colours, smaller than the canvases below.
SourceMask seeded_mask(int32_t width, int32_t height) {
    SourceMask mask = test::uniform_mask(width, height, 0);
    mask.colors = straight_colors(mask.coverage.size(), Rgb{});
    for (uint32_t k = 0; k < mask.coverage.size(); ++k) {
        mask.coverage[k] = static_cast<uint16_t>(hash32(k + 5u) & 0xFFFFu);
        set_color(mask.colors, k, {rand01(3 * k + 1), rand01(3 * k + 2), rand01(3 * k + 3)});
    }
    return mask;
}

// Seeded dots crowded onto a canvas a few tiles across, overlapping one
// another and the tiles' sides: small and large, sub-pixel and negative
// radii, partly or wholly off the canvas, a third of them masked.
std::vector<DotDraw> seeded_dots(uint32_t seed, int32_t count, int32_t width, int32_t height,
                                 bool ring, const SourceMask& mask) {
    std::vector<DotDraw> dots;
    for (int32_t n = 0; n < count; ++n) {
        const uint32_t b = seed * 100'003u + static_cast<uint32_t>(n) * 8u;
        DotDraw dot;
        dot.x = rand01(b) * static_cast<float>(width + 40) - 20.0f;
        dot.y = rand01(b + 1) * static_cast<float>(height + 40) - 20.0f;
        const float size = rand01(b + 2);
        dot.radius = size < 0.7f ? size * 8.0f : (size < 0.95f ? size * 40.0f : size * 300.0f);
        if (n % 37 == 0) {
            dot.radius = -1.5f;
        }
        dot.inner_radius = ring ? dot.radius * rand01(b + 3) : 0.0f;
        dot.opacity = rand01(b + 4) * 1.2f - 0.1f;
        dot.color = {rand01(b + 5), rand01(b + 6), rand01(b + 7)};
        if (n % 3 == 1) {
            dot.mask = &mask;
        }
        dots.push_back(dot);
    }
    return dots;
}

// Every shape, softness and colour rule, on canvases that end inside a tile
// and on one a single pixel wide: the batch, in every form, must give the
// same bits as the dots drawn one by one in the portable form, whether the
// canvas was empty or held an old frame.
TEST(RenderDots, SameAsDrawingEachDotInTurn) {
    const SourceMask mask = seeded_mask(290, 50);
    struct Size {
        int32_t width;
        int32_t height;
    };
    const Size sizes[] = {{600, 75}, {257, 33}, {1, 40}, {40, 1}};
    for_each_form([&](const DrawKernels& kernels) {
        uint32_t seed = 1;
        for (const Size size : sizes) {
            for (const DotShape shape : test::kAllDotShapes) {
                for (const float softness : {0.0f, 0.75f, 2.5f, 17.0f}) {
                    ++seed;
                    const DotStyle style{shape, softness, seed % 2 == 0, Rgb{0.3f, 0.9f, 0.1f}};
                    const std::vector<DotDraw> dots = seeded_dots(
                        seed, 400, size.width, size.height, shape == DotShape::kRing, mask);
                    const Canvas want = drawn_one_by_one(size.width, size.height, style, dots);

                    Canvas fresh;
                    render_dots(fresh, size.width, size.height, style, dots, kSerialFor, kernels);
                    ASSERT_TRUE(test::same_pixels(fresh, want))
                        << size.width << "x" << size.height << " shape " << shape << " softness "
                        << softness;

                    // A canvas of another size holding an old frame.
                    Canvas reused;
                    reset_canvas(reused, size.width + 3, size.height + 2);
                    for (PremultipliedPixel& p : reused.pixels) {
                        p = {0.5f, 0.25f, 0.125f, 0.5f};
                    }
                    render_dots(reused, size.width, size.height, style, dots, kSerialFor, kernels);
                    ASSERT_TRUE(test::same_pixels(reused, want))
                        << "reused " << size.width << "x" << size.height << " shape " << shape;
                }
            }
        }
    });
}

// Thousands of small circles at the standard density, as a frame in the
// middle of a transition has them: the short path for small dots, in every
// form, must agree with the single-dot drawing on every pixel.
TEST(RenderDots, DenseSmallCirclesMatch) {
    constexpr int32_t kW = 640;
    constexpr int32_t kH = 360;
    std::vector<DotDraw> dots;
    for (uint32_t i = 0; i < 6000; ++i) {
        DotDraw dot;
        dot.x = rand01(0x2545F491u + 8u * i) * kW;
        dot.y = rand01(0x2545F491u + 8u * i + 1) * kH;
        dot.radius = 3.5f * (1.0f + 0.1f * (2.0f * rand01(0x2545F491u + 8u * i + 2) - 1.0f));
        dot.opacity = i % 5 == 0 ? 0.5f : 1.0f;
        dot.color = {rand01(i * 3u), rand01(i * 3u + 1), rand01(i * 3u + 2)};
        dots.push_back(dot);
    }
    for_each_form([&](const DrawKernels& kernels) {
        for (const DotShape shape : {DotShape::kCircle, DotShape::kSquare, DotShape::kDiamond}) {
            const DotStyle style{shape, 0.75f, true, Rgb{}};
            Canvas got;
            render_dots(got, kW, kH, style, dots, kSerialFor, kernels);
            EXPECT_TRUE(test::same_pixels(got, drawn_one_by_one(kW, kH, style, dots)))
                << "shape " << shape;
        }
    });
}

// Dots that draw nothing (numbers not finite, no opacity, wholly outside)
// leave the canvas transparent, as does an empty batch; sizes beyond the
// limit are refused before the canvas is touched.
TEST(RenderDots, NothingToDrawAndSizeLimit) {
    std::vector<DotDraw> dots(6);
    dots[0] = {kNaN, 5.0f, 3.0f, 0.0f, 1.0f, Rgb{}, nullptr};
    dots[1] = {5.0f, kInf, 3.0f, 0.0f, 1.0f, Rgb{}, nullptr};
    dots[2] = {5.0f, 5.0f, kInf, 0.0f, 1.0f, Rgb{}, nullptr};
    dots[3] = {5.0f, 5.0f, 3.0f, kNaN, 1.0f, Rgb{}, nullptr};
    dots[4] = {5.0f, 5.0f, 3.0f, 0.0f, kNaN, Rgb{}, nullptr};
    dots[5] = {-500.0f, 5.0f, 3.0f, 0.0f, 1.0f, Rgb{}, nullptr};
    const DotStyle style;
    for (const bool reused : {false, true}) {
        Canvas canvas;
        if (reused) {
            reset_canvas(canvas, 300, 40);
            canvas.pixels.assign(canvas.pixels.size(), {1.0f, 1.0f, 1.0f, 1.0f});
        }
        render_dots(canvas, 300, 40, style, dots);
        EXPECT_EQ(canvas.width, 300);
        EXPECT_EQ(canvas.height, 40);
        EXPECT_TRUE(test::all_transparent(canvas)) << "reused " << reused;
        render_dots(canvas, 300, 40, style, {});
        EXPECT_TRUE(test::all_transparent(canvas));
    }

    Canvas kept;
    reset_canvas(kept, 4, 4);
    try {
        render_dots(kept, 8193, 8193, style, dots);
        ADD_FAILURE() << "8193 x 8193 was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unsupported output dimensions");
    }
    EXPECT_EQ(kept.pixels.size(), 16u);
}

} // namespace
} // namespace pointillo
