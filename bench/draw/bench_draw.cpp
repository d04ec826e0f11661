// Drawing speed: the standard raster workloads, the morph render of one text
// frame and the output conversion.
//
// Raster workloads draw into a 1920 x 1080 canvas. Dot (or particle) i, from
// 0, takes u(i, k) = rand01(0x2545F491 + 8 i + k) in uint32 arithmetic:
// channel 0 the centre x (u x 1920), 1 the centre y (u x 1080), 2 the radius
// jitter, 3, 4, 5 the straight red, green and blue.
//
// Target (release build, one core): raster/dots_24k_1080p within 3 x
// raster/clear_1080p measured in the same run.

#include "common/hash.h"
#include "draw/canvas.h"
#include "draw/dot_batch.h"
#include "draw/kernels.h"
#include "draw/morph.h"
#include "source/cloud.h"
#include "source/source_mask.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pointillo {
namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

float u(uint32_t i, uint32_t k) {
    return rand01(0x2545F491u + 8u * i + k);
}

// Radius: 0 jitters 3.5 by 10 % either way, any other value is used as is.
std::vector<DotDraw> standard_dots(uint32_t count, float radius) {
    std::vector<DotDraw> dots;
    dots.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        DotDraw dot;
        dot.x = u(i, 0) * 1920.0f;
        dot.y = u(i, 1) * 1080.0f;
        dot.radius = radius > 0.0f ? radius : 3.5f * (1.0f + 0.1f * (2.0f * u(i, 2) - 1.0f));
        dot.opacity = 1.0f;
        dot.color = {u(i, 3), u(i, 4), u(i, 5)};
        dots.push_back(dot);
    }
    return dots;
}

// Circles, softness 0.75.
const DotStyle kStandardStyle{DotShape::kCircle, 0.75f, true, Rgb{}};

void BM_clear_1080p(benchmark::State& state) {
    Canvas canvas;
    for (auto _ : state) {
        reset_canvas(canvas, kWidth, kHeight);
        benchmark::DoNotOptimize(canvas.pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
    state.counters["pixels"] = kWidth * kHeight;
}

// In the best drawing form, or in the one of `level` (as on processors, or
// with compilers, that have nothing better).
void BM_dots(benchmark::State& state, uint32_t count, float radius, const DrawLevel* level) {
    const DrawKernels* kernels = level != nullptr ? draw_kernels(*level) : &draw_kernels();
    if (kernels == nullptr) {
        state.SkipWithError("this build or processor has no such drawing form");
        return;
    }
    const std::vector<DotDraw> dots = standard_dots(count, radius);
    Canvas canvas;
    for (auto _ : state) {
        render_dots(canvas, kWidth, kHeight, kStandardStyle, dots, kSerialFor, *kernels);
        benchmark::DoNotOptimize(canvas.pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count);
}
constexpr DrawLevel kSse2 = DrawLevel::kSse2;
constexpr DrawLevel kPortable = DrawLevel::kPortable;

void BM_particles_100k(benchmark::State& state) {
    std::vector<Particle> particles;
    for (uint32_t i = 0; i < 100'000; ++i) {
        particles.push_back(
            {u(i, 0) * 1920.0f, u(i, 1) * 1080.0f, 1.5f, 0.7f, u(i, 3), u(i, 4), u(i, 5)});
    }
    Canvas canvas;
    for (auto _ : state) {
        reset_canvas(canvas, kWidth, kHeight);
        draw_particles(particles, kWidth, kHeight, 0.75f, canvas);
        benchmark::DoNotOptimize(canvas.pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(particles.size()));
}

// A text-like source: lines of block glyphs with counters, word gaps and a
// soft edge column, coloured along x. `variant` shifts the layout so the two
// sources of a transition differ.
SourceMask text_mask(int32_t variant) {
    SourceMask mask;
    mask.width = kWidth;
    mask.height = kHeight;
    mask.coverage.assign(static_cast<size_t>(kWidth) * kHeight, 0);
    mask.colors = straight_colors(static_cast<size_t>(kWidth) * kHeight, Rgb{});
    const int32_t glyph_w = 56 + 8 * variant;
    const int32_t glyph_h = 120;
    for (int32_t line = 0; line < 2 + variant; ++line) {
        const int32_t y0 = 180 + line * (glyph_h + 90);
        int32_t x0 = 120 + 40 * variant;
        for (int32_t k = 0; x0 + glyph_w < kWidth - 120; ++k) {
            for (int32_t y = y0; y < y0 + glyph_h; ++y) {
                for (int32_t x = x0; x < x0 + glyph_w; ++x) {
                    const bool counter = x > x0 + glyph_w / 3 && x < x0 + glyph_w * 2 / 3 &&
                                         y > y0 + glyph_h / 4 && y < y0 + glyph_h * 3 / 4;
                    if (counter) {
                        continue;
                    }
                    const bool edge = x == x0 || x == x0 + glyph_w - 1;
                    const size_t index = static_cast<size_t>(y) * kWidth + static_cast<size_t>(x);
                    mask.coverage[index] = edge ? 26000 : 65535;
                    set_color(mask.colors, index,
                              {static_cast<float>(x) / kWidth, 0.6f,
                               1.0f - static_cast<float>(y) / kHeight});
                }
            }
            x0 += glyph_w + (k % 6 == 5 ? glyph_w : glyph_w / 4);
        }
    }
    mask.coverage_hash = coverage_hash(mask.coverage.data(), mask.coverage.size());
    return mask;
}

struct MorphScene {
    SourceMask from_mask = text_mask(0);
    SourceMask to_mask = text_mask(1);
    DotSettings settings;
    Cloud from = build_cloud(from_mask, settings);
    Cloud to = build_cloud(to_mask, settings);
};

const MorphScene& morph_scene() {
    static const MorphScene scene;
    return scene;
}

void BM_morph_text_1080p(benchmark::State& state, float progress) {
    const MorphScene& scene = morph_scene();
    Canvas canvas;
    for (auto _ : state) {
        render_morph(Morph{{&scene.from_mask, &scene.from},
                           {&scene.to_mask, &scene.to},
                           progress,
                           kWidth,
                           kHeight},
                     scene.settings, canvas, {});
        benchmark::DoNotOptimize(canvas.pixels.data());
        benchmark::ClobberMemory();
    }
    const size_t pairs = std::max(scene.from.dots.size(), scene.to.dots.size());
    state.counters["pairs"] = static_cast<double>(pairs);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(pairs));
}

void BM_convert_1080p(benchmark::State& state, PixelDepth depth) {
    Canvas canvas;
    render_dots(canvas, kWidth, kHeight, kStandardStyle, standard_dots(24'000, 0.0f));
    const std::ptrdiff_t rowbytes = kWidth * bytes_per_pixel(depth);
    std::vector<std::byte> out(static_cast<size_t>(rowbytes) * kHeight);
    const PixelView view{out.data(), kWidth, kHeight, rowbytes, depth};
    for (auto _ : state) {
        convert_canvas(canvas, view, {});
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

BENCHMARK(BM_clear_1080p)->Name("raster/clear_1080p")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_dots, dots_24k, 24'000u, 0.0f, nullptr)
    ->Name("raster/dots_24k_1080p")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_dots, dots_24k_sse2, 24'000u, 0.0f, &kSse2)
    ->Name("raster/dots_24k_1080p_sse2")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_dots, dots_24k_portable, 24'000u, 0.0f, &kPortable)
    ->Name("raster/dots_24k_1080p_portable")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_dots, dots_4k_large, 4'000u, 20.0f, nullptr)
    ->Name("raster/dots_4k_large")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_particles_100k)->Name("raster/particles_100k")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_morph_text_1080p, mid, 0.5f)
    ->Name("morph/text_1080p")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_morph_text_1080p, solid_start, 0.0f)
    ->Name("morph/text_1080p_solid_start")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_morph_text_1080p, solid_end, 1.0f)
    ->Name("morph/text_1080p_solid_end")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_convert_1080p, k8, PixelDepth::k8)
    ->Name("convert/1080p_8")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_convert_1080p, k16, PixelDepth::k16)
    ->Name("convert/1080p_16")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_convert_1080p, k32, PixelDepth::k32)
    ->Name("convert/1080p_32")
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace pointillo
