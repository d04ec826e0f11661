#include "hostsim/pixels.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace hostsim {
namespace {

// The application refuses layers larger than this on a side.
constexpr int32_t kLargestSide = 30000;

void check_size(int32_t width, int32_t height) {
    if (width < 0 || height < 0 || width > kLargestSide || height > kLargestSide) {
        throw std::invalid_argument("image size " + std::to_string(width) + " x " +
                                    std::to_string(height) + " is out of range");
    }
}

// v x scale + 0.5, clamped to [0, scale] and truncated; NaN is 0.
uint32_t quantize(float v, float scale) {
    const float scaled = v * scale + 0.5f;
    if (!(scaled > 0.0f)) {
        return 0;
    }
    return scaled < scale ? static_cast<uint32_t>(scaled) : static_cast<uint32_t>(scale);
}

} // namespace

PF_PixelFormat pixel_format_of(int32_t depth) {
    switch (depth) {
    case 8:
        return PF_PixelFormat_ARGB32;
    case 16:
        return PF_PixelFormat_ARGB64;
    case 32:
        return PF_PixelFormat_ARGB128;
    default:
        throw std::invalid_argument("depth " + std::to_string(depth) + " is not 8, 16 or 32");
    }
}

int32_t pixel_bytes(PF_PixelFormat format) {
    switch (format) {
    case PF_PixelFormat_ARGB64:
        return 8;
    case PF_PixelFormat_ARGB128:
        return 16;
    default:
        return 4;
    }
}

LayerPixels make_layer_pixels(int32_t depth, int32_t width, int32_t height,
                              const std::function<Argb(int32_t x, int32_t y)>& argb) {
    check_size(width, height);
    const int32_t bytes = pixel_bytes(pixel_format_of(depth));
    LayerPixels pixels;
    pixels.depth = depth;
    pixels.width = width;
    pixels.height = height;
    pixels.bytes.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                        static_cast<std::size_t>(bytes));
    std::byte* out = pixels.bytes.data();
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x, out += bytes) {
            const Argb v = argb(x, y);
            if (depth == 8) {
                for (std::size_t c = 0; c < 4; ++c) {
                    out[c] = static_cast<std::byte>(quantize(v[c], 255.0f));
                }
            } else if (depth == 16) {
                for (std::size_t c = 0; c < 4; ++c) {
                    const auto sample = static_cast<uint16_t>(quantize(v[c], 32768.0f));
                    std::memcpy(out + 2 * c, &sample, 2);
                }
            } else {
                std::memcpy(out, v.data(), 16);
            }
        }
    }
    return pixels;
}

Argb pixel_at(const LayerPixels& pixels, int32_t x, int32_t y) {
    const int32_t bytes = pixel_bytes(pixel_format_of(pixels.depth));
    const std::byte* in = pixels.bytes.data() +
                          (static_cast<std::size_t>(y) * static_cast<std::size_t>(pixels.width) +
                           static_cast<std::size_t>(x)) *
                              static_cast<std::size_t>(bytes);
    Argb v{};
    for (std::size_t c = 0; c < 4; ++c) {
        if (pixels.depth == 8) {
            v[c] = static_cast<float>(std::to_integer<uint8_t>(in[c])) / 255.0f;
        } else if (pixels.depth == 16) {
            uint16_t sample = 0;
            std::memcpy(&sample, in + 2 * c, 2);
            v[c] = static_cast<float>(sample) / 32768.0f;
        } else {
            std::memcpy(&v[c], in + 4 * c, 4);
        }
    }
    return v;
}

int32_t downsampled(int32_t size, PF_RationalScale scale) {
    if (scale.den == 0 || scale.num <= 0 || size <= 0) {
        return 0;
    }
    const int64_t scaled = static_cast<int64_t>(size) * scale.num;
    return static_cast<int32_t>((scaled + scale.den - 1) / scale.den);
}

} // namespace hostsim
