#include "cli/scene/layer_pixels.h"

#include <gtest/gtest.h>

namespace pointillo {
namespace {

StraightImage one_pixel(int32_t bits, uint16_t r, uint16_t g, uint16_t b, uint16_t a) {
    StraightImage image = make_straight_image(1, 1, bits);
    image.samples = {r, g, b, a};
    return image;
}

struct PremultiplyRow {
    int32_t bits;
    uint16_t r, g, b, a; // straight, file order
    uint32_t argb[4];    // expected, host order
};

TEST(LayerPixels, PremultipliesEightBitLayersWithIntegerRounding) {
    const PremultiplyRow rows[] = {
        {8, 255, 128, 0, 255, {255, 255, 128, 0}},
        // (c x a + 127) / 255: 25727 / 255 = 100.9, 12927 / 255 = 50.7, 6527 / 255 = 25.6
        {8, 200, 100, 50, 128, {128, 100, 50, 25}},
        {8, 255, 255, 255, 0, {0, 0, 0, 0}},
        {8, 1, 254, 255, 1, {1, 0, 1, 1}},
        // 16-bit samples reduce first: 65535 -> 255, 32768 -> 128, 129 -> 1, 128 -> 0
        {16, 32768, 129, 128, 65535, {255, 128, 1, 0}},
        {16, 65535, 65535, 65535, 32768, {128, 128, 128, 128}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const PremultiplyRow& row = rows[i];
        const ArgbImage out =
            premultiply_layer(one_pixel(row.bits, row.r, row.g, row.b, row.a), PixelDepth::k8);
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(out.samples8[static_cast<size_t>(c)], row.argb[c])
                << "row " << i << " channel " << c;
        }
    }
}

TEST(LayerPixels, PremultipliesSixteenBitLayersInTheHostRange) {
    const PremultiplyRow rows[] = {
        {8, 255, 0, 128, 255, {32768, 32768, 0, 16448}}, // 128 x 32768 / 255 = 16448.25
        // 16448 x 16448 / 32768 = 8256.008
        {8, 128, 128, 128, 128, {16448, 8256, 8256, 8256}},
        // 2 -> 1.00002 -> 1 and 32767 -> 16383.75 -> 16384; then 1 x 16384 / 32768 = 0.5
        // rounds half up to 1.
        {16, 2, 65535, 0, 32767, {16384, 1, 16384, 0}},
        {16, 65535, 65535, 65535, 65535, {32768, 32768, 32768, 32768}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const PremultiplyRow& row = rows[i];
        const ArgbImage out =
            premultiply_layer(one_pixel(row.bits, row.r, row.g, row.b, row.a), PixelDepth::k16);
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(out.samples16[static_cast<size_t>(c)], row.argb[c])
                << "row " << i << " channel " << c;
        }
    }
}

TEST(LayerPixels, PremultipliesFloatLayersInSinglePrecision) {
    const ArgbImage out = premultiply_layer(one_pixel(8, 51, 128, 255, 128), PixelDepth::k32);
    const float a = 128.0f / 255.0f;
    EXPECT_EQ(out.samples32[0], a);
    EXPECT_EQ(out.samples32[1], 51.0f / 255.0f * a);
    EXPECT_EQ(out.samples32[2], 128.0f / 255.0f * a);
    EXPECT_EQ(out.samples32[3], a);

    const ArgbImage deep = premultiply_layer(one_pixel(16, 65535, 0, 1000, 65535), PixelDepth::k32);
    EXPECT_EQ(deep.samples32[0], 1.0f);
    EXPECT_EQ(deep.samples32[1], 1.0f);
    EXPECT_EQ(deep.samples32[2], 0.0f);
    EXPECT_EQ(deep.samples32[3], 1000.0f / 65535.0f);
}

// A 3 x 3 layer at downsample 2: one full block, two half blocks and a corner.
TEST(LayerPixels, DownsampleAveragesPartialBlocksAndRoundsHalvesUp) {
    ArgbImage in = make_argb_image(3, 3, PixelDepth::k8);
    // Alpha of each pixel, row by row; the colour channels carry other values.
    const uint8_t alpha[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (size_t p = 0; p < 9; ++p) {
        in.samples8[p * 4] = alpha[p];
        in.samples8[p * 4 + 1] = static_cast<uint8_t>(p == 0 ? 1 : 0);
    }
    const ArgbImage out = downsample_layer(in, 2);
    ASSERT_EQ(out.width, 2);
    ASSERT_EQ(out.height, 2);
    // (1 + 2 + 4 + 5 + 2) / 4 = 3; (3 + 6 + 1) / 2 = 5; (7 + 8 + 1) / 2 = 8; 9
    EXPECT_EQ(out.samples8[0], 3);
    EXPECT_EQ(out.samples8[4], 5);
    EXPECT_EQ(out.samples8[8], 8);
    EXPECT_EQ(out.samples8[12], 9);
    // Red: 1 in the first block only: (1 + 2) / 4 = 0.
    EXPECT_EQ(out.samples8[1], 0);
}

TEST(LayerPixels, DownsampleRoundingTable) {
    struct Row {
        int32_t width;
        std::vector<uint16_t> alphas; // one row of pixels
        int32_t factor;
        std::vector<uint16_t> expected;
    };
    const Row rows[] = {
        {2, {0, 1}, 2, {1}},                   // 0.5 rounds up
        {4, {0, 0, 0, 1}, 4, {0}},             // 0.25 rounds down
        {4, {0, 0, 1, 1}, 4, {1}},             // 0.5
        {3, {1, 2, 2}, 3, {2}},                // 1.67
        {5, {9, 9, 9, 1, 2}, 3, {9, 2}},       // the last block has two pixels: 1.5 -> 2
        {3, {32768, 32767, 0}, 2, {32768, 0}}, // 32767.5 rounds up
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        ArgbImage in = make_argb_image(row.width, 1, PixelDepth::k16);
        for (size_t p = 0; p < row.alphas.size(); ++p) {
            in.samples16[p * 4] = row.alphas[p];
        }
        const ArgbImage out = downsample_layer(in, row.factor);
        ASSERT_EQ(out.width, static_cast<int32_t>(row.expected.size())) << "row " << i;
        for (size_t p = 0; p < row.expected.size(); ++p) {
            EXPECT_EQ(out.samples16[p * 4], row.expected[p]) << "row " << i << " pixel " << p;
        }
    }
}

TEST(LayerPixels, DownsampleOfFloatsAveragesInDouble) {
    ArgbImage in = make_argb_image(3, 2, PixelDepth::k32);
    const float values[6] = {0.1f, 0.2f, 0.7f, 0.3f, 0.4f, 0.9f};
    for (size_t p = 0; p < 6; ++p) {
        in.samples32[p * 4 + 2] = values[p];
    }
    const ArgbImage out = downsample_layer(in, 2);
    ASSERT_EQ(out.width, 2);
    ASSERT_EQ(out.height, 1);
    const double first = (double{0.1f} + double{0.2f} + double{0.3f} + double{0.4f}) / 4.0;
    const double second = (double{0.7f} + double{0.9f}) / 2.0;
    EXPECT_EQ(out.samples32[2], static_cast<float>(first));
    EXPECT_EQ(out.samples32[6], static_cast<float>(second));
}

TEST(LayerPixels, DownsampleSizesAreCeilings) {
    for (const int32_t factor : {1, 2, 3, 7, 8}) {
        const ArgbImage out = downsample_layer(make_argb_image(17, 9, PixelDepth::k8), factor);
        EXPECT_EQ(out.width, (17 + factor - 1) / factor) << "factor " << factor;
        EXPECT_EQ(out.height, (9 + factor - 1) / factor) << "factor " << factor;
    }
    EXPECT_THROW(downsample_layer(make_argb_image(2, 2, PixelDepth::k8), 9), std::invalid_argument);
    EXPECT_THROW(downsample_layer(make_argb_image(2, 2, PixelDepth::k8), 0), std::invalid_argument);
}

} // namespace
} // namespace pointillo
