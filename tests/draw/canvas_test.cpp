#include "common/hash.h"
#include "draw/canvas.h"
#include "draw/float_math.h"
#include "draw_fixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace pointillo {
namespace {

// The tests of a kernel's bits run in every drawing form the machine has.
using test::for_each_form;
using test::kAllDotShapes;
using test::pixel;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
const Rgb kWhite{1.0f, 1.0f, 1.0f};

Canvas blank(int32_t width, int32_t height) {
    Canvas canvas;
    reset_canvas(canvas, width, height);
    return canvas;
}

// The dot's coverage at pixel (j, i) straight from its definition: pixel
// centre sample, the library hypot, no footprint.
float oracle_coverage(DotShape shape, float s, float x, float y, float r, float inner, int32_t j,
                      int32_t i) {
    const float dx = std::fabs(static_cast<float>(j) + 0.5f - x);
    const float dy = std::fabs(static_cast<float>(i) + 0.5f - y);
    float d = 0.0f;
    if (shape == DotShape::kDiamond) {
        d = dx + dy;
    } else if (shape == DotShape::kSquare) {
        d = std::max(dx, dy);
    } else {
        d = static_cast<float>(std::hypot(static_cast<double>(dx), static_cast<double>(dy)));
    }
    float c = std::clamp((r - d) / s + 0.5f, 0.0f, 1.0f);
    if (inner > 0.0f) {
        c = c * std::clamp((d - inner) / s + 0.5f, 0.0f, 1.0f);
    }
    return c;
}

TEST(CanvasSize, LimitIs64MegapixelsAndBothSidesPositive) {
    struct Row {
        int32_t width;
        int32_t height;
        bool ok;
    };
    const Row rows[] = {{1, 1, true},          {0, 1, false},
                        {1, 0, false},         {-1, 5, false},
                        {5, -1, false},        {8193, 8193, false},
                        {67108865, 1, false},  {1, 67108865, false},
                        {65536, 65536, false}, {2147483647, 2147483647, false}};
    for (const Row& row : rows) {
        Canvas canvas;
        if (row.ok) {
            EXPECT_NO_THROW(reset_canvas(canvas, row.width, row.height))
                << row.width << "x" << row.height;
        } else {
            try {
                reset_canvas(canvas, row.width, row.height);
                ADD_FAILURE() << row.width << "x" << row.height << " was accepted";
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "Unsupported output dimensions")
                    << row.width << "x" << row.height;
            }
            EXPECT_TRUE(canvas.pixels.empty()) << row.width << "x" << row.height;
        }
    }
}

// The largest square canvas is 1 GiB of floats; allocated once, on purpose.
TEST(CanvasSize, LargestSquareIsAccepted) {
    Canvas canvas;
    ASSERT_NO_THROW(reset_canvas(canvas, 8192, 8192));
    EXPECT_EQ(canvas.pixels.size(), 8192u * 8192u);
    EXPECT_EQ(canvas.width, 8192);
    EXPECT_EQ(canvas.height, 8192);
}

TEST(CanvasSize, ResetClearsEarlierDrawing) {
    Canvas canvas = blank(8, 8);
    draw_dot(canvas, DotShape::kSquare, 0.75f, 4.0f, 4.0f, 3.0f, 0.0f, 1.0f, kWhite);
    reset_canvas(canvas, 8, 8);
    EXPECT_TRUE(test::all_transparent(canvas));
}

TEST(Softness, FloorIsThreeQuartersOfAPixel) {
    EXPECT_EQ(effective_softness(0.4f), 0.75f);
    EXPECT_EQ(effective_softness(0.75f), 0.75f);
    EXPECT_EQ(effective_softness(2.5f), 2.5f);
    EXPECT_EQ(effective_softness(-3.0f), 0.75f);
    EXPECT_EQ(effective_softness(kNaN), 0.75f);
}

// Dot of radius 4 centred on pixel (10, 10) with softness 4, so the ramp is
// wide enough to show each shape's distance measure at a few offsets.
TEST(DotCoverage, EachShapeAtKnownOffsets) {
    for_each_form([&](const DrawKernels& kernels) {
        struct Row {
            DotShape shape;
            int32_t dx; // pixel offset from the centre pixel
            int32_t dy;
            float coverage;
        };
        const float circle_diag = (4.0f - static_cast<float>(std::hypot(4.0, 4.0))) / 4.0f + 0.5f;
        const Row rows[] = {
            {DotShape::kCircle, 0, 0, 1.0f},  {DotShape::kCircle, 4, 0, 0.5f},
            {DotShape::kCircle, 0, -4, 0.5f}, {DotShape::kCircle, 4, 4, circle_diag},
            {DotShape::kCircle, 6, 0, 0.0f},  {DotShape::kSquare, 4, 4, 0.5f},
            {DotShape::kSquare, -4, 2, 0.5f}, {DotShape::kSquare, 2, 2, 1.0f},
            {DotShape::kSquare, 5, 0, 0.25f}, {DotShape::kDiamond, 4, 0, 0.5f},
            {DotShape::kDiamond, 2, 2, 0.5f}, {DotShape::kDiamond, 4, 4, 0.0f},
            {DotShape::kDiamond, 1, 1, 1.0f}, {DotShape::kRing, 4, 0, 0.5f},
        };
        int index = 0;
        for (const Row& row : rows) {
            Canvas canvas = blank(21, 21);
            draw_dot(canvas, row.shape, 4.0f, 10.5f, 10.5f, 4.0f, 0.0f, 1.0f, kWhite, kernels);
            EXPECT_FLOAT_EQ(pixel(canvas, 10 + row.dx, 10 + row.dy).alpha, row.coverage)
                << "row " << index << " shape " << row.shape;
            ++index;
        }
        // At (r, r) the square is at half coverage, the circle below it and the
        // diamond lower still.
        EXPECT_GT(0.5f, circle_diag);
        EXPECT_GT(circle_diag, 0.0f);
    });
}

TEST(DotCoverage, SmallestDotLightsCentresWithinFiveEighths) {
    Canvas canvas = blank(5, 5);
    draw_dot(canvas, DotShape::kCircle, 0.4f, 2.5f, 2.5f, 0.25f, 0.0f, 1.0f, kWhite);
    EXPECT_FLOAT_EQ(pixel(canvas, 2, 2).alpha, 0.25f / 0.75f + 0.5f); // 0.83
    EXPECT_EQ(pixel(canvas, 3, 2).alpha, 0.0f);                       // centre 1 px away
    // Centre 0.6 px away is lit, 0.65 px away is not.
    Canvas near = blank(5, 5);
    draw_dot(near, DotShape::kCircle, 0.75f, 2.5f, 3.1f, 0.25f, 0.0f, 1.0f, kWhite);
    EXPECT_GT(pixel(near, 2, 2).alpha, 0.0f);
    Canvas far = blank(5, 5);
    draw_dot(far, DotShape::kCircle, 0.75f, 2.5f, 3.15f, 0.25f, 0.0f, 1.0f, kWhite);
    EXPECT_EQ(pixel(far, 2, 2).alpha, 0.0f);
}

// A canvas already holding seeded pixels (alpha below 0.9, straight colour
// premultiplied), so that combining with what is there is checked too.
Canvas seeded_canvas(int32_t width, int32_t height, uint32_t seed) {
    Canvas canvas = blank(width, height);
    for (size_t k = 0; k < canvas.pixels.size(); ++k) {
        const uint32_t n = seed + static_cast<uint32_t>(k) * 4u;
        const float a = rand01(n) < 0.5f ? 0.0f : rand01(n + 1) * 0.9f;
        canvas.pixels[k] = {a, a * rand01(n + 2), a * rand01(n + 3), a * 0.5f};
    }
    return canvas;
}

// Seeded awkward radii (negative, sub-pixel, wider than one 256-column run),
// softness and sub-pixel centres, partly outside the canvas, for every shape
// with and without a hole, over existing pixels: every pixel must equal the
// definition bit for bit (footprint clipping, the fast distance and the
// shortcuts for pixels known to be 0 or 1 included).
TEST(DotCoverage, MatchesDefinitionEverywhere) {
    for_each_form([&](const DrawKernels& kernels) {
        const float radii[] = {-1.0f, 0.25f, 0.3f,  0.5f,   0.70710677f, 1.0f,  1.49f,
                               2.5f,  3.33f, 7.77f, 12.01f, 25.5f,       60.3f, 170.2f};
        constexpr int32_t kW = 300;
        constexpr int32_t kH = 48;
        const Rgb color{0.2f, 0.4f, 0.6f};
        int case_index = 0;
        for (const DotShape shape : kAllDotShapes) {
            for (const float radius : radii) {
                for (int k = 0; k < 6; ++k, ++case_index) {
                    const uint32_t seed = static_cast<uint32_t>(case_index) * 8u;
                    const float x = rand01(seed) * (kW + 8.0f) - 4.0f; // may leave the canvas
                    const float y = rand01(seed + 1) * (kH + 8.0f) - 4.0f;
                    const float s = k % 3 == 0 ? 0.75f + rand01(seed + 2) * 30.0f
                                               : 0.75f + rand01(seed + 2) * 2.0f;
                    const float inner = shape == DotShape::kRing ? radius * rand01(seed + 3) : 0.0f;
                    const float opacity = k == 5 ? 1.0f : 0.3f + rand01(seed + 4) * 0.7f;
                    Canvas canvas = seeded_canvas(kW, kH, seed);
                    const Canvas before = canvas;
                    draw_dot(canvas, shape, s, x, y, radius, inner, opacity, color, kernels);
                    for (int32_t i = 0; i < kH; ++i) {
                        for (int32_t j = 0; j < kW; ++j) {
                            const float c =
                                oracle_coverage(shape, s, x, y, radius, inner, j, i) * opacity;
                            PremultipliedPixel want = pixel(before, j, i);
                            if (c > want.alpha) {
                                want = {c, c * color.red, c * color.green, c * color.blue};
                            }
                            const PremultipliedPixel& got = pixel(canvas, j, i);
                            ASSERT_TRUE(std::memcmp(&got, &want, sizeof(want)) == 0)
                                << "case " << case_index << " shape " << shape << " r " << radius
                                << " centre " << x << "," << y << " s " << s << " pixel " << j
                                << "," << i << ": got " << got.alpha << " want " << want.alpha;
                        }
                    }
                }
            }
        }
    });
}

// Seeded particles of every size, opacity and colour (some out of range) over
// existing pixels, against the over operator applied over each particle's
// footprint as defined.
TEST(Particles, MatchDefinitionEverywhere) {
    for_each_form([&](const DrawKernels& kernels) {
        constexpr int32_t kW = 64;
        constexpr int32_t kH = 48;
        for (uint32_t trial = 0; trial < 20; ++trial) {
            std::vector<Particle> particles;
            for (uint32_t n = 0; n < 60; ++n) {
                const uint32_t b = trial * 1000u + n * 8u;
                particles.push_back(
                    {rand01(b) * 72.0f - 4.0f, rand01(b + 1) * 56.0f - 4.0f,
                     rand01(b + 2) * 9.0f - 0.5f, rand01(b + 3) * 1.7f - 0.2f,
                     Rgb{rand01(b + 4) * 2.0f - 0.5f, rand01(b + 5), rand01(b + 6)}});
            }
            const float s = 0.75f + static_cast<float>(trial % 4) * 1.3f;
            Canvas got = seeded_canvas(kW, kH, trial);
            Canvas want = got;
            draw_particles(particles, kW, kH, s, got, kSerialFor, kernels);
            for (const Particle& p : particles) {
                if (p.radius <= 0.01f || p.opacity <= 0.0f) {
                    continue;
                }
                const float reach = p.radius + s;
                const int32_t i0 = std::max(0, static_cast<int32_t>(std::floor(p.y - reach)));
                const int32_t i1 = std::min(kH - 1, static_cast<int32_t>(std::ceil(p.y + reach)));
                const int32_t j0 = std::max(0, static_cast<int32_t>(std::floor(p.x - reach)));
                const int32_t j1 = std::min(kW - 1, static_cast<int32_t>(std::ceil(p.x + reach)));
                for (int32_t i = i0; i <= i1; ++i) {
                    for (int32_t j = j0; j <= j1; ++j) {
                        const float d = static_cast<float>(
                            std::hypot(static_cast<double>(static_cast<float>(j) + 0.5f - p.x),
                                       static_cast<double>(static_cast<float>(i) + 0.5f - p.y)));
                        const float u = std::clamp(
                            std::clamp((p.radius - d) / s + 0.5f, 0.0f, 1.0f) * p.opacity, 0.0f,
                            1.0f);
                        PremultipliedPixel& w = want.pixels[static_cast<size_t>(i * kW + j)];
                        w.alpha = u + w.alpha * (1.0f - u);
                        w.red = w.red * (1.0f - u) + u * p.color.red;
                        w.green = w.green * (1.0f - u) + u * p.color.green;
                        w.blue = w.blue * (1.0f - u) + u * p.color.blue;
                    }
                }
            }
            ASSERT_TRUE(test::same_pixels(got, want)) << "trial " << trial;
        }
    });
}

// The edge ramp is an anti-aliased disc: summed over the canvas it covers the
// disc's area, and each pixel is close to a 16 x 16 supersampled disc.
TEST(DotCoverage, CircleAgreesWithSupersampledDisc) {
    const float cases[][3] = {{2.3f, 12.37f, 11.81f}, {5.7f, 15.5f, 15.0f}, {9.1f, 16.03f, 16.9f}};
    for (const auto& c : cases) {
        const float radius = c[0];
        const double x = static_cast<double>(c[1]);
        const double y = static_cast<double>(c[2]);
        const double r2 = static_cast<double>(radius) * static_cast<double>(radius);
        Canvas canvas = blank(32, 32);
        draw_dot(canvas, DotShape::kCircle, 1.0f, c[1], c[2], radius, 0.0f, 1.0f, kWhite);
        double total = 0.0;
        double worst = 0.0;
        for (int32_t i = 0; i < 32; ++i) {
            for (int32_t j = 0; j < 32; ++j) {
                int inside = 0;
                for (int sy = 0; sy < 16; ++sy) {
                    for (int sx = 0; sx < 16; ++sx) {
                        const double px = j + (sx + 0.5) / 16.0 - x;
                        const double py = i + (sy + 0.5) / 16.0 - y;
                        inside += px * px + py * py <= r2 ? 1 : 0;
                    }
                }
                const double area = inside / 256.0;
                const double got = static_cast<double>(pixel(canvas, j, i).alpha);
                total += got;
                worst = std::max(worst, std::fabs(got - area));
            }
        }
        const double disc = 3.14159265358979 * r2;
        EXPECT_NEAR(total, disc, 0.02 * disc) << "radius " << radius;
        EXPECT_LT(worst, 0.1) << "radius " << radius;
    }
}

TEST(DotCoverage, FastDistanceEqualsLibraryHypot) {
    // Seeded volume over the distances the rasterizer meets, then cases whose
    // length lies exactly on a midpoint between two floats: legs 3k and 4k
    // with k odd in (2^24/5, 2^24/3) make 5k a 25-bit odd number.
    for (uint32_t n = 0; n < 2'000'000; ++n) {
        const float dx = rand01(n * 2u) * 300.0f;
        const float dy = rand01(n * 2u + 1u) * 300.0f;
        const double dy2 = static_cast<double>(dy) * static_cast<double>(dy);
        ASSERT_EQ(draw_math::hypot_fast(dx, dy, dy2), draw_math::hypot_f(dx, dy))
            << dx << " " << dy;
    }
    for (uint32_t k = (1u << 24) / 5u + 1u; k < (1u << 24) / 5u + 20001u; k += 2u) {
        const float dx = static_cast<float>(3u * k) * 0x1p-20f;
        const float dy = static_cast<float>(4u * k) * 0x1p-20f;
        const double dy2 = static_cast<double>(dy) * static_cast<double>(dy);
        ASSERT_EQ(draw_math::hypot_fast(dx, dy, dy2), draw_math::hypot_f(dx, dy)) << k;
    }
    EXPECT_EQ(draw_math::hypot_fast(0.0f, 0.0f, 0.0), 0.0f);
}

TEST(DotCombine, OverlapKeepsMaximumNotSum) {
    Canvas canvas = blank(20, 10);
    const Rgb red{1.0f, 0.0f, 0.0f};
    draw_dot(canvas, DotShape::kSquare, 0.75f, 8.0f, 5.0f, 3.0f, 0.0f, 0.6f, red);
    draw_dot(canvas, DotShape::kSquare, 0.75f, 11.0f, 5.0f, 3.0f, 0.0f, 0.6f, red);
    EXPECT_FLOAT_EQ(pixel(canvas, 9, 5).alpha, 0.6f);
    EXPECT_FLOAT_EQ(pixel(canvas, 9, 5).red, 0.6f);
}

TEST(DotCombine, TieKeepsFirstDotAndLargerCoverageRepaints) {
    Canvas canvas = blank(10, 10);
    const Rgb red{1.0f, 0.0f, 0.0f};
    const Rgb blue{0.0f, 0.0f, 1.0f};
    draw_dot(canvas, DotShape::kCircle, 0.75f, 5.0f, 5.0f, 3.0f, 0.0f, 0.6f, red);
    draw_dot(canvas, DotShape::kCircle, 0.75f, 5.0f, 5.0f, 3.0f, 0.0f, 0.6f, blue);
    EXPECT_FLOAT_EQ(pixel(canvas, 5, 5).red, 0.6f);
    EXPECT_EQ(pixel(canvas, 5, 5).blue, 0.0f);
    draw_dot(canvas, DotShape::kCircle, 0.75f, 5.0f, 5.0f, 3.0f, 0.0f, 0.7f, blue);
    EXPECT_EQ(pixel(canvas, 5, 5).red, 0.0f);
    EXPECT_FLOAT_EQ(pixel(canvas, 5, 5).blue, 0.7f);
    // A weaker dot never lowers a pixel.
    draw_dot(canvas, DotShape::kCircle, 0.75f, 5.0f, 5.0f, 3.0f, 0.0f, 0.1f, red);
    EXPECT_FLOAT_EQ(pixel(canvas, 5, 5).alpha, 0.7f);
}

TEST(DotRing, HoleIsCutAndZeroInnerRadiusIsFilled) {
    for_each_form([&](const DrawKernels& kernels) {
        Canvas ring = blank(21, 21);
        draw_dot(ring, DotShape::kRing, 1.0f, 10.5f, 10.5f, 6.0f, 3.0f, 1.0f, kWhite, kernels);
        EXPECT_EQ(pixel(ring, 10, 10).alpha, 0.0f);       // centre: inside the hole
        EXPECT_FLOAT_EQ(pixel(ring, 13, 10).alpha, 0.5f); // on the inner edge
        EXPECT_FLOAT_EQ(pixel(ring, 15, 10).alpha, 1.0f); // in the band
        EXPECT_FLOAT_EQ(pixel(ring, 16, 10).alpha, 0.5f); // on the outer edge

        Canvas no_hole = blank(21, 21);
        Canvas circle = blank(21, 21);
        draw_dot(no_hole, DotShape::kRing, 1.0f, 10.3f, 10.7f, 6.0f, 0.0f, 1.0f, kWhite, kernels);
        draw_dot(circle, DotShape::kCircle, 1.0f, 10.3f, 10.7f, 6.0f, 0.0f, 1.0f, kWhite, kernels);
        EXPECT_TRUE(test::same_pixels(no_hole, circle));
    });
}

TEST(DotFootprint, PartlyAndWhollyOutsideTheCanvas) {
    Canvas canvas = blank(10, 10);
    draw_dot(canvas, DotShape::kSquare, 0.75f, -1.0f, 5.0f, 3.0f, 0.0f, 1.0f, kWhite);
    EXPECT_FLOAT_EQ(pixel(canvas, 0, 5).alpha, 1.0f);
    EXPECT_EQ(pixel(canvas, 3, 5).alpha, 0.0f);

    const float outside[][2] = {{-10.0f, 5.0f}, {20.0f, 5.0f}, {5.0f, -10.0f}, {5.0f, 20.0f}};
    for (const auto& xy : outside) {
        Canvas other = blank(10, 10);
        draw_dot(other, DotShape::kCircle, 0.75f, xy[0], xy[1], 3.0f, 0.0f, 1.0f, kWhite);
        EXPECT_TRUE(test::all_transparent(other)) << xy[0] << "," << xy[1];
    }
}

// A dot or particle with a non-finite number would otherwise reach the
// footprint's float-to-int conversion; it draws nothing instead.
TEST(DotFootprint, NonFiniteDotsAndParticlesDrawNothing) {
    struct Row {
        float x, y, radius, inner, opacity;
    };
    const Row rows[] = {
        {kNaN, 5, 3, 0, 1}, {5, kNaN, 3, 0, 1},     {5, 5, kNaN, 0, 1},  {5, 5, 3, kNaN, 1},
        {5, 5, 3, 0, kNaN}, {kInf, 5, 3, 0, 1},     {5, -kInf, 3, 0, 1}, {5, 5, kInf, 0, 1},
        {5, 5, 3, 0, kInf}, {-kInf, kInf, 3, 0, 1},
    };
    int index = 0;
    for (const Row& row : rows) {
        for (const DotShape shape : kAllDotShapes) {
            Canvas canvas = blank(10, 10);
            draw_dot(canvas, shape, 0.75f, row.x, row.y, row.radius, row.inner, row.opacity,
                     kWhite);
            EXPECT_TRUE(test::all_transparent(canvas)) << "row " << index << " shape " << shape;
        }
        // Particles have no hole; only rows with a non-finite particle number.
        if (!std::isfinite(row.x) || !std::isfinite(row.y) || !std::isfinite(row.radius) ||
            !std::isfinite(row.opacity)) {
            Canvas canvas = blank(10, 10);
            const Particle particle{row.x, row.y, row.radius, row.opacity, Rgb{1.0f, 1.0f, 1.0f}};
            draw_particles(std::span<const Particle>(&particle, 1), 10, 10, 0.75f, canvas);
            EXPECT_TRUE(test::all_transparent(canvas)) << "particle row " << index;
        }
        ++index;
    }
}

TEST(DotFootprint, HugeRadiusIsClampedByTheCanvas) {
    for_each_form([&](const DrawKernels& kernels) {
        Canvas canvas = blank(7, 5);
        draw_dot(canvas, DotShape::kDiamond, 0.75f, 3.0f, 2.0f, 3.0e38f, 0.0f, 1.0f, kWhite,
                 kernels);
        for (const PremultipliedPixel& p : canvas.pixels) {
            EXPECT_EQ(p.alpha, 1.0f);
        }
        Canvas far = blank(7, 5);
        draw_dot(far, DotShape::kSquare, 0.75f, -3.0e38f, 3.0e38f, 1.0e38f, 0.0f, 1.0f, kWhite,
                 kernels);
        EXPECT_TRUE(test::all_transparent(far));
    });
}

TEST(MaskedDot, CoverageAndColourComeFromTheMaskPixel) {
    // 4 x 3 mask: coverage rises along x, colour per pixel; the canvas is
    // larger, so part of the dot lies outside the mask.
    SourceMask mask = test::uniform_mask(4, 3, 0);
    mask.colors = straight_colors(12, kWhite);
    for (int32_t i = 0; i < 3; ++i) {
        for (int32_t j = 0; j < 4; ++j) {
            mask.coverage[i * 4 + j] = static_cast<uint16_t>(16383 * j);
            set_color(mask.colors, i * 4 + j, {0.25f * j, 0.5f, 1.0f - 0.1f * i});
        }
    }
    Canvas canvas = blank(8, 6);
    draw_masked_dot(canvas, {DotShape::kSquare, 0.75f, true, kWhite}, {3.0f, 2.0f, 10.0f, 0.0f},
                    mask);
    for (int32_t i = 0; i < 6; ++i) {
        for (int32_t j = 0; j < 8; ++j) {
            const PremultipliedPixel& p = pixel(canvas, j, i);
            if (j >= 4 || i >= 3 || j == 0) {
                EXPECT_EQ(p.alpha, 0.0f) << j << "," << i;
                continue;
            }
            const float a = static_cast<float>(16383 * j) / 65535.0f;
            EXPECT_EQ(p.alpha, a) << j << "," << i;
            EXPECT_EQ(p.red, a * (0.25f * j)) << j << "," << i;
            EXPECT_EQ(p.blue, a * (1.0f - 0.1f * i)) << j << "," << i;
        }
    }
    // Not matching colours: the dot colour, still cut by the mask.
    Canvas plain = blank(8, 6);
    const Rgb green{0.0f, 1.0f, 0.0f};
    draw_masked_dot(plain, {DotShape::kSquare, 0.75f, false, green}, {3.0f, 2.0f, 10.0f, 0.0f},
                    mask);
    EXPECT_EQ(pixel(plain, 2, 1).red, 0.0f);
    EXPECT_EQ(pixel(plain, 2, 1).green, pixel(plain, 2, 1).alpha);
    EXPECT_EQ(pixel(plain, 5, 1).alpha, 0.0f);
}

// Seeded solid-phase dots over a seeded mask smaller than the canvas and over
// existing pixels, against the definition: coverage x the mask's coverage at
// the pixel, the mask's colour there (white outside), combined by maximum.
TEST(MaskedDot, MatchesDefinition) {
    for_each_form([&](const DrawKernels& kernels) {
        constexpr int32_t kW = 70;
        constexpr int32_t kH = 40;
        SourceMask mask = test::uniform_mask(50, 30, 0);
        mask.colors = straight_colors(50 * 30, kWhite);
        for (uint32_t k = 0; k < 50 * 30; ++k) {
            mask.coverage[k] = static_cast<uint16_t>(hash32(k + 77u) & 0xFFFFu);
            set_color(mask.colors, k, {rand01(3 * k), rand01(3 * k + 1), rand01(3 * k + 2)});
        }
        for (uint32_t n = 0; n < 40; ++n) {
            const uint32_t b = n * 8u;
            const DotShape shape = kAllDotShapes[n % 4];
            const float x = rand01(b) * 80.0f - 5.0f;
            const float y = rand01(b + 1) * 50.0f - 5.0f;
            const float radius = rand01(b + 2) * 20.0f;
            const float inner = shape == DotShape::kRing ? radius * rand01(b + 3) : 0.0f;
            const float s = 0.75f + rand01(b + 4) * 3.0f;
            const bool match = n % 3 != 0;
            const Rgb dot_color{0.9f, 0.1f, 0.4f};
            Canvas canvas = seeded_canvas(kW, kH, n);
            const Canvas before = canvas;
            draw_masked_dot(canvas, {shape, s, match, dot_color}, {x, y, radius, inner}, mask,
                            kernels);
            for (int32_t i = 0; i < kH; ++i) {
                for (int32_t j = 0; j < kW; ++j) {
                    const bool inside = j < 50 && i < 30;
                    const size_t m = static_cast<size_t>(i * 50 + j);
                    const float factor =
                        inside ? static_cast<float>(mask.coverage[m]) / 65535.0f : 0.0f;
                    const Rgb color =
                        !match ? dot_color : (inside ? color_at(mask.colors, m) : kWhite);
                    const float c = oracle_coverage(shape, s, x, y, radius, inner, j, i) * factor;
                    PremultipliedPixel want = pixel(before, j, i);
                    if (c > want.alpha) {
                        want = {c, c * color.red, c * color.green, c * color.blue};
                    }
                    ASSERT_TRUE(std::memcmp(&pixel(canvas, j, i), &want, sizeof(want)) == 0)
                        << "dot " << n << " pixel " << j << "," << i;
                }
            }
        }
    });
}

TEST(SolidFill, OverwritesTheMaskAreaOnly) {
    const Rgb orange{1.0f, 0.5f, 0.0f};
    SourceMask mask = test::uniform_mask(3, 5, 32768, &orange);
    mask.coverage[0] = 65535;
    Canvas canvas = blank(4, 3);
    draw_dot(canvas, DotShape::kSquare, 0.75f, 2.0f, 1.5f, 9.0f, 0.0f, 1.0f, kWhite);
    fill_solid_source(canvas, mask, true, kWhite, {});
    const float half = 32768.0f / 65535.0f;
    EXPECT_EQ(pixel(canvas, 0, 0).alpha, 1.0f);
    EXPECT_EQ(pixel(canvas, 1, 2).alpha, half);
    EXPECT_EQ(pixel(canvas, 1, 2).green, half * 0.5f);
    EXPECT_EQ(pixel(canvas, 1, 2).blue, 0.0f);
    // Column 3 lies beyond the mask: it keeps what was drawn before.
    EXPECT_EQ(pixel(canvas, 3, 1).alpha, 1.0f);

    // Without a colour plane matching paints white; not matching, the dot colour.
    SourceMask grey = test::uniform_mask(4, 3, 65535);
    Canvas white = blank(4, 3);
    fill_solid_source(white, grey, true, orange, {});
    EXPECT_EQ(pixel(white, 2, 2).green, 1.0f);
    Canvas dot_colored = blank(4, 3);
    fill_solid_source(dot_colored, mask, false, Rgb{0.0f, 0.0f, 1.0f}, {});
    EXPECT_EQ(pixel(dot_colored, 2, 2).red, 0.0f);
    EXPECT_EQ(pixel(dot_colored, 2, 2).blue, half);
}

// Seeded coverage (the extremes included) and colours, in rows long enough
// for the wide path and its tail, against the definition; with and without a
// colour plane, matching or not.
TEST(SolidFill, MatchesDefinition) {
    for_each_form([&](const DrawKernels& kernels) {
        constexpr int32_t kW = 39;
        constexpr int32_t kH = 4;
        SourceMask mask = test::uniform_mask(kW, kH, 0);
        mask.colors = straight_colors(kW * kH, kWhite);
        for (uint32_t k = 0; k < kW * kH; ++k) {
            const uint16_t extremes[] = {0, 1, 65534, 65535};
            mask.coverage[k] =
                k % 5 == 0 ? extremes[(k / 5) % 4] : static_cast<uint16_t>(hash32(k) & 0xFFFFu);
            set_color(mask.colors, k,
                      {rand01(3 * k) * 2.0f - 0.5f, rand01(3 * k + 1), rand01(3 * k + 2)});
        }
        const Rgb dot_color{0.3f, 0.6f, 0.9f};
        for (int variant = 0; variant < 5; ++variant) {
            SourceMask m = mask;
            if (variant == 2) {
                m.colors = MaskColors{};
            }
            // The colours kept as a source's own 8- or 16-bit pixels, alpha 0
            // among them: formed into straight colours as the fill reads them.
            if (variant >= 3) {
                m.colors.form = variant == 3 ? ColorForm::kArgb8 : ColorForm::kArgb16;
                m.colors.bytes.resize(static_cast<size_t>(kW * kH) * color_bytes(m.colors.form));
                for (size_t b = 0; b < m.colors.bytes.size(); ++b) {
                    const uint32_t h = hash32(static_cast<uint32_t>(b) + 991u);
                    m.colors.bytes[b] = static_cast<std::byte>(h % 7 == 0 ? 0u : h & 0xFFu);
                }
            }
            const bool match = variant != 1;
            Canvas canvas = blank(kW, kH);
            fill_solid_source(canvas, m, match, dot_color, {}, kernels);
            for (int32_t k = 0; k < kW * kH; ++k) {
                const float a = static_cast<float>(m.coverage[static_cast<size_t>(k)]) / 65535.0f;
                Rgb c = dot_color;
                if (match) {
                    c = color_at(m.colors, static_cast<size_t>(k));
                }
                const PremultipliedPixel want{a, a * c.red, a * c.green, a * c.blue};
                ASSERT_TRUE(
                    std::memcmp(&canvas.pixels[static_cast<size_t>(k)], &want, sizeof(want)) == 0)
                    << "variant " << variant << " pixel " << k;
            }
        }
    });
}

struct PollCounter {
    int calls = 0;
    int cancel_at = -1; // answer true on this call (0-based)
    static bool poll(void* user) {
        auto* self = static_cast<PollCounter*>(user);
        return self->calls++ == self->cancel_at;
    }
    CancelCheck check() { return {&PollCounter::poll, this}; }
};

TEST(SolidFill, PollsEverySixtyFourRowsAndCancels) {
    SourceMask mask = test::uniform_mask(3, 130, 65535);
    Canvas canvas = blank(3, 200);
    PollCounter counter;
    fill_solid_source(canvas, mask, false, kWhite, counter.check());
    EXPECT_EQ(counter.calls, 3); // rows 0, 64, 128

    PollCounter cancelling;
    cancelling.cancel_at = 1;
    try {
        fill_solid_source(canvas, mask, false, kWhite, cancelling.check());
        ADD_FAILURE() << "not cancelled";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Render cancelled");
    }
    EXPECT_EQ(cancelling.calls, 2);
}

TEST(Particles, AccumulateByTheOverOperator) {
    for_each_form([&](const DrawKernels& kernels) {
        Canvas canvas = blank(9, 9);
        const Particle particle{4.5f, 4.5f, 2.0f, 0.5f, Rgb{1.0f, 0.0f, 0.0f}};
        const std::vector<Particle> two{particle, particle};
        draw_particles(two, 9, 9, 0.75f, canvas, kSerialFor, kernels);
        const PremultipliedPixel& p = pixel(canvas, 4, 4);
        EXPECT_FLOAT_EQ(p.alpha, 0.75f); // 0.5 + 0.5 x 0.5
        EXPECT_FLOAT_EQ(p.red, 0.75f);
        EXPECT_EQ(p.green, 0.0f);

        // Over an existing dot: the dot's colour shows through.
        Canvas over = blank(9, 9);
        draw_dot(over, DotShape::kCircle, 0.75f, 4.5f, 4.5f, 3.0f, 0.0f, 1.0f, Rgb{0, 0, 1},
                 kernels);
        const Particle green{4.5f, 4.5f, 2.0f, 0.25f, Rgb{0.0f, 1.0f, 0.0f}};
        draw_particles(std::span<const Particle>(&green, 1), 9, 9, 0.75f, over, kSerialFor,
                       kernels);
        EXPECT_FLOAT_EQ(pixel(over, 4, 4).alpha, 1.0f);
        EXPECT_FLOAT_EQ(pixel(over, 4, 4).green, 0.25f);
        EXPECT_FLOAT_EQ(pixel(over, 4, 4).blue, 0.75f);
    });
}

TEST(Particles, TinyOrInvisibleParticlesAreSkipped) {
    const Particle skipped[] = {{4.5f, 4.5f, 0.01f, 1.0f, kWhite},
                                {4.5f, 4.5f, -2.0f, 1.0f, kWhite},
                                {4.5f, 4.5f, 2.0f, 0.0f, kWhite},
                                {4.5f, 4.5f, 2.0f, -0.5f, kWhite}};
    for (const Particle& particle : skipped) {
        Canvas canvas = blank(9, 9);
        draw_particles(std::span<const Particle>(&particle, 1), 9, 9, 0.75f, canvas);
        EXPECT_TRUE(test::all_transparent(canvas)) << particle.radius << " " << particle.opacity;
    }
    // Opacity above 1 saturates at full coverage; softness has its floor, so
    // the pixel one radius away is at half the ramp.
    Canvas canvas = blank(9, 9);
    const Particle strong{4.5f, 4.5f, 1.0f, 1.5f, kWhite};
    draw_particles(std::span<const Particle>(&strong, 1), 9, 9, 0.0f, canvas);
    EXPECT_EQ(pixel(canvas, 4, 4).alpha, 1.0f);
    EXPECT_EQ(pixel(canvas, 5, 4).alpha, 0.75f);
    EXPECT_EQ(pixel(canvas, 6, 4).alpha, 0.0f);
}

// Output world with padded rows, filled with a sentinel so writes past a
// row's pixels show up.
struct World {
    std::vector<std::byte> bytes;
    PixelView view;
};

World make_world(int32_t width, int32_t height, PixelDepth depth, std::ptrdiff_t padding) {
    World world;
    const std::ptrdiff_t rowbytes = width * bytes_per_pixel(depth) + padding;
    world.bytes.assign(static_cast<size_t>(rowbytes * height), std::byte{0xAB});
    world.view = {world.bytes.data(), width, height, rowbytes, depth};
    return world;
}

template <class T> T read_channel(const World& world, int32_t x, int32_t y, int channel) {
    T value;
    std::memcpy(&value,
                world.bytes.data() + y * world.view.rowbytes +
                    (x * 4 + channel) * static_cast<std::ptrdiff_t>(sizeof(T)),
                sizeof(T));
    return value;
}

bool padding_untouched(const World& world) {
    const std::ptrdiff_t used = world.view.width * bytes_per_pixel(world.view.depth);
    for (int32_t y = 0; y < world.view.height; ++y) {
        for (std::ptrdiff_t b = used; b < world.view.rowbytes; ++b) {
            if (world.bytes[static_cast<size_t>(y * world.view.rowbytes + b)] != std::byte{0xAB}) {
                return false;
            }
        }
    }
    return true;
}

// A 3 x 2 canvas with telling values: full, half, over-range, negative, NaN.
Canvas conversion_canvas() {
    Canvas canvas = blank(3, 2);
    canvas.pixels[0] = {1.0f, 1.0f, 1.0f, 1.0f};
    canvas.pixels[1] = {0.5f, 0.25f, 0.0f, 0.5f};
    canvas.pixels[2] = {1.0f, 2.5f, -0.5f, kNaN};
    canvas.pixels[3] = {0.2f, 0.1f, 0.003f, 0.999f};
    canvas.pixels[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    canvas.pixels[5] = {0.75f, 0.75f, 0.75f, 0.75f};
    return canvas;
}

TEST(Conversion, EightBitsRoundAndClamp) {
    for_each_form([&](const DrawKernels& kernels) {
        const Canvas canvas = conversion_canvas();
        World world = make_world(5, 3, PixelDepth::k8, 7); // larger than the canvas
        convert_canvas(canvas, world.view, {}, kernels);
        struct Row {
            int32_t x, y, channel, value;
        };
        const Row rows[] = {{0, 0, 0, 255}, {0, 0, 3, 255}, {1, 0, 0, 128}, {1, 0, 1, 64},
                            {2, 0, 1, 255}, {2, 0, 2, 0},   {2, 0, 3, 0},   {0, 1, 0, 51},
                            {0, 1, 2, 1},   {0, 1, 3, 255}, {2, 1, 1, 191}, {3, 0, 0, 0},
                            {4, 2, 3, 0},   {1, 2, 0, 0}};
        for (const Row& row : rows) {
            EXPECT_EQ(read_channel<uint8_t>(world, row.x, row.y, row.channel), row.value)
                << "pixel " << row.x << "," << row.y << " channel " << row.channel;
        }
        EXPECT_TRUE(padding_untouched(world));
    });
}

TEST(Conversion, SixteenBitsWhiteIs32768) {
    for_each_form([&](const DrawKernels& kernels) {
        const Canvas canvas = conversion_canvas();
        World world = make_world(4, 3, PixelDepth::k16, 6);
        convert_canvas(canvas, world.view, {}, kernels);
        struct Row {
            int32_t x, y, channel, value;
        };
        const Row rows[] = {{0, 0, 0, 32768}, {0, 0, 2, 32768}, {1, 0, 0, 16384}, {1, 0, 1, 8192},
                            {2, 0, 1, 32768}, {2, 0, 2, 0},     {2, 0, 3, 0},     {0, 1, 2, 98},
                            {0, 1, 3, 32735}, {3, 1, 0, 0},     {2, 2, 3, 0}};
        for (const Row& row : rows) {
            EXPECT_EQ(read_channel<uint16_t>(world, row.x, row.y, row.channel), row.value)
                << "pixel " << row.x << "," << row.y << " channel " << row.channel;
        }
        EXPECT_TRUE(padding_untouched(world));
    });
}

TEST(Conversion, FloatStoresValuesUnchanged) {
    const Canvas canvas = conversion_canvas();
    World world = make_world(2, 1, PixelDepth::k32, 12); // smaller than the canvas
    convert_canvas(canvas, world.view, {});
    EXPECT_EQ(read_channel<float>(world, 1, 0, 0), 0.5f);
    EXPECT_EQ(read_channel<float>(world, 1, 0, 1), 0.25f);
    Canvas over = conversion_canvas();
    World wide = make_world(4, 2, PixelDepth::k32, 4);
    convert_canvas(over, wide.view, {});
    EXPECT_EQ(read_channel<float>(wide, 2, 0, 1), 2.5f);
    EXPECT_EQ(read_channel<float>(wide, 2, 0, 2), -0.5f);
    EXPECT_TRUE(std::isnan(read_channel<float>(wide, 2, 0, 3)));
    EXPECT_EQ(read_channel<float>(wide, 3, 1, 0), 0.0f);
    EXPECT_TRUE(padding_untouched(world));
    EXPECT_TRUE(padding_untouched(wide));
}

// Seeded values, including the awkward ones (NaN, infinities, negative zero,
// values just either side of a rounding step), in rows long enough for the
// wide paths and their tails, against the definition.
TEST(Conversion, MatchesDefinitionOnSeededValues) {
    for_each_form([&](const DrawKernels& kernels) {
        const float awkward[] = {kNaN,       kInf,       -kInf,           -0.0f,
                                 0.0f,       1.0f,       1.0000001f,      0.99999994f,
                                 0.5f / 255, 1.5f / 255, 0.5f / 32768,    2.5f / 32768,
                                 -1e-30f,    1e-30f,     127.5f / 255.0f, 16383.5f / 32768.0f};
        constexpr int32_t kW = 37;
        constexpr int32_t kH = 5;
        Canvas canvas = blank(kW, kH);
        float* values = &canvas.pixels[0].alpha;
        for (uint32_t k = 0; k < kW * kH * 4; ++k) {
            values[k] = k % 3 == 0 ? awkward[(k / 3) % 16] : rand01(k) * 1.4f - 0.2f;
        }
        for (const PixelDepth depth : {PixelDepth::k8, PixelDepth::k16}) {
            World world = make_world(kW + 3, kH, depth, 5);
            convert_canvas(canvas, world.view, {}, kernels);
            for (int32_t y = 0; y < kH; ++y) {
                for (int32_t x = 0; x < kW + 3; ++x) {
                    for (int c = 0; c < 4; ++c) {
                        const float v = x < kW ? values[(y * kW + x) * 4 + c] : 0.0f;
                        const float clamped = !(v > 0.0f) ? 0.0f : (v < 1.0f ? v : 1.0f);
                        if (depth == PixelDepth::k8) {
                            const auto want = static_cast<uint8_t>(clamped * 255.0f + 0.5f);
                            ASSERT_EQ(read_channel<uint8_t>(world, x, y, c), want)
                                << "8 bits, pixel " << x << "," << y << " channel " << c << " v "
                                << v;
                        } else {
                            const auto want = static_cast<uint16_t>(clamped * 32768.0f + 0.5f);
                            ASSERT_EQ(read_channel<uint16_t>(world, x, y, c), want)
                                << "16 bits, pixel " << x << "," << y << " channel " << c << " v "
                                << v;
                        }
                    }
                }
            }
            EXPECT_TRUE(padding_untouched(world));
        }
    });
}

TEST(Conversion, UnknownDepthIsWrittenAsEightBits) {
    const Canvas canvas = conversion_canvas();
    World world = make_world(3, 2, PixelDepth::k8, 0);
    world.view.depth = static_cast<PixelDepth>(7);
    convert_canvas(canvas, world.view, {});
    EXPECT_EQ(read_channel<uint8_t>(world, 1, 0, 0), 128);
    EXPECT_EQ(read_channel<uint8_t>(world, 2, 1, 3), 191);
}

TEST(Conversion, PollsBeforeEverySixtyFourthRow) {
    Canvas canvas = blank(2, 2);
    World world = make_world(2, 130, PixelDepth::k8, 0);
    PollCounter counter;
    convert_canvas(canvas, world.view, counter.check());
    EXPECT_EQ(counter.calls, 3);

    PollCounter cancelling;
    cancelling.cancel_at = 2;
    EXPECT_THROW(convert_canvas(canvas, world.view, cancelling.check()), std::runtime_error);
    EXPECT_EQ(cancelling.calls, 3);
}

} // namespace
} // namespace pointillo
