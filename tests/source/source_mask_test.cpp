#include "common/hash.h"
#include "source/mask_set.h"
#include "source/source_mask.h"

#include <array>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace pointillo {
namespace {

// A host-like layer: rows `rowbytes` apart with padding after each row filled
// with junk, in a buffer of exactly rowbytes x height bytes so AddressSanitizer
// sees any read past the last row.
struct Layer {
    std::vector<std::byte> bytes;
    ConstPixelView view;

    Layer(int32_t width, int32_t height, PixelDepth depth, std::ptrdiff_t padding = 12) {
        view.width = width;
        view.height = height;
        view.depth = depth;
        view.rowbytes = width * bytes_per_pixel(depth) + padding;
        bytes.assign(static_cast<std::size_t>(view.rowbytes * height), std::byte{0xAB});
        for (int32_t y = 0; y < height; ++y) {
            std::memset(row(y), 0, static_cast<std::size_t>(width * bytes_per_pixel(depth)));
        }
        view.data = bytes.data();
    }

    std::byte* row(int32_t y) { return bytes.data() + y * view.rowbytes; }

    std::byte* pixel(int32_t x, int32_t y) { return row(y) + x * bytes_per_pixel(view.depth); }

    void set8(int32_t x, int32_t y, std::array<uint8_t, 4> argb) {
        std::memcpy(pixel(x, y), argb.data(), 4);
    }
    void set16(int32_t x, int32_t y, std::array<uint16_t, 4> argb) {
        std::memcpy(pixel(x, y), argb.data(), 8);
    }
    void set32(int32_t x, int32_t y, std::array<float, 4> argb) {
        std::memcpy(pixel(x, y), argb.data(), 16);
    }
};

uint16_t coverage_at(const SourceMask& mask, int32_t x, int32_t y) {
    return mask.coverage[static_cast<std::size_t>(y * mask.width + x)];
}

Rgb color_at(const SourceMask& mask, int32_t x, int32_t y) {
    return pointillo::color_at(mask.colors, static_cast<std::size_t>(y * mask.width + x));
}

std::string describe(const Rgb& c) {
    std::ostringstream out;
    out.precision(9);
    out << "(" << c.red << ", " << c.green << ", " << c.blue << ")";
    return out.str();
}

struct ConversionCase {
    const char* name;
    PixelDepth depth;
    std::array<double, 4> argb; // raw stored values at that depth
    uint16_t coverage;
    Rgb color;
};

TEST(SourceMask, ConvertsEachDepthToCoverageAndStraightColour) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    const Rgb white{1.0f, 1.0f, 1.0f};
    const ConversionCase cases[] = {
        {"8-bit opaque", PixelDepth::k8, {255, 255, 0, 51}, 65535, {1.0f, 0.0f, 51.0f / 255.0f}},
        {"8-bit half",
         PixelDepth::k8,
         {128, 64, 128, 0},
         32896,
         {(64.0f / 255.0f) / (128.0f / 255.0f), 1.0f, 0.0f}},
        {"8-bit alpha 1", PixelDepth::k8, {1, 1, 0, 1}, 257, {1.0f, 0.0f, 1.0f}},
        {"8-bit alpha 0 keeps white", PixelDepth::k8, {0, 10, 20, 30}, 0, white},
        {"16-bit white", PixelDepth::k16, {32768, 16384, 32768, 0}, 65535, {0.5f, 1.0f, 0.0f}},
        {"16-bit half", PixelDepth::k16, {16384, 8192, 0, 16384}, 32768, {0.5f, 0.0f, 1.0f}},
        {"16-bit above white clamps coverage only",
         PixelDepth::k16,
         {65535, 65535, 0, 0},
         65535,
         {1.0f, 0.0f, 0.0f}},
        {"16-bit alpha 0 keeps white", PixelDepth::k16, {0, 100, 100, 100}, 0, white},
        {"32-bit alpha 2", PixelDepth::k32, {2.0, 1.0, 3.0, -1.0}, 65535, {0.5f, 1.5f, -0.5f}},
        {"32-bit half", PixelDepth::k32, {0.5, 0.25, 0.5, 0.0}, 32768, {0.5f, 1.0f, 0.0f}},
        {"32-bit alpha 0 keeps white", PixelDepth::k32, {0.0, 0.5, 0.5, 0.5}, 0, white},
        {"32-bit negative alpha keeps white", PixelDepth::k32, {-0.5, 0.5, 0.5, 0.5}, 0, white},
        {"32-bit NaN alpha keeps white", PixelDepth::k32, {kNaN, 0.5, 0.5, 0.5}, 0, white},
        {"32-bit tiny alpha keeps white", PixelDepth::k32, {1e-9, 0.5, 0.5, 0.5}, 0, white},
        {"32-bit small alpha divides",
         PixelDepth::k32,
         {0.25e-7, 0.5e-7, 0.0, 0.25e-7},
         0,
         {0.5e-7f / 0.25e-7f, 0.0f, 1.0f}},
    };
    for (const ConversionCase& c : cases) {
        Layer layer(1, 1, c.depth);
        switch (c.depth) {
        case PixelDepth::k8:
            layer.set8(0, 0,
                       {static_cast<uint8_t>(c.argb[0]), static_cast<uint8_t>(c.argb[1]),
                        static_cast<uint8_t>(c.argb[2]), static_cast<uint8_t>(c.argb[3])});
            break;
        case PixelDepth::k16:
            layer.set16(0, 0,
                        {static_cast<uint16_t>(c.argb[0]), static_cast<uint16_t>(c.argb[1]),
                         static_cast<uint16_t>(c.argb[2]), static_cast<uint16_t>(c.argb[3])});
            break;
        case PixelDepth::k32:
            layer.set32(0, 0,
                        {static_cast<float>(c.argb[0]), static_cast<float>(c.argb[1]),
                         static_cast<float>(c.argb[2]), static_cast<float>(c.argb[3])});
            break;
        }
        const SourceMask mask = sample_source_mask(1, 1, layer.view, MaskOrigin{}, CancelCheck{});
        EXPECT_EQ(mask.coverage[0], c.coverage) << c.name;
        const Rgb color = pointillo::color_at(mask.colors, 0);
        EXPECT_TRUE(color == c.color)
            << c.name << ": colour " << describe(color) << ", expected " << describe(c.color);
    }
}

TEST(SourceMask, AddressesRowsByRowbytesAndPlacesAtOrigin) {
    // A 3 x 2 layer with junk in every row's padding: addressing rows by width
    // would read the junk (alpha 0xAB) into the mask.
    Layer layer(3, 2, PixelDepth::k8, 20);
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 3; ++x) {
            layer.set8(x, y, {static_cast<uint8_t>(10 + 10 * (y * 3 + x)), 0, 0, 0});
        }
    }
    const SourceMask mask = sample_source_mask(6, 4, layer.view, MaskOrigin{2, 1}, CancelCheck{});
    ASSERT_EQ(mask.width, 6);
    ASSERT_EQ(mask.height, 4);
    ASSERT_EQ(mask.coverage.size(), 24u);
    ASSERT_EQ(color_count(mask.colors), 24u);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 6; ++x) {
            const int32_t lx = x - 2;
            const int32_t ly = y - 1;
            const bool inside = lx >= 0 && lx < 3 && ly >= 0 && ly < 2;
            const int alpha = inside ? 10 + 10 * (ly * 3 + lx) : 0;
            EXPECT_EQ(coverage_at(mask, x, y), alpha * 257) << "at " << x << "," << y;
            if (inside) {
                EXPECT_TRUE(color_at(mask, x, y) == (Rgb{0.0f, 0.0f, 0.0f})) << x << "," << y;
            } else {
                EXPECT_TRUE(color_at(mask, x, y) == (Rgb{1.0f, 1.0f, 1.0f})) << x << "," << y;
            }
        }
    }
}

TEST(SourceMask, DropsPixelsOfALayerLargerThanTheOutput) {
    // 7 x 7 layer centred in a 4 x 4 output: origin (-1, -1) by the truncating
    // halving; every depth goes through the same clipping.
    const MaskOrigin origin = mask_origin({4, 4, 1.0f, 1.0f}, {7, 7, 0, 0});
    ASSERT_EQ(origin.x, -1);
    ASSERT_EQ(origin.y, -1);
    for (PixelDepth depth : {PixelDepth::k8, PixelDepth::k16, PixelDepth::k32}) {
        Layer layer(7, 7, depth);
        for (int32_t y = 0; y < 7; ++y) {
            for (int32_t x = 0; x < 7; ++x) {
                const int v = 1 + y * 7 + x; // 1..49, distinct
                if (depth == PixelDepth::k8) {
                    layer.set8(x, y, {static_cast<uint8_t>(v), 0, 0, 0});
                } else if (depth == PixelDepth::k16) {
                    layer.set16(x, y, {static_cast<uint16_t>(v * 512), 0, 0, 0});
                } else {
                    layer.set32(x, y, {static_cast<float>(v) / 64.0f, 0, 0, 0});
                }
            }
        }
        const SourceMask mask = sample_source_mask(4, 4, layer.view, origin, CancelCheck{});
        for (int32_t y = 0; y < 4; ++y) {
            for (int32_t x = 0; x < 4; ++x) {
                const int v = 1 + (y + 1) * 7 + (x + 1);
                // v / 64 of full coverage at every depth: v x 65535 / 64, rounded.
                const uint16_t expected = static_cast<uint16_t>(
                    static_cast<int32_t>(static_cast<float>(v) / 64.0f * 65535.0f + 0.5f));
                if (depth == PixelDepth::k8) {
                    EXPECT_EQ(coverage_at(mask, x, y), v * 257) << x << "," << y;
                } else {
                    EXPECT_EQ(coverage_at(mask, x, y), expected)
                        << "depth " << static_cast<int>(depth) << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(SourceMask, ClipsEveryEdge) {
    // A 3 x 3 opaque layer moved across a 2 x 2 mask: the number of pixels
    // landing is the overlap of the two rectangles, never more.
    Layer layer(3, 3, PixelDepth::k8);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 3; ++x) {
            layer.set8(x, y, {255, 255, 255, 255});
        }
    }
    for (int32_t oy = -4; oy <= 3; ++oy) {
        for (int32_t ox = -4; ox <= 3; ++ox) {
            const SourceMask mask =
                sample_source_mask(2, 2, layer.view, MaskOrigin{ox, oy}, CancelCheck{});
            int covered = 0;
            for (uint16_t c : mask.coverage) {
                covered += c == 65535 ? 1 : 0;
            }
            const int wx = std::max(0, std::min(2, ox + 3) - std::max(0, ox));
            const int wy = std::max(0, std::min(2, oy + 3) - std::max(0, oy));
            EXPECT_EQ(covered, wx * wy) << "origin " << ox << "," << oy;
        }
    }
}

struct OriginCase {
    const char* name;
    int32_t output_width, output_height;
    float ds_x, ds_y;
    int32_t ref_width, ref_height, rect_left, rect_top;
    int32_t x, y;
};

TEST(SourceMask, OriginCentresTheDownsampledLayer) {
    const OriginCase cases[] = {
        {"same size", 100, 50, 1.0f, 1.0f, 100, 50, 0, 0, 0, 0},
        {"smaller layer", 100, 50, 1.0f, 1.0f, 60, 20, 0, 0, 20, 15},
        {"odd difference truncates toward zero", 10, 10, 1.0f, 1.0f, 13, 12, 0, 0, -1, -1},
        {"odd positive difference", 10, 10, 1.0f, 1.0f, 7, 9, 0, 0, 1, 0},
        {"half of 101 is 51 (ceiling)", 101, 101, 0.5f, 0.5f, 101, 101, 0, 0, 25, 25},
        {"rectangle offset added", 100, 50, 1.0f, 1.0f, 60, 20, 5, 7, 25, 22},
        {"quarter by half", 40, 40, 0.25f, 0.5f, 81, 81, 0, 0, 9, 0},
        {"larger layer at half", 10, 10, 0.5f, 0.5f, 41, 40, -3, 2, -8, -3},
    };
    for (const OriginCase& c : cases) {
        const MaskOrigin o = mask_origin({c.output_width, c.output_height, c.ds_x, c.ds_y},
                                         {c.ref_width, c.ref_height, c.rect_left, c.rect_top});
        EXPECT_EQ(o.x, c.x) << c.name;
        EXPECT_EQ(o.y, c.y) << c.name;
    }
}

TEST(SourceMask, OriginSurvivesNonFiniteDownsample) {
    // Never produced by a host, but the float-to-int conversion stays defined.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const MaskOrigin a = mask_origin({10, 10, nan, nan}, {100, 100, 0, 0});
    EXPECT_EQ(a.x, 5);
    EXPECT_EQ(a.y, 5);
    const MaskOrigin b = mask_origin({10, 10, inf, -inf}, {100, 100, 0, 0});
    EXPECT_EQ(b.x, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(b.y, std::numeric_limits<int32_t>::max());
}

TEST(SourceMask, CoverageHashMatchesHandComputedValues) {
    // Worked by hand: four samples make one little-endian word, then the
    // remaining one to three samples go in one at a time.
    struct HashCase {
        std::vector<uint16_t> samples;
        uint64_t hash;
    };
    const HashCase cases[] = {
        {{}, 0x14650FB0739D0383ull},
        {{1}, 0x44BD2AD473CCF5E6ull},
        {{1, 2, 3, 4}, 0x3FF12FED7732F5E6ull},
        {{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, 0xBB42D32B8C3306B4ull},
        {{1, 2, 3, 4, 0xFFFF}, 0xD8DE89818A07287Bull},
        {{1, 2, 3, 4, 5, 0xFFFF}, 0xA9FB2B2031E553F2ull},
        {{0xFFFF, 0x8000, 0x0001, 0x7FFF, 0x8000, 0xFFFF, 7}, 0x8BE49A8BAE3D931Aull},
        {{0, 0, 0, 0, 0, 0, 0, 0}, 0x9A691300C548B8FBull},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(coverage_hash(c.samples.data(), c.samples.size()), c.hash)
            << "row " << i << " (" << c.samples.size() << " samples)";
    }
}

TEST(SourceMask, HashCoversCoverageOnly) {
    Layer a(2, 2, PixelDepth::k8);
    Layer b(2, 2, PixelDepth::k8);
    a.set8(1, 0, {200, 10, 20, 30});
    b.set8(1, 0, {200, 90, 80, 70});
    const SourceMask ma = sample_source_mask(3, 3, a.view, MaskOrigin{}, CancelCheck{});
    const SourceMask mb = sample_source_mask(3, 3, b.view, MaskOrigin{}, CancelCheck{});
    EXPECT_FALSE(ma.colors == mb.colors);
    EXPECT_EQ(ma.coverage_hash, mb.coverage_hash);
    EXPECT_EQ(ma.coverage_hash, coverage_hash(ma.coverage.data(), ma.coverage.size()));
    const SourceMask moved = sample_source_mask(3, 3, a.view, MaskOrigin{1, 0}, CancelCheck{});
    EXPECT_NE(moved.coverage_hash, ma.coverage_hash);
}

int g_polls = 0;
int g_cancel_on_poll = 0;

bool counting_poll(void*) {
    ++g_polls;
    return g_polls == g_cancel_on_poll;
}

TEST(SourceMask, PollsBeforeEvery64thRowEvenOutsideTheMask) {
    Layer layer(2, 200, PixelDepth::k8);
    struct PollCase {
        const char* name;
        MaskOrigin origin;
    };
    const PollCase cases[] = {
        {"inside", {0, 0}},
        {"every row above the mask", {0, -1000}},
        {"every row right of the mask", {50, 0}},
    };
    for (const PollCase& c : cases) {
        g_polls = 0;
        g_cancel_on_poll = 0;
        (void)sample_source_mask(4, 300, layer.view, c.origin, CancelCheck{counting_poll, nullptr});
        EXPECT_EQ(g_polls, 4) << c.name << ": rows 0, 64, 128 and 192";
    }
}

TEST(SourceMask, CancelAtRow64StopsTheBuild) {
    Layer layer(2, 200, PixelDepth::k8);
    g_polls = 0;
    g_cancel_on_poll = 2; // the poll before row 64
    EXPECT_THROW((void)sample_source_mask(4, 300, layer.view, MaskOrigin{},
                                          CancelCheck{counting_poll, nullptr}),
                 std::runtime_error);
    EXPECT_EQ(g_polls, 2);
}

TEST(SourceMask, HostCancelCodePassesThrough) {
    // The glue's poll throws the host's own code; the core must not swallow it.
    Layer layer(1, 1, PixelDepth::k8);
    auto throwing = [](void*) -> bool { throw 517; };
    try {
        (void)sample_source_mask(1, 1, layer.view, MaskOrigin{}, CancelCheck{throwing, nullptr});
        FAIL() << "no throw";
    } catch (int code) {
        EXPECT_EQ(code, 517);
    }
}

TEST(SourceMask, NoPixelsGivesAnEmptyWhiteHashedMask) {
    Layer layer(3, 3, PixelDepth::k8);
    layer.set8(0, 0, {255, 0, 0, 0});
    ConstPixelView no_data = layer.view;
    no_data.data = nullptr;
    ConstPixelView no_rows = layer.view;
    no_rows.height = 0;
    const PooledVector<uint16_t> zeros(12, 0);
    for (const ConstPixelView& view : {no_data, no_rows, ConstPixelView{}}) {
        g_polls = 0;
        g_cancel_on_poll = 0;
        const SourceMask mask =
            sample_source_mask(4, 3, view, MaskOrigin{}, CancelCheck{counting_poll, nullptr});
        EXPECT_EQ(g_polls, 0);
        EXPECT_EQ(mask.coverage, zeros);
        for (std::size_t k = 0; k < 12; ++k) {
            EXPECT_TRUE(pointillo::color_at(mask.colors, k) == (Rgb{1.0f, 1.0f, 1.0f}));
        }
        EXPECT_EQ(mask.coverage_hash, coverage_hash(zeros.data(), zeros.size()));
    }
}

TEST(SourceMask, NonPositiveOutputGivesAnEmptyMask) {
    Layer layer(2, 2, PixelDepth::k8);
    layer.set8(0, 0, {255, 0, 0, 0});
    for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{-3, 4}}) {
        const SourceMask mask = sample_source_mask(w, h, layer.view, MaskOrigin{}, CancelCheck{});
        EXPECT_TRUE(mask.coverage.empty()) << w << "x" << h;
        EXPECT_EQ(color_count(mask.colors), 0u) << w << "x" << h;
        EXPECT_EQ(static_cast<int64_t>(mask.width) * mask.height, 0) << w << "x" << h;
        EXPECT_EQ(mask.coverage_hash, 0x14650FB0739D0383ull) << w << "x" << h;
    }
}

// Every pixel seeded: about a third transparent (with colour bytes all the
// same), the rest any value the depth holds; at 32 bits over-range values and
// a NaN alpha too.
void seed_layer(Layer& layer, uint32_t seed) {
    for (int32_t y = 0; y < layer.view.height; ++y) {
        for (int32_t x = 0; x < layer.view.width; ++x) {
            const uint32_t h = hash32(seed * 7919u + static_cast<uint32_t>(y * 977 + x));
            const bool clear = h % 3 == 0;
            const float r = rand01(h + kGolden);
            const float g = rand01(h + 2 * kGolden);
            const float b = rand01(h + 3 * kGolden);
            const float a = clear ? 0.0f : rand01(h + 4 * kGolden);
            switch (layer.view.depth) {
            case PixelDepth::k8:
                layer.set8(x, y,
                           {static_cast<uint8_t>(a * 255.0f), static_cast<uint8_t>(r * a * 255.0f),
                            static_cast<uint8_t>(g * a * 255.0f),
                            static_cast<uint8_t>(b * a * 255.0f)});
                break;
            case PixelDepth::k16:
                layer.set16(x, y,
                            {static_cast<uint16_t>(a * 32768.0f),
                             static_cast<uint16_t>(r * a * 32768.0f),
                             static_cast<uint16_t>(g * a * 32768.0f),
                             static_cast<uint16_t>(b * a * 32768.0f)});
                break;
            case PixelDepth::k32:
                layer.set32(x, y,
                            {h % 97 == 1 ? std::numeric_limits<float>::quiet_NaN() : a * 1.5f,
                             r * 2.0f - 0.5f, g, b * a});
                break;
            }
        }
    }
}

bool same_mask(const SourceMask& a, const SourceMask& b) {
    return a.width == b.width && a.height == b.height && a.coverage == b.coverage &&
           a.colors == b.colors && a.coverage_hash == b.coverage_hash;
}

int polls_of(const std::function<void(const CancelCheck&)>& run) {
    g_polls = 0;
    g_cancel_on_poll = 0;
    run(CancelCheck{counting_poll, nullptr});
    return g_polls;
}

// A 40 x 150 layer at (-5, 3) in a 30 x 140 mask: columns 0-4 and 35-39 and
// rows 137-149 land outside. An earlier mask is reused exactly when its
// pixels that land are those sampled before (at 32 bits: when they sample to
// the same values), the new mask otherwise equals a fresh one, and the polls
// are those of a fresh sampling either way.
TEST(SourceMask, ReusesAnEarlierMaskOnlyForPixelsThatSampleTheSame) {
    constexpr MaskOrigin kOrigin{-5, 3};
    struct ReuseCase {
        const char* name;
        void (*change)(Layer&);
        bool reuse8;  // at 8 and 16 bits
        bool reuse32; // at 32 bits
    };
    const ReuseCase cases[] = {
        {"same pixels", [](Layer&) {}, true, true},
        {"first pixel that lands", [](Layer& l) { std::memset(l.pixel(5, 0), 0x41, 4); }, false,
         false},
        {"last pixel that lands", [](Layer& l) { std::memset(l.pixel(34, 136), 0x41, 4); }, false,
         false},
        {"a pixel past row 64", [](Layer& l) { std::memset(l.pixel(20, 100), 0x41, 4); }, false,
         false},
        {"a row looked at first", [](Layer& l) { std::memset(l.pixel(20, 24), 0x41, 4); }, false,
         false},
        {"a column left of the mask", [](Layer& l) { std::memset(l.pixel(2, 50), 0x41, 4); }, true,
         true},
        {"a column right of the mask", [](Layer& l) { std::memset(l.pixel(37, 50), 0x41, 4); },
         true, true},
        {"a row below the mask", [](Layer& l) { std::memset(l.pixel(10, 140), 0x41, 4); }, true,
         true},
        {"row padding", [](Layer& l) { std::memset(l.pixel(40, 7), 0x41, 4); }, true, true},
        // Only 32-bit masks keep what sampling made of the pixels rather than
        // the pixels, and a transparent pixel samples to white whatever its
        // colour channels hold.
        {"a transparent pixel's colour",
         [](Layer& l) {
             std::memset(l.pixel(12, 20) + bytes_per_pixel(l.view.depth) / 2, 0x41,
                         static_cast<std::size_t>(bytes_per_pixel(l.view.depth) / 2));
         },
         false, true},
    };
    for (PixelDepth depth : {PixelDepth::k8, PixelDepth::k16, PixelDepth::k32}) {
        Layer original(40, 150, depth);
        seed_layer(original, 5);
        std::memset(original.pixel(12, 20), 0, static_cast<std::size_t>(bytes_per_pixel(depth)));
        Layer other(40, 150, depth);
        seed_layer(other, 6);
        const SourceMask before = sample_source_mask(30, 140, original.view, kOrigin, {});
        const SourceMask unrelated = sample_source_mask(30, 140, other.view, kOrigin, {});
        for (const ReuseCase& c : cases) {
            SCOPED_TRACE(::testing::Message() << c.name << " at depth " << static_cast<int>(depth));
            Layer changed = original;
            changed.view.data = changed.bytes.data();
            c.change(changed);
            const SourceMask fresh = sample_source_mask(30, 140, changed.view, kOrigin, {});
            const bool reuse = depth == PixelDepth::k32 ? c.reuse32 : c.reuse8;
            // The case means what it says: reuse exactly when nothing changes.
            ASSERT_EQ(same_mask(fresh, before), reuse);

            const SourceMask* earlier[] = {&unrelated, &before};
            SourceMask out;
            int32_t found = -2;
            const int polls = polls_of([&](const CancelCheck& cancel) {
                found = sample_or_reuse(earlier, 30, 140, changed.view, kOrigin, cancel, out);
            });
            EXPECT_EQ(polls, 3) << "rows 0, 64 and 128";
            if (reuse) {
                EXPECT_EQ(found, 1);
                EXPECT_TRUE(out.coverage.empty());
            } else {
                EXPECT_EQ(found, -1);
                EXPECT_TRUE(same_mask(out, fresh));
            }
        }
    }
}

// 6 bytes an output pixel at 8 bits (coverage and the source's pixel), 10 at
// 16 bits; 32-bit masks keep coverage and straight colour, 14.
TEST(SourceMask, KeepsFewBytesPerPixel) {
    const std::pair<PixelDepth, std::size_t> cases[] = {
        {PixelDepth::k8, 6}, {PixelDepth::k16, 10}, {PixelDepth::k32, 14}};
    for (const auto& [depth, bytes] : cases) {
        Layer layer(16, 8, depth);
        seed_layer(layer, 1);
        const SourceMask mask = sample_source_mask(20, 10, layer.view, MaskOrigin{}, {});
        EXPECT_EQ(mask.coverage.size() * sizeof(uint16_t) + mask.colors.bytes.size(), bytes * 200)
            << "depth " << static_cast<int>(depth);
    }
}

// Equal pixels lent again, from another buffer, give the mask already made;
// other pixels or another place a new one. Three are kept, the least recently
// used dropped first.
TEST(MaskSet, HandsOutOneMaskPerDistinctSource) {
    std::vector<Layer> layers;
    for (uint32_t seed = 0; seed < 4; ++seed) {
        layers.emplace_back(12, 70, PixelDepth::k8);
        seed_layer(layers.back(), seed);
    }
    Layer copy = layers[0];
    copy.view.data = copy.bytes.data();
    MaskSet set;
    auto obtain = [&](const ConstPixelView& view, MaskOrigin origin) {
        std::shared_ptr<const SourceMask> mask;
        const int polls = polls_of([&](const CancelCheck& cancel) {
            mask = obtain_mask(set, 16, 80, view, origin, cancel);
        });
        EXPECT_EQ(polls, view.data != nullptr ? 2 : 0) << "rows 0 and 64";
        EXPECT_TRUE(same_mask(*mask, sample_source_mask(16, 80, view, origin, {})));
        return mask;
    };
    const auto first = obtain(layers[0].view, {});
    EXPECT_EQ(obtain(copy.view, {}), first);
    EXPECT_NE(obtain(layers[0].view, {1, 0}), first);
    EXPECT_NE(obtain(layers[1].view, {}), first);
    EXPECT_EQ(obtain(copy.view, {}), first) << "used again, so kept";
    const auto none = obtain(ConstPixelView{}, {});
    EXPECT_EQ(obtain(ConstPixelView{}, {}), none);
    EXPECT_EQ(set.entries.size(), MaskSet::kCapacity);
    EXPECT_NE(obtain(layers[1].view, {}), nullptr);
    EXPECT_NE(obtain(layers[2].view, {}), nullptr);
    EXPECT_NE(obtain(layers[3].view, {}), nullptr);
    EXPECT_NE(obtain(copy.view, {}), first) << "dropped, so made again";
    EXPECT_EQ(set.entries.size(), MaskSet::kCapacity);
}

} // namespace
} // namespace pointillo
