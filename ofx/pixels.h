#pragma once

// OpenFX images and the core's pixels. An OpenFX image runs bottom-up (its
// data addresses the bottom-left pixel of its bounds, rows `rowbytes` apart,
// which may be negative) with red, green, blue and alpha; the core's runs
// top-down with alpha first, premultiplied, 16 bits at 0..32768. Both meet at
// the top-left corner of the image's region of definition.

#include "common/pixel_view.h"
#include "ofx_api.h"

#include <cstddef>
#include <cstdint>

namespace pointillo::ofx {

enum class Alpha { kPremultiplied, kStraight, kOpaque };

struct OfxImageDesc {
    std::byte* data = nullptr;
    OfxRectI bounds{}; // addressable pixels
    OfxRectI rod{};    // region of definition, pixels
    std::ptrdiff_t rowbytes = 0;
    PixelDepth depth = PixelDepth::k8; // byte, short (0..65535) or float
    bool rgb = false;                  // three components, no alpha
    Alpha alpha = Alpha::kPremultiplied;
};

// Bytes of one OpenFX pixel.
std::ptrdiff_t ofx_pixel_bytes(const OfxImageDesc& image);

// Rows `first` to `last` (exclusive) of `layer`, the core's pixels of the
// image from the top-left of its region of definition: pixels the image does
// not hold are transparent. Same depths convert exactly: bytes and floats as
// they are (premultiplied where the image is straight: (c x a + 127) / 255
// for bytes, c x a in float), shorts to 0..32768 by (v x 32768 + 32767) /
// 65535; other depths through float.
void read_rows(const OfxImageDesc& image, const PixelView& layer, int32_t first, int32_t last);

// Rows `first` to `last` (exclusive) of the output's render window, in the
// output's own rows, from the core's `frame` placed at the top-left of the
// output's region of definition: shorts become 0..65535 by (v x 65535 +
// 16384) / 32768, capped; pixels beyond the frame are transparent.
void write_rows(const ConstPixelView& frame, const OfxImageDesc& output, const OfxRectI& window,
                int32_t first, int32_t last);

} // namespace pointillo::ofx
