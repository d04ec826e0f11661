#include "pixels.h"

#include <algorithm>
#include <cstring>

namespace pointillo::ofx {
namespace {

float clamp01(float v) {
    return !(v > 0.0f) ? 0.0f : (v < 1.0f ? v : 1.0f);
}

uint32_t short_to_core(uint32_t v) {
    return (v * 32768u + 32767u) / 65535u;
}

// One OpenFX pixel as normalised floats, premultiplied.
void to_float(const OfxImageDesc& image, const std::byte* px, float out[4]) {
    const int n = image.rgb ? 3 : 4;
    for (int c = 0; c < n; ++c) {
        switch (image.depth) {
        case PixelDepth::k8:
            out[c] = static_cast<float>(static_cast<uint8_t>(px[c])) / 255.0f;
            break;
        case PixelDepth::k16: {
            uint16_t v = 0;
            std::memcpy(&v, px + c * 2, 2);
            out[c] = static_cast<float>(v) / 65535.0f;
            break;
        }
        case PixelDepth::k32:
            std::memcpy(&out[c], px + c * 4, 4);
            break;
        }
    }
    if (image.rgb || image.alpha == Alpha::kOpaque) {
        out[3] = 1.0f;
    } else if (image.alpha == Alpha::kStraight) {
        for (int c = 0; c < 3; ++c) {
            out[c] *= out[3];
        }
    }
}

// One pixel at the layer's own depth, alpha first.
void read_pixel(const OfxImageDesc& image, const std::byte* px, PixelDepth depth, std::byte* to) {
    const bool opaque = image.rgb || image.alpha == Alpha::kOpaque;
    const bool straight = !opaque && image.alpha == Alpha::kStraight;
    if (image.depth == depth && depth == PixelDepth::k8) {
        const auto* in = reinterpret_cast<const uint8_t*>(px);
        auto* out = reinterpret_cast<uint8_t*>(to);
        const uint32_t a = opaque ? 255u : in[3];
        out[0] = static_cast<uint8_t>(a);
        for (int c = 0; c < 3; ++c) {
            out[c + 1] = straight ? static_cast<uint8_t>((in[c] * a + 127u) / 255u) : in[c];
        }
        return;
    }
    if (image.depth == depth && depth == PixelDepth::k16) {
        uint16_t in[4] = {0, 0, 0, 65535};
        std::memcpy(in, px, image.rgb ? 6 : 8);
        const uint32_t a = opaque ? 32768u : short_to_core(in[3]);
        uint16_t out[4] = {static_cast<uint16_t>(a), 0, 0, 0};
        for (int c = 0; c < 3; ++c) {
            const uint32_t v = short_to_core(in[c]);
            out[c + 1] = static_cast<uint16_t>(straight ? (v * a + 16384u) / 32768u : v);
        }
        std::memcpy(to, out, 8);
        return;
    }
    float f[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    to_float(image, px, f);
    switch (depth) {
    case PixelDepth::k8: {
        auto* out = reinterpret_cast<uint8_t*>(to);
        out[0] = static_cast<uint8_t>(clamp01(f[3]) * 255.0f + 0.5f);
        for (int c = 0; c < 3; ++c) {
            out[c + 1] = static_cast<uint8_t>(clamp01(f[c]) * 255.0f + 0.5f);
        }
        break;
    }
    case PixelDepth::k16: {
        uint16_t out[4];
        out[0] = static_cast<uint16_t>(clamp01(f[3]) * 32768.0f + 0.5f);
        for (int c = 0; c < 3; ++c) {
            out[c + 1] = static_cast<uint16_t>(clamp01(f[c]) * 32768.0f + 0.5f);
        }
        std::memcpy(to, out, 8);
        break;
    }
    case PixelDepth::k32: {
        const float out[4] = {f[3], f[0], f[1], f[2]};
        std::memcpy(to, out, 16);
        break;
    }
    }
}

void write_pixel(const std::byte* from, PixelDepth depth, const OfxImageDesc& output,
                 std::byte* px) {
    const int n = output.rgb ? 3 : 4;
    // Core order a, r, g, b to OpenFX order r, g, b, a.
    constexpr int kCoreIndex[4] = {1, 2, 3, 0};
    switch (depth) {
    case PixelDepth::k8: {
        const auto* in = reinterpret_cast<const uint8_t*>(from);
        for (int c = 0; c < n; ++c) {
            px[c] = static_cast<std::byte>(in[kCoreIndex[c]]);
        }
        break;
    }
    case PixelDepth::k16: {
        uint16_t in[4];
        std::memcpy(in, from, 8);
        for (int c = 0; c < n; ++c) {
            const uint32_t v = in[kCoreIndex[c]];
            const auto wide =
                static_cast<uint16_t>(std::min((v * 65535u + 16384u) / 32768u, 65535u));
            std::memcpy(px + c * 2, &wide, 2);
        }
        break;
    }
    case PixelDepth::k32: {
        float in[4];
        std::memcpy(in, from, 16);
        for (int c = 0; c < n; ++c) {
            std::memcpy(px + c * 4, &in[kCoreIndex[c]], 4);
        }
        break;
    }
    }
}

std::byte* pixel_at(const OfxImageDesc& image, int32_t x, int32_t y) {
    return image.data + static_cast<std::ptrdiff_t>(y - image.bounds.y1) * image.rowbytes +
           static_cast<std::ptrdiff_t>(x - image.bounds.x1) * ofx_pixel_bytes(image);
}

} // namespace

std::ptrdiff_t ofx_pixel_bytes(const OfxImageDesc& image) {
    const std::ptrdiff_t sample =
        image.depth == PixelDepth::k8 ? 1 : (image.depth == PixelDepth::k16 ? 2 : 4);
    return sample * (image.rgb ? 3 : 4);
}

void read_rows(const OfxImageDesc& image, const PixelView& layer, int32_t first, int32_t last) {
    const std::ptrdiff_t out_bytes = bytes_per_pixel(layer.depth);
    for (int32_t row = first; row < last; ++row) {
        std::byte* out = layer.data + static_cast<std::ptrdiff_t>(row) * layer.rowbytes;
        std::memset(out, 0, static_cast<std::size_t>(layer.width * out_bytes));
        const int32_t y = image.rod.y2 - 1 - row;
        if (image.data == nullptr || y < image.bounds.y1 || y >= image.bounds.y2) {
            continue;
        }
        const int32_t x0 = std::max(image.bounds.x1, image.rod.x1);
        const int32_t x1 = std::min(image.bounds.x2, image.rod.x1 + layer.width);
        for (int32_t x = x0; x < x1; ++x) {
            read_pixel(image, pixel_at(image, x, y), layer.depth,
                       out + static_cast<std::ptrdiff_t>(x - image.rod.x1) * out_bytes);
        }
    }
}

void write_rows(const ConstPixelView& frame, const OfxImageDesc& output, const OfxRectI& window,
                int32_t first, int32_t last) {
    const std::ptrdiff_t in_bytes = bytes_per_pixel(frame.depth);
    const std::ptrdiff_t out_bytes = ofx_pixel_bytes(output);
    for (int32_t y = first; y < last; ++y) {
        const int32_t row = output.rod.y2 - 1 - y;
        for (int32_t x = window.x1; x < window.x2; ++x) {
            std::byte* px = pixel_at(output, x, y);
            const int32_t column = x - output.rod.x1;
            if (row < 0 || row >= frame.height || column < 0 || column >= frame.width) {
                std::memset(px, 0, static_cast<std::size_t>(out_bytes));
                continue;
            }
            write_pixel(frame.data + static_cast<std::ptrdiff_t>(row) * frame.rowbytes +
                            static_cast<std::ptrdiff_t>(column) * in_bytes,
                        frame.depth, output, px);
        }
    }
}

} // namespace pointillo::ofx
