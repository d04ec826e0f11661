#pragma once

#include "common/pixel_view.h"

#include <cstdint>
#include <vector>

namespace pointillo {

// Premultiplied alpha, red, green, blue, as the host exchanges images with the
// effect: 8 bits (0..255), 16 bits (0..32768, the host's white) or floats
// (0..1). Rows are packed, four samples a pixel; only the vector that matches
// `depth` holds samples.
struct ArgbImage {
    int32_t width = 0;
    int32_t height = 0;
    PixelDepth depth = PixelDepth::k8;
    std::vector<uint8_t> samples8;
    std::vector<uint16_t> samples16;
    std::vector<float> samples32;

    friend bool operator==(const ArgbImage&, const ArgbImage&) = default;
};

// Straight (not premultiplied) red, green, blue, alpha as an image file holds
// them, 8 or 16 bits a sample; 8-bit samples are stored widened.
struct StraightImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits = 8; // 8 or 16
    std::vector<uint16_t> samples;
};

// A zeroed (transparent) image. Sizes are checked against the 64-megapixel
// limit; std::invalid_argument otherwise.
ArgbImage make_argb_image(int32_t width, int32_t height, PixelDepth depth);
StraightImage make_straight_image(int32_t width, int32_t height, int32_t bits);

ConstPixelView view_of(const ArgbImage& image);
PixelView view_of(ArgbImage& image);

} // namespace pointillo
