#pragma once

#include "cli/base/image.h"

namespace pointillo {

// A straight 8- or 16-bit image as the host would hand it to the effect:
// premultiplied alpha, red, green, blue at `depth`.
//  - Depth 8: 16-bit samples are first reduced to 8 bits, (v x 255 + 32767) /
//    65535; then each colour is (c x a + 127) / 255.
//  - Depth 16: samples go to 0..32768 rounding to nearest (no ties can occur
//    for 255 or 65535 denominators), then each colour is (c x a + 16384) /
//    32768, rounding halves up.
//  - Depth 32: samples become v / 255 or v / 65535 as floats, then c x a in
//    float.
ArgbImage premultiply_layer(const StraightImage& image, PixelDepth depth);

// The layer at downsample `factor` (1 to 8): ceil(w / factor) x ceil(h /
// factor) pixels, each the average of its block of premultiplied pixels
// (blocks at the right and bottom edges average the pixels that exist). At 8
// and 16 bits the average is (sum + count / 2) / count in integers; at 32 bits
// the sum is taken in double in row order and divided in double, then rounded
// to float. Factor 1 returns the image unchanged.
ArgbImage downsample_layer(const ArgbImage& image, int32_t factor);

} // namespace pointillo
