#include "cli/run/motion_blur.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

namespace pointillo {
namespace {

TEST(MotionBlur, SampleTimesSpreadOverTheShutterInWholeUnits) {
    struct Row {
        int32_t frame;
        MotionBlur blur;
        std::vector<int32_t> times;
    };
    const Row rows[] = {
        // 180 degrees: half a frame, centred; 187.5 rounds away from the frame.
        {3, {4, 180.0}, {2812, 2937, 3063, 3188}},
        {3, {1, 180.0}, {3000}},
        {3, {2, 360.0}, {2750, 3250}},
        {3, {3, 180.0}, {2833, 3000, 3167}},
        // Frame 0 samples before its time; the host times may be negative.
        {0, {2, 180.0}, {-125, 125}},
        {10, {4, 720.0}, {9250, 9750, 10250, 10750}},
        {10, {3, 1.0}, {9999, 10000, 10001}},
        {10, {3, 0.1}, {10000, 10000, 10000}},
        // The last frame a scene may have, at the widest shutter.
        {2'147'482, {2, 720.0}, {2'147'481'500, 2'147'482'500}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(motion_blur_times(row.frame, row.blur), row.times)
            << "frame " << row.frame << ", " << row.blur.samples << " samples at "
            << row.blur.shutter_angle;
    }
}

ArgbImage filled(PixelDepth depth, std::initializer_list<double> values) {
    ArgbImage image = make_argb_image(static_cast<int32_t>(values.size()), 1, depth);
    size_t i = 0;
    for (const double v : values) {
        for (size_t c = 0; c < 4; ++c, ++i) {
            switch (depth) {
            case PixelDepth::k8:
                image.samples8[i] = static_cast<uint8_t>(v);
                break;
            case PixelDepth::k16:
                image.samples16[i] = static_cast<uint16_t>(v);
                break;
            case PixelDepth::k32:
                image.samples32[i] = static_cast<float>(v);
                break;
            }
        }
    }
    return image;
}

std::vector<uint32_t> float_bits(const std::vector<float>& samples) {
    std::vector<uint32_t> bits;
    for (const float v : samples) {
        bits.push_back(std::bit_cast<uint32_t>(v));
    }
    return bits;
}

bool same_bits(const ArgbImage& a, const ArgbImage& b) {
    return a.width == b.width && a.height == b.height && a.depth == b.depth &&
           a.samples8 == b.samples8 && a.samples16 == b.samples16 &&
           float_bits(a.samples32) == float_bits(b.samples32);
}

TEST(MotionBlur, EqualSubFramesAverageToThemselvesBitForBit) {
    const double tiny = static_cast<double>(std::numeric_limits<float>::denorm_min());
    const double third = static_cast<double>(1.0f / 3.0f);
    const double nearly_one = static_cast<double>(std::nextafter(1.0f, 0.0f));
    const ArgbImage images[] = {
        filled(PixelDepth::k8, {0, 1, 127, 128, 254, 255}),
        filled(PixelDepth::k16, {0, 1, 16383, 16384, 32767, 32768}),
        filled(PixelDepth::k32, {0.0, tiny, third, nearly_one, 1.0, 1e30, -0.5}),
    };
    for (const ArgbImage& image : images) {
        for (const int32_t n : {1, 2, 3, 7, 16, 255, 256}) {
            ImageSum sum;
            for (int32_t i = 0; i < n; ++i) {
                add_image(sum, image);
            }
            EXPECT_TRUE(same_bits(average_image(sum), image))
                << "depth " << static_cast<int>(image.depth) << ", " << n << " samples";
        }
    }
}

TEST(MotionBlur, AveragesRoundToNearestWithHalvesUp) {
    struct Row {
        PixelDepth depth;
        std::vector<double> samples; // one value, image after image
        double expected;
    };
    const Row rows[] = {
        {PixelDepth::k8, {0, 1}, 1},
        {PixelDepth::k8, {0, 0, 1}, 0},
        {PixelDepth::k8, {0, 1, 1}, 1},
        {PixelDepth::k8, {255, 254}, 255},
        {PixelDepth::k16, {32768, 0}, 16384},
        {PixelDepth::k16, {1, 2, 2, 2}, 2},
        {PixelDepth::k32,
         {0.1, 0.2, 0.3},
         static_cast<double>(static_cast<float>(
             (static_cast<double>(0.1f) + static_cast<double>(0.2f) + static_cast<double>(0.3f)) /
             3.0))},
    };
    for (const Row& row : rows) {
        ImageSum sum;
        for (const double v : row.samples) {
            add_image(sum, filled(row.depth, {v}));
        }
        EXPECT_TRUE(same_bits(average_image(sum), filled(row.depth, {row.expected})))
            << "depth " << static_cast<int>(row.depth) << ", first sample " << row.samples[0];
    }
}

TEST(MotionBlur, SubFramesOfAnotherSizeAreRefused) {
    ImageSum sum;
    add_image(sum, make_argb_image(4, 2, PixelDepth::k8));
    EXPECT_THROW(add_image(sum, make_argb_image(2, 4, PixelDepth::k8)), std::invalid_argument);
    EXPECT_THROW(add_image(sum, make_argb_image(4, 2, PixelDepth::k16)), std::invalid_argument);
    EXPECT_THROW(average_image(ImageSum{}), std::invalid_argument);
}

TEST(MotionBlur, TheRendererAveragesTheSubFramesInTimeOrder) {
    std::vector<int32_t> asked;
    const TimeRenderer render_at = [&asked](const PreparedScene&, int32_t time,
                                            const std::atomic<bool>&) {
        asked.push_back(time);
        return filled(PixelDepth::k16, {static_cast<double>(time - 6500)});
    };
    const FrameRenderer blurred = motion_blur_renderer(render_at, MotionBlur{4, 180.0});
    const std::atomic<bool> cancel{false};
    FrameImage frame;
    blurred(PreparedScene{}, 7, cancel, frame);
    EXPECT_EQ(asked, (std::vector<int32_t>{6812, 6937, 7063, 7188}));
    // 312 + 437 + 563 + 688 = 2000, over 4.
    const ArgbImage expected = filled(PixelDepth::k16, {500});
    const ConstPixelView want = view_of(expected);
    ASSERT_EQ(frame.view.width, want.width);
    ASSERT_EQ(frame.view.height, want.height);
    ASSERT_EQ(frame.view.depth, want.depth);
    EXPECT_EQ(std::memcmp(frame.view.data, want.data, sizeof(uint16_t) * 4), 0);
}

} // namespace
} // namespace pointillo
