// The images the host hands out: padded rows, depths, layer sizes.

#include "hostsim/host.h"
#include "hostsim/world.h"

#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>

namespace hostsim {
namespace {

TEST(World, RowsArePaddedBeyondTheirPixels) {
    for (const int32_t depth : {8, 16, 32}) {
        const PF_PixelFormat format = pixel_format_of(depth);
        const auto world = make_world(7, 3, format, true);
        EXPECT_EQ(world->world.rowbytes, 7 * pixel_bytes(format) + kRowPadding) << depth;
        EXPECT_EQ(world->world.width, 7);
        EXPECT_EQ(world->world.height, 3);
        ASSERT_NE(world->world.data, nullptr);
        const auto* bytes = reinterpret_cast<const std::byte*>(world->world.data);
        for (int32_t i = 0; i < world->world.rowbytes * 3; ++i) {
            ASSERT_EQ(bytes[i], kUnwrittenByte) << depth << " bits, byte " << i;
        }
    }
    const auto empty = make_world(7, 3, PF_PixelFormat_ARGB32, false);
    EXPECT_EQ(empty->world.data, nullptr);
    EXPECT_EQ(empty->world.width, 7);
    EXPECT_THROW(make_world(30001, 1, PF_PixelFormat_ARGB32, true), std::invalid_argument);
    EXPECT_THROW(pixel_format_of(24), std::invalid_argument);
}

TEST(World, LayerPixelsAtEachDepth) {
    const auto argb = [](int32_t x, int32_t y) -> Argb {
        return {1.0f, 0.5f, static_cast<float>(x) * 0.25f, static_cast<float>(y) * 2.0f};
    };
    const LayerPixels p8 = make_layer_pixels(8, 3, 2, argb);
    const LayerPixels p16 = make_layer_pixels(16, 3, 2, argb);
    const LayerPixels p32 = make_layer_pixels(32, 3, 2, argb);
    EXPECT_EQ(p8.bytes.size(), 3u * 2u * 4u);
    EXPECT_EQ(p16.bytes.size(), 3u * 2u * 8u);
    EXPECT_EQ(p32.bytes.size(), 3u * 2u * 16u);
    // 8 bits: v x 255 + 0.5; 16 bits: v x 32768 + 0.5; both clamped.
    EXPECT_EQ(std::to_integer<int>(p8.bytes[1]), 128);
    EXPECT_EQ(pixel_at(p8, 2, 0)[2], 128.0f / 255.0f);
    EXPECT_EQ(pixel_at(p16, 2, 0)[2], 16384.0f / 32768.0f);
    EXPECT_EQ(pixel_at(p16, 0, 1)[3], 1.0f) << "2.0 clamps to 32768";
    EXPECT_EQ(pixel_at(p32, 0, 1)[3], 2.0f) << "floats are stored as given";
    EXPECT_EQ(pixel_at(p32, 1, 1)[2], 0.25f);
}

TEST(World, AWorldOfLayerPixelsKeepsItsRowsApart) {
    const LayerPixels pixels = make_layer_pixels(8, 5, 4, [](int32_t x, int32_t y) -> Argb {
        return {1.0f, static_cast<float>(x) / 255.0f, static_cast<float>(y) / 255.0f, 0.0f};
    });
    const auto world = world_of(pixels);
    const auto* data = reinterpret_cast<const unsigned char*>(world->world.data);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 5; ++x) {
            const unsigned char* p = data + y * world->world.rowbytes + x * 4;
            ASSERT_EQ(p[1], x) << x << "," << y;
            ASSERT_EQ(p[2], y) << x << "," << y;
        }
        for (int32_t i = 5 * 4; i < world->world.rowbytes; ++i) {
            ASSERT_EQ(data[y * world->world.rowbytes + i], 0xCD) << "padding of row " << y;
        }
    }
}

TEST(World, DownsampledSizesRoundUp) {
    EXPECT_EQ(downsampled(1920, {1, 2}), 960);
    EXPECT_EQ(downsampled(1920, {1, 3}), 640);
    EXPECT_EQ(downsampled(101, {1, 2}), 51);
    EXPECT_EQ(downsampled(1, {1, 4}), 1);
    EXPECT_EQ(downsampled(30000, {1, 1}), 30000);
    EXPECT_EQ(downsampled(10, {1, 0}), 0);
}

TEST(World, LayersAreProducedOncePerDepthAndDownsample) {
    Host host;
    int32_t produced = 0;
    Layer layer = pattern_layer(9, 5, [](int32_t x, int32_t y) -> Argb {
        return {1.0f, static_cast<float>(x) / 255.0f, static_cast<float>(y) / 255.0f, 0.0f};
    });
    const auto produce = layer.produce;
    layer.produce = [&](const LayerRequest& request) {
        ++produced;
        return produce(request);
    };
    const int32_t id = host.layers.add(layer);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(host.layers.size(id), (std::pair<int32_t, int32_t>{9, 5}));
    EXPECT_FALSE(host.layers.size(0).has_value());

    const LayerRequest half{8, {1, 2}, {1, 2}, 5, 3};
    const auto pixels = host.layers.pixels(id, half);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels->width, 5);
    EXPECT_EQ(pixels->height, 3);
    // Pixel (x, y) at 1/2 samples the full-resolution pixel (2x, 2y).
    EXPECT_EQ(pixel_at(*pixels, 4, 2)[1], 8.0f / 255.0f);
    EXPECT_EQ(pixel_at(*pixels, 4, 2)[2], 4.0f / 255.0f);
    // What is made once and shared is the world; pixels are copies of it.
    const auto world = host.layers.world(id, half);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(host.layers.world(id, half), world);
    EXPECT_EQ(world->world.rowbytes, 5 * 4 + kRowPadding);
    EXPECT_EQ(host.layers.pixels(id, half)->bytes, pixels->bytes);
    EXPECT_EQ(produced, 1);
    host.layers.pixels(id, LayerRequest{16, {1, 2}, {1, 2}, 5, 3});
    EXPECT_EQ(produced, 2);

    // Ready pixels are used as given.
    host.layers.supply(id, {1, 1}, {1, 1},
                       make_layer_pixels(32, 9, 5, [](int32_t, int32_t) -> Argb {
                           return {0.5f, 0.5f, 0.5f, 0.5f};
                       }));
    EXPECT_EQ(pixel_at(*host.layers.pixels(id, LayerRequest{32, {1, 1}, {1, 1}, 9, 5}), 0, 0)[0],
              0.5f);
    EXPECT_EQ(produced, 2);
    const auto clear = [](int32_t, int32_t) -> Argb { return {}; };
    EXPECT_THROW(host.layers.supply(id, {1, 2}, {1, 2}, make_layer_pixels(8, 9, 5, clear)),
                 std::invalid_argument)
        << "the wrong size for 1/2";
    EXPECT_THROW(host.layers.add(pattern_layer(30001, 5, {})), std::invalid_argument);
    EXPECT_THROW(host.layers.add(pattern_layer(0, 5, {})), std::invalid_argument);
}

} // namespace
} // namespace hostsim
