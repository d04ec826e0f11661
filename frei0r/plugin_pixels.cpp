#include "plugin_pixels.h"

#include <algorithm>

namespace pointillo::frei0r {
namespace {

// frei0r's byte order is red, green, blue, alpha; the core's is alpha, red,
// green, blue.
constexpr int kRed = 0;
constexpr int kGreen = 1;
constexpr int kBlue = 2;
constexpr int kAlpha = 3;

} // namespace

void premultiply_frame(const uint32_t* frame, std::size_t pixels, std::vector<std::byte>& layer) {
    layer.resize(pixels * 4);
    const auto* in = reinterpret_cast<const uint8_t*>(frame);
    auto* out = reinterpret_cast<uint8_t*>(layer.data());
    for (std::size_t p = 0; p < pixels; ++p, in += 4, out += 4) {
        const uint32_t a = in[kAlpha];
        out[0] = static_cast<uint8_t>(a);
        out[1] = static_cast<uint8_t>((in[kRed] * a + 127) / 255);
        out[2] = static_cast<uint8_t>((in[kGreen] * a + 127) / 255);
        out[3] = static_cast<uint8_t>((in[kBlue] * a + 127) / 255);
    }
}

uint8_t unpremultiply(uint32_t color, uint32_t alpha) {
    if (alpha == 0) {
        return 0;
    }
    return static_cast<uint8_t>(std::min<uint32_t>(255, (color * 510 + alpha) / (2 * alpha)));
}

void to_frei0r_order(uint32_t* frame, std::size_t pixels) {
    auto* px = reinterpret_cast<uint8_t*>(frame);
    for (std::size_t p = 0; p < pixels; ++p, px += 4) {
        const uint32_t a = px[0];
        const uint8_t r = unpremultiply(px[1], a);
        const uint8_t g = unpremultiply(px[2], a);
        const uint8_t b = unpremultiply(px[3], a);
        px[kRed] = r;
        px[kGreen] = g;
        px[kBlue] = b;
        px[kAlpha] = static_cast<uint8_t>(a);
    }
}

} // namespace pointillo::frei0r
