// Source analysis speed: mask sampling, cloud building and cache hits.
//
// Targets on one desktop core (release build):
// - mask sampling (hash included) under 2 ns per 8-bit pixel once the
//   allocator reuses memory, so a 4K layer costs under 20 ms;
// - a full-frame 1080p cloud (the 24,000-dot bound) under 15 ms;
// - a cache hit under 1 us, at the back of a full cache too.
//
// The mask's planes are allocated per call. At 4K they are large enough for
// glibc to map fresh pages every time, and first-touch page faults can then
// dominate (they do in some VMs). To see the sampling itself, run with
//   GLIBC_TUNABLES=glibc.malloc.mmap_threshold=268435456:glibc.malloc.trim_threshold=1073741824

#include "source/cloud.h"
#include "source/source_mask.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <vector>

namespace pointillo {
namespace {

// Glyph-like blocks: lines of letters with counters and word gaps, the kind
// of coverage a text layer gives. `alpha` scales a 0..1 shape to the depth.
template <typename Put> void draw_text_like(int32_t width, int32_t height, Put put) {
    const int32_t glyph_w = width / 48;
    const int32_t glyph_h = height / 10;
    for (int32_t line = 0; line < 3; ++line) {
        const int32_t y0 = height / 5 + line * (glyph_h * 2);
        int32_t x0 = width / 16;
        for (int32_t k = 0; k < 30 && x0 + glyph_w < width; ++k) {
            for (int32_t y = y0; y < y0 + glyph_h && y < height; ++y) {
                for (int32_t x = x0; x < x0 + glyph_w; ++x) {
                    const bool counter = x > x0 + glyph_w / 4 && x < x0 + glyph_w * 3 / 4 &&
                                         y > y0 + glyph_h / 4 && y < y0 + glyph_h * 3 / 4;
                    const bool edge = x == x0 || x == x0 + glyph_w - 1;
                    if (!counter) {
                        put(x, y, edge ? 0.4f : 1.0f);
                    }
                }
            }
            x0 += glyph_w + (k % 5 == 4 ? glyph_w : glyph_w / 5);
        }
    }
}

struct Layer {
    std::vector<std::byte> bytes;
    ConstPixelView view;
};

// A text-like layer at the given depth, rows padded as a host pads them.
Layer text_layer(int32_t width, int32_t height, PixelDepth depth) {
    Layer layer;
    layer.view.width = width;
    layer.view.height = height;
    layer.view.depth = depth;
    layer.view.rowbytes = width * bytes_per_pixel(depth) + 64;
    layer.bytes.assign(static_cast<std::size_t>(layer.view.rowbytes * height), std::byte{0});
    draw_text_like(width, height, [&](int32_t x, int32_t y, float a) {
        std::byte* p = layer.bytes.data() + y * layer.view.rowbytes + x * bytes_per_pixel(depth);
        if (depth == PixelDepth::k8) {
            const auto v = static_cast<unsigned char>(a * 255.0f);
            const unsigned char argb[4] = {v, v, static_cast<unsigned char>(v / 2), 0};
            std::memcpy(p, argb, 4);
        } else if (depth == PixelDepth::k16) {
            const auto v = static_cast<uint16_t>(a * 32768.0f);
            const uint16_t argb[4] = {v, v, static_cast<uint16_t>(v / 2), 0};
            std::memcpy(p, argb, 8);
        } else {
            const float argb[4] = {a, a, a * 0.5f, 0.0f};
            std::memcpy(p, argb, 16);
        }
    });
    layer.view.data = layer.bytes.data();
    return layer;
}

void per_pixel_counter(benchmark::State& state, int64_t pixels) {
    // Seconds per pixel; the console shows it with an SI prefix ("1.2n").
    state.counters["per_pixel"] = benchmark::Counter(static_cast<double>(pixels),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void BM_MaskSample(benchmark::State& state) {
    const auto width = static_cast<int32_t>(state.range(0));
    const auto height = static_cast<int32_t>(state.range(1));
    const auto depth = static_cast<PixelDepth>(state.range(2));
    const Layer layer = text_layer(width, height, depth);
    for (auto _ : state) {
        SourceMask mask =
            sample_source_mask(width, height, layer.view, MaskOrigin{}, CancelCheck{});
        benchmark::DoNotOptimize(mask.coverage_hash);
    }
    per_pixel_counter(state, int64_t{width} * height);
}
BENCHMARK(BM_MaskSample)
    ->Args({1920, 1080, static_cast<int>(PixelDepth::k8)})
    ->Args({3840, 2160, static_cast<int>(PixelDepth::k8)})
    ->Args({1920, 1080, static_cast<int>(PixelDepth::k16)})
    ->Args({1920, 1080, static_cast<int>(PixelDepth::k32)})
    ->Unit(benchmark::kMillisecond);

void BM_CoverageHash(benchmark::State& state) {
    const std::vector<uint16_t> coverage(1920u * 1080u, 1234);
    for (auto _ : state) {
        benchmark::DoNotOptimize(coverage_hash(coverage.data(), coverage.size()));
    }
    per_pixel_counter(state, 1920 * 1080);
}
BENCHMARK(BM_CoverageHash)->Unit(benchmark::kMillisecond);

SourceMask opaque_mask(int32_t width, int32_t height) {
    SourceMask mask;
    mask.width = width;
    mask.height = height;
    mask.coverage.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 65535);
    mask.colors = straight_colors(mask.coverage.size(), Rgb{});
    mask.coverage_hash = coverage_hash(mask.coverage.data(), mask.coverage.size());
    return mask;
}

SourceMask text_mask(int32_t width, int32_t height) {
    const Layer layer = text_layer(width, height, PixelDepth::k8);
    return sample_source_mask(width, height, layer.view, MaskOrigin{}, CancelCheck{});
}

void BM_CloudFullFrameSpacing2(benchmark::State& state) {
    const SourceMask mask = opaque_mask(1920, 1080);
    DotSettings settings;
    settings.spacing = 2.0f;
    std::size_t dots = 0;
    for (auto _ : state) {
        const Cloud cloud = build_cloud(mask, settings);
        dots = cloud.dots.size();
        benchmark::DoNotOptimize(cloud.dots.data());
    }
    state.counters["dots"] = static_cast<double>(dots);
}
BENCHMARK(BM_CloudFullFrameSpacing2)->Unit(benchmark::kMillisecond);

void BM_CloudTextDefaultSpacing(benchmark::State& state) {
    const SourceMask mask = text_mask(1920, 1080);
    const DotSettings settings;
    std::size_t dots = 0;
    for (auto _ : state) {
        const Cloud cloud = build_cloud(mask, settings);
        dots = cloud.dots.size();
        benchmark::DoNotOptimize(cloud.dots.data());
    }
    state.counters["dots"] = static_cast<double>(dots);
}
BENCHMARK(BM_CloudTextDefaultSpacing)->Unit(benchmark::kMillisecond);

// Hits on a full cache asked for in a cycle: each wanted cloud is the least
// recently used, found at the back of the list and moved to the front.
void BM_CacheHitAtTheBack(benchmark::State& state) {
    clear_cloud_cache();
    const SourceMask mask = text_mask(640, 360);
    std::vector<DotSettings> keys(kCloudCacheCapacity);
    for (std::size_t k = 0; k < keys.size(); ++k) {
        keys[k].random_seed = static_cast<int32_t>(1000 + k);
        (void)get_cloud(mask, keys[k]);
    }
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(get_cloud(mask, keys[next]));
        next = next + 1 == keys.size() ? 0 : next + 1;
    }
    clear_cloud_cache();
}
BENCHMARK(BM_CacheHitAtTheBack);

// The same cloud asked for again and again: found at the front.
void BM_CacheHitRepeated(benchmark::State& state) {
    clear_cloud_cache();
    const SourceMask mask = text_mask(640, 360);
    const DotSettings settings;
    (void)get_cloud(mask, settings);
    for (auto _ : state) {
        benchmark::DoNotOptimize(get_cloud(mask, settings));
    }
    clear_cloud_cache();
}
BENCHMARK(BM_CacheHitRepeated);

} // namespace
} // namespace pointillo
