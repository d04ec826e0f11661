#include "plugin_pixels.h"

#include "common/pixel_rules.h"

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
        out[1] = premultiply_8(in[kRed], a);
        out[2] = premultiply_8(in[kGreen], a);
        out[3] = premultiply_8(in[kBlue], a);
    }
}

void to_frei0r_order(uint32_t* frame, std::size_t pixels) {
    auto* px = reinterpret_cast<uint8_t*>(frame);
    for (std::size_t p = 0; p < pixels; ++p, px += 4) {
        const uint32_t a = px[0];
        const uint8_t r = unpremultiply_8(px[1], a);
        const uint8_t g = unpremultiply_8(px[2], a);
        const uint8_t b = unpremultiply_8(px[3], a);
        px[kRed] = r;
        px[kGreen] = g;
        px[kBlue] = b;
        px[kAlpha] = static_cast<uint8_t>(a);
    }
}

} // namespace pointillo::frei0r
