#pragma once

// Images as plain values: premultiplied pixels at 8, 16 or 32 bits a channel,
// rows packed. What the host makes its worlds of and what replay bundles keep
// in their files; nothing here needs a host.

#include "host/ae_sdk.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace hostsim {

// 8, 16 or 32 bits a channel, as a render's `bitdepth` says.
PF_PixelFormat pixel_format_of(int32_t depth);
// Bytes a pixel of that format takes (4 for any format the host does not know).
int32_t pixel_bytes(PF_PixelFormat format);

// An image at one depth: premultiplied alpha, red, green, blue per pixel,
// rows packed (no padding). 8 bits: 0..255; 16 bits: 0..32768; 32 bits: floats.
struct LayerPixels {
    int32_t depth = 8;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<std::byte> bytes; // width x height x pixel size
};

// Premultiplied alpha, red, green, blue in 0..1 (floats may leave the range).
using Argb = std::array<float, 4>;

// Builds pixels from a function of the pixel position: 8 bits take
// v x 255 + 0.5 and 16 bits v x 32768 + 0.5 (clamped, truncated); 32 bits store
// the floats as given. std::invalid_argument for a bad depth or size.
LayerPixels make_layer_pixels(int32_t depth, int32_t width, int32_t height,
                              const std::function<Argb(int32_t x, int32_t y)>& argb);

// One pixel of such an image, as floats (the same scale as make_layer_pixels).
Argb pixel_at(const LayerPixels& pixels, int32_t x, int32_t y);

// The size of a layer at a downsample: ceil(size x num / den), 0 for a
// denominator of 0.
int32_t downsampled(int32_t size, PF_RationalScale scale);

} // namespace hostsim
