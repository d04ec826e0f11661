#include "draw/morph.h"
#include "draw/motion.h"
#include "draw_fixtures.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <stdexcept>
#include <utility>
#include <vector>

namespace pointillo {
namespace {

using test::pixel;

constexpr int32_t kSize = 128;
const Rgb kRed{1.0f, 0.0f, 0.0f};
const Rgb kBlue{0.0f, 0.0f, 1.0f};

// `count` dots on a grid of 10 rows, sorted by x then y as clouds are.
std::vector<Dot> grid_dots(int count, float x0, float y0, float step) {
    std::vector<Dot> dots;
    for (int k = 0; k < count; ++k) {
        dots.push_back(test::dot_at(x0 + step * static_cast<float>(k / 10),
                                    y0 + step * static_cast<float>(k % 10)));
    }
    return dots;
}

DotSettings small_dots() {
    DotSettings settings = test::straight_settings();
    settings.dot_size = 3.0f;
    settings.size_randomness = 0.0f;
    return settings;
}

// What render_morph must draw for travelling dots with an explicitly given
// pairing, one colour and one opacity: the pairs in order, at the state that
// evaluate_dot gives with the larger cloud spacing.
Canvas expected_travel(const std::vector<std::pair<Dot, Dot>>& pairs, DotSettings settings,
                       float spacing, float progress, Rgb color, float opacity) {
    settings.spacing = spacing;
    Canvas canvas;
    reset_canvas(canvas, kSize, kSize);
    const float s = effective_softness(settings.edge_softness);
    for (size_t h = 0; h < pairs.size(); ++h) {
        const DotState state = evaluate_dot(pairs[h].first, pairs[h].second, settings, progress,
                                            static_cast<uint32_t>(h));
        EXPECT_EQ(state.solid_phase, SolidPhase::kTravelling);
        draw_dot(canvas, settings.dot_shape, s, state.x, state.y, state.radius, state.inner_radius,
                 opacity, color);
    }
    return canvas;
}

Canvas render(const SourceMask& from_mask, const SourceMask& to_mask, const Cloud& from,
              const Cloud& to, const DotSettings& settings, float progress) {
    Canvas canvas;
    render_morph(Morph{{&from_mask, &from}, {&to_mask, &to}, progress, kSize, kSize}, settings,
                 canvas, {});
    return canvas;
}

TEST(MorphPairing, FloorRuleInSixtyFourBits) {
    for (int64_t k = 0; k < 50; ++k) {
        EXPECT_EQ(paired_index(2 * k, 50, 100), k);
        EXPECT_EQ(paired_index(2 * k + 1, 50, 100), k);
        EXPECT_EQ(paired_index(k, 100, 100), k);
    }
    EXPECT_EQ(paired_index(99, 1, 100), 0);
    EXPECT_EQ(paired_index(6, 3, 7), 2); // 18 / 7
    EXPECT_EQ(paired_index(4, 3, 7), 1); // 12 / 7
    // Products beyond 32 bits stay exact.
    EXPECT_EQ(paired_index(3'000'000'000, 3'000'000'000, 4'000'000'000), 2'250'000'000);
}

TEST(MorphPairing, HundredFromDotsMeetFiftyToDots) {
    const Cloud from = test::cloud_of(grid_dots(100, 6.0f, 6.0f, 11.0f), 6.0f);
    const Cloud to = test::cloud_of(grid_dots(50, 20.0f, 9.0f, 12.0f), 9.0f);
    const SourceMask full = test::uniform_mask(kSize, kSize, 65535);
    std::vector<std::pair<Dot, Dot>> pairs;
    for (size_t h = 0; h < 100; ++h) {
        pairs.emplace_back(from.dots[h], to.dots[h / 2]); // to dot k ends pairs 2k, 2k+1
    }
    for (const float progress : {0.0f, 0.37f, 1.0f}) {
        const Canvas got = render(full, full, from, to, small_dots(), progress);
        EXPECT_TRUE(test::same_pixels(
            got, expected_travel(pairs, small_dots(), 9.0f, progress, {1, 1, 1}, 1.0f)))
            << "progress " << progress;
    }
}

TEST(MorphPairing, FiftyFromDotsSplitIntoHundred) {
    const Cloud from = test::cloud_of(grid_dots(50, 20.0f, 9.0f, 12.0f));
    const Cloud to = test::cloud_of(grid_dots(100, 6.0f, 6.0f, 11.0f));
    const SourceMask full = test::uniform_mask(kSize, kSize, 65535);
    std::vector<std::pair<Dot, Dot>> pairs;
    for (size_t h = 0; h < 100; ++h) {
        pairs.emplace_back(from.dots[h / 2], to.dots[h]);
    }
    DotSettings settings = small_dots();
    settings.scatter = 20.0f; // the two dots of one source dot leave apart
    const Canvas got = render(full, full, from, to, settings, 0.5f);
    EXPECT_TRUE(test::same_pixels(got, expected_travel(pairs, settings, 8.0f, 0.5f, {1, 1, 1}, 1)));
}

// An empty to side: each dot's to dot is itself, it keeps the from colour
// and fades to the to mask's coverage at its place.
TEST(MorphPairing, EmptyToCloud) {
    const Cloud from = test::cloud_of(grid_dots(30, 10.0f, 10.0f, 10.0f));
    const Cloud empty;
    const SourceMask red = test::uniform_mask(kSize, kSize, 65535, &kRed);
    const SourceMask blue = test::uniform_mask(kSize, kSize, 65535, &kBlue);
    const SourceMask none = test::uniform_mask(kSize, kSize, 0, &kBlue);
    std::vector<std::pair<Dot, Dot>> pairs;
    for (const Dot& dot : from.dots) {
        pairs.emplace_back(dot, dot);
    }
    EXPECT_TRUE(test::same_pixels(render(red, blue, from, empty, small_dots(), 1.0f),
                                  expected_travel(pairs, small_dots(), 8.0f, 1.0f, kRed, 1.0f)));
    EXPECT_TRUE(test::all_transparent(render(red, none, from, empty, small_dots(), 1.0f)));
    // Half way the dots have moved out along their scatter and are half faded.
    DotSettings scattered = small_dots();
    scattered.scatter = 30.0f;
    EXPECT_TRUE(test::same_pixels(render(red, none, from, empty, scattered, 0.5f),
                                  expected_travel(pairs, scattered, 8.0f, 0.5f, kRed, 0.5f)));
}

// An empty from side: every pair starts and ends on a to dot, takes the
// to colour and fades in from the from mask's coverage there.
TEST(MorphPairing, EmptyFromCloud) {
    const Cloud empty;
    const Cloud to = test::cloud_of(grid_dots(30, 10.0f, 10.0f, 10.0f));
    const SourceMask none = test::uniform_mask(kSize, kSize, 0, &kRed);
    const SourceMask blue = test::uniform_mask(kSize, kSize, 65535, &kBlue);
    std::vector<std::pair<Dot, Dot>> pairs;
    for (const Dot& dot : to.dots) {
        pairs.emplace_back(dot, dot);
    }
    EXPECT_TRUE(test::all_transparent(render(none, blue, empty, to, small_dots(), 0.0f)));
    EXPECT_TRUE(test::same_pixels(render(none, blue, empty, to, small_dots(), 1.0f),
                                  expected_travel(pairs, small_dots(), 8.0f, 1.0f, kBlue, 1.0f)));
}

TEST(MorphPairing, BothCloudsEmptyDrawNothing) {
    const Cloud empty;
    const SourceMask full = test::uniform_mask(kSize, kSize, 65535);
    Canvas canvas;
    reset_canvas(canvas, 4, 4);
    canvas.pixels[0].alpha = 1.0f;
    render_morph(Morph{{&full, &empty}, {&full, &empty}, 0.5f, 20, 10}, small_dots(), canvas, {});
    EXPECT_EQ(canvas.width, 20);
    EXPECT_EQ(canvas.height, 10);
    EXPECT_TRUE(test::all_transparent(canvas));
}

TEST(MorphSolid, EndsOfATransitionAreFilledSolid) {
    SourceMask from_mask = test::uniform_mask(kSize, kSize, 0, &kRed);
    SourceMask to_mask = test::uniform_mask(kSize, kSize, 0, &kBlue);
    for (int i = 0; i < kSize * kSize; i += 3) {
        from_mask.coverage[static_cast<size_t>(i)] = 40000;
        to_mask.coverage[static_cast<size_t>(kSize * kSize - 1 - i)] = 50000;
    }
    const Cloud from = test::cloud_of(grid_dots(40, 10.0f, 10.0f, 10.0f));
    const Cloud to = test::cloud_of(grid_dots(40, 15.0f, 12.0f, 9.0f));
    DotSettings settings = small_dots();
    settings.form_solid_source = true;

    Canvas solid_from;
    reset_canvas(solid_from, kSize, kSize);
    fill_solid_source(solid_from, from_mask, true, settings.dot_color, {});
    Canvas solid_to;
    reset_canvas(solid_to, kSize, kSize);
    fill_solid_source(solid_to, to_mask, true, settings.dot_color, {});

    const std::pair<float, const Canvas*> rows[] = {
        {0.0f, &solid_from}, {-0.3f, &solid_from}, {1.0f, &solid_to}, {1.5f, &solid_to}};
    for (const auto& [progress, want] : rows) {
        EXPECT_TRUE(
            test::same_pixels(render(from_mask, to_mask, from, to, settings, progress), *want))
            << "progress " << progress;
    }
    const Canvas middle = render(from_mask, to_mask, from, to, settings, 0.5f);
    EXPECT_FALSE(test::same_pixels(middle, solid_from));
    EXPECT_FALSE(test::same_pixels(middle, solid_to));
    EXPECT_FALSE(test::all_transparent(middle));

    // The single-source form: the same mask twice, no dots, progress 0.
    const Cloud empty;
    EXPECT_TRUE(
        test::same_pixels(render(from_mask, from_mask, empty, empty, settings, 0.0f), solid_from));
    // Without "Form Solid Source" the ends are dots.
    settings.form_solid_source = false;
    EXPECT_FALSE(
        test::same_pixels(render(from_mask, to_mask, from, to, settings, 0.0f), solid_from));
}

// Break-apart dots are cut by the source mask: nothing lands where the mask
// is empty, however large the solid dots are.
TEST(MorphSolid, SolidPhaseDotsAreCutByTheMask) {
    SourceMask half = test::uniform_mask(kSize, kSize, 0, &kRed);
    for (int32_t y = 0; y < kSize; ++y) {
        for (int32_t x = 0; x < 64; ++x) {
            half.coverage[static_cast<size_t>(y * kSize + x)] = 65535;
        }
    }
    const Cloud from = test::cloud_of(grid_dots(60, 8.0f, 8.0f, 9.0f), 8.0f);
    DotSettings settings = small_dots();
    settings.form_solid_source = true;
    const Canvas got = render(half, half, from, from, settings, 0.02f);
    for (int32_t y = 0; y < kSize; ++y) {
        for (int32_t x = 64; x < kSize; ++x) {
            ASSERT_EQ(pixel(got, x, y).alpha, 0.0f) << x << "," << y;
        }
    }
    // The dots at x = 53 have nearly 1.8 x 8 radius here: they reach the cut edge.
    EXPECT_EQ(pixel(got, 63, 50).alpha, 1.0f);
    EXPECT_EQ(pixel(got, 63, 50).red, 1.0f);
    EXPECT_EQ(pixel(got, 63, 50).green, 0.0f);
}

// The solid radius follows the larger of the two clouds' spacings.
TEST(MorphSolid, WorkingSpacingIsTheLargerCloudSpacing) {
    const SourceMask full = test::uniform_mask(kSize, kSize, 65535);
    const Cloud one = test::cloud_of({test::dot_at(40.5f, 40.5f)}, 4.0f);
    const Cloud wide = test::cloud_of({test::dot_at(40.5f, 40.5f)}, 10.0f);
    DotSettings settings = small_dots();
    settings.form_solid_source = true;
    // At progress 0.001 the dot has barely started to shrink from 1.8 x spacing.
    const Canvas narrow = render(full, full, one, one, settings, 0.001f);
    const Canvas broad = render(full, full, one, wide, settings, 0.001f);
    EXPECT_EQ(pixel(narrow, 56, 40).alpha, 0.0f);
    EXPECT_GT(pixel(broad, 56, 40).alpha, 0.9f);
}

TEST(MorphColour, HoldDrawsEachDotWithItsOwnCoverage) {
    SourceMask mask = test::uniform_mask(kSize, kSize, 65535);
    mask.coverage[static_cast<size_t>(20 * kSize + 30)] = 16384; // under the dot at (30.7, 20.2)
    const Cloud from = test::cloud_of({test::dot_at(30.7f, 20.2f), test::dot_at(90.5f, 90.5f)});
    DotSettings settings = small_dots();
    const Canvas got = render(mask, mask, from, from, settings, 0.0f);
    // The dot's centre pixel is fully inside radius 1.5: coverage 1 x 16384/65535.
    EXPECT_EQ(pixel(got, 30, 20).alpha, 16384.0f / 65535.0f);
    EXPECT_EQ(pixel(got, 90, 90).alpha, 1.0f);
}

TEST(MorphColour, MaskColoursWhiteAndDotColour) {
    const Cloud cloud = test::cloud_of({test::dot_at(64.5f, 64.5f)});
    const SourceMask grey = test::uniform_mask(kSize, kSize, 65535); // no colour plane
    const SourceMask red = test::uniform_mask(kSize, kSize, 65535, &kRed);
    const SourceMask blue = test::uniform_mask(kSize, kSize, 65535, &kBlue);
    DotSettings settings = small_dots();
    settings.dot_color = {0.0f, 1.0f, 0.0f};

    const PremultipliedPixel white =
        pixel(render(grey, grey, cloud, cloud, settings, 0.3f), 64, 64);
    EXPECT_EQ(white.alpha, 1.0f);
    EXPECT_EQ(white.red, 1.0f);
    EXPECT_EQ(white.green, 1.0f);
    EXPECT_EQ(white.blue, 1.0f);

    // Half way from a red from side to a blue to side: an even mix.
    const PremultipliedPixel mixed = pixel(render(red, blue, cloud, cloud, settings, 0.5f), 64, 64);
    EXPECT_FLOAT_EQ(mixed.red, 0.5f);
    EXPECT_EQ(mixed.green, 0.0f);
    EXPECT_FLOAT_EQ(mixed.blue, 0.5f);

    settings.match_source_colors = false;
    const PremultipliedPixel green = pixel(render(red, blue, cloud, cloud, settings, 0.5f), 64, 64);
    EXPECT_EQ(green.red, 0.0f);
    EXPECT_EQ(green.green, 1.0f);
}

// Colour and coverage are read at the dot's truncated pixel; a dot off the
// mask (negative or beyond) is white and fully transparent there.
TEST(MorphColour, DotsOffTheMaskReadWhiteAndZero) {
    const Rgb yellow{1.0f, 1.0f, 0.0f};
    const SourceMask mask = test::uniform_mask(kSize, kSize, 65535, &yellow);
    const SourceMask empty_to = test::uniform_mask(kSize, kSize, 0, &kBlue);
    DotSettings settings = small_dots();
    settings.dot_size = 8.0f;
    // -0.5 truncates to column 0: still on the mask, so the dot is yellow.
    const Cloud edge = test::cloud_of({test::dot_at(-0.5f, 10.5f)});
    const PremultipliedPixel on = pixel(render(mask, mask, edge, edge, settings, 0.0f), 0, 10);
    EXPECT_EQ(on.alpha, 1.0f);
    EXPECT_EQ(on.blue, 0.0f);
    // -1.5 is off the mask: coverage 0 at the source, so at progress 0 nothing.
    const Cloud off = test::cloud_of({test::dot_at(-1.5f, 10.5f)});
    EXPECT_TRUE(test::all_transparent(render(mask, empty_to, off, off, settings, 0.0f)));
}

struct PollCounter {
    int calls = 0;
    int cancel_at = -1;
    static bool poll(void* user) {
        auto* self = static_cast<PollCounter*>(user);
        return self->calls++ == self->cancel_at;
    }
};

TEST(MorphCancel, PollsEvery128PairsAndCancels) {
    const Cloud cloud = test::cloud_of(grid_dots(300, 2.0f, 2.0f, 0.4f));
    const SourceMask full = test::uniform_mask(kSize, kSize, 65535);
    Canvas canvas;
    PollCounter counter;
    render_morph(Morph{{&full, &cloud}, {&full, &cloud}, 0.5f, kSize, kSize}, small_dots(), canvas,
                 {&PollCounter::poll, &counter});
    EXPECT_EQ(counter.calls, 3); // pairs 0, 128, 256

    PollCounter cancelling;
    cancelling.cancel_at = 1;
    try {
        render_morph(Morph{{&full, &cloud}, {&full, &cloud}, 0.5f, kSize, kSize}, small_dots(),
                     canvas, {&PollCounter::poll, &cancelling});
        ADD_FAILURE() << "not cancelled";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Render cancelled");
    }
    EXPECT_EQ(cancelling.calls, 2);

    // Whatever the callback throws itself (the host's cancel code) passes through.
    const auto host_abort = [](void*) -> bool { throw 517; };
    EXPECT_THROW(render_morph(Morph{{&full, &cloud}, {&full, &cloud}, 0.5f, kSize, kSize},
                              small_dots(), canvas, {+host_abort, nullptr}),
                 int);
}

TEST(MorphSize, RefusedBeforeTheCanvasIsTouched) {
    const Cloud cloud = test::cloud_of({test::dot_at(1.0f, 1.0f)});
    const SourceMask full = test::uniform_mask(4, 4, 65535);
    const int32_t sizes[][2] = {{8193, 8193}, {0, 10}, {10, 0}, {-4, 4}, {67108865, 1}};
    for (const auto& size : sizes) {
        Canvas canvas;
        reset_canvas(canvas, 4, 4);
        canvas.pixels[5].alpha = 0.5f;
        try {
            render_morph(Morph{{&full, &cloud}, {&full, &cloud}, 0.5f, size[0], size[1]},
                         small_dots(), canvas, {});
            ADD_FAILURE() << size[0] << "x" << size[1] << " accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Unsupported output dimensions");
        }
        EXPECT_EQ(canvas.width, 4);
        EXPECT_EQ(canvas.pixels[5].alpha, 0.5f);
    }
}

} // namespace
} // namespace pointillo
