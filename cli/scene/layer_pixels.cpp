#include "cli/scene/layer_pixels.h"

#include "common/pixel_rules.h"

#include <algorithm>
#include <stdexcept>
#include <type_traits>

namespace pointillo {

namespace {

// File order is r, g, b, a; host order is a, r, g, b.
constexpr int kFileToHost[4] = {1, 2, 3, 0};

uint32_t to_8_bits(uint32_t sample, int32_t bits) {
    return bits == 16 ? (sample * 255 + 32767) / 65535 : sample;
}

uint32_t to_16_bit_range(uint32_t sample, int32_t bits) {
    return bits == 16 ? (sample * 32768 + 32767) / 65535 : (sample * 32768 + 127) / 255;
}

float to_float_range(uint32_t sample, int32_t bits) {
    return static_cast<float>(sample) / (bits == 16 ? 65535.0f : 255.0f);
}

template <typename Sample>
void average_blocks(const std::vector<Sample>& in, int32_t in_width, int32_t in_height,
                    int32_t factor, std::vector<Sample>& out, int32_t out_width,
                    int32_t out_height) {
    for (int32_t by = 0; by < out_height; ++by) {
        const int32_t y0 = by * factor;
        const int32_t y1 = std::min(y0 + factor, in_height);
        for (int32_t bx = 0; bx < out_width; ++bx) {
            const int32_t x0 = bx * factor;
            const int32_t x1 = std::min(x0 + factor, in_width);
            const uint32_t count = static_cast<uint32_t>((y1 - y0) * (x1 - x0));
            using Sum = std::conditional_t<std::is_floating_point_v<Sample>, double, uint32_t>;
            Sum sums[4] = {};
            for (int32_t y = y0; y < y1; ++y) {
                const size_t row = static_cast<size_t>(y) * static_cast<size_t>(in_width);
                for (int32_t x = x0; x < x1; ++x) {
                    const Sample* pixel = &in[(row + static_cast<size_t>(x)) * 4];
                    for (int c = 0; c < 4; ++c) {
                        sums[c] += static_cast<Sum>(pixel[c]);
                    }
                }
            }
            Sample* target = &out[(static_cast<size_t>(by) * static_cast<size_t>(out_width) +
                                   static_cast<size_t>(bx)) *
                                  4];
            for (int c = 0; c < 4; ++c) {
                if constexpr (std::is_floating_point_v<Sample>) {
                    target[c] = static_cast<float>(sums[c] / static_cast<double>(count));
                } else {
                    target[c] = static_cast<Sample>((sums[c] + count / 2) / count);
                }
            }
        }
    }
}

} // namespace

ArgbImage premultiply_layer(const StraightImage& image, PixelDepth depth) {
    if (image.bits != 8 && image.bits != 16) {
        throw std::invalid_argument("layer samples must have 8 or 16 bits");
    }
    ArgbImage out = make_argb_image(image.width, image.height, depth);
    const size_t pixels = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    for (size_t p = 0; p < pixels; ++p) {
        const uint16_t* in = &image.samples[p * 4];
        switch (depth) {
        case PixelDepth::k8: {
            uint8_t* px = &out.samples8[p * 4];
            const uint32_t a = to_8_bits(in[3], image.bits);
            px[0] = static_cast<uint8_t>(a);
            for (int c = 0; c < 3; ++c) {
                const uint32_t v = to_8_bits(in[c], image.bits);
                px[kFileToHost[c]] = premultiply_8(v, a);
            }
            break;
        }
        case PixelDepth::k16: {
            uint16_t* px = &out.samples16[p * 4];
            const uint32_t a = to_16_bit_range(in[3], image.bits);
            px[0] = static_cast<uint16_t>(a);
            for (int c = 0; c < 3; ++c) {
                const uint32_t v = to_16_bit_range(in[c], image.bits);
                px[kFileToHost[c]] = static_cast<uint16_t>((v * a + 16384) / 32768);
            }
            break;
        }
        case PixelDepth::k32: {
            float* px = &out.samples32[p * 4];
            const float a = to_float_range(in[3], image.bits);
            px[0] = a;
            for (int c = 0; c < 3; ++c) {
                px[kFileToHost[c]] = to_float_range(in[c], image.bits) * a;
            }
            break;
        }
        }
    }
    return out;
}

ArgbImage downsample_layer(const ArgbImage& image, int32_t factor) {
    if (factor < 1 || factor > 8) {
        throw std::invalid_argument("downsample factor must be 1 to 8");
    }
    if (factor == 1) {
        return image;
    }
    const int32_t width = (image.width + factor - 1) / factor;
    const int32_t height = (image.height + factor - 1) / factor;
    ArgbImage out = make_argb_image(width, height, image.depth);
    switch (image.depth) {
    case PixelDepth::k8:
        average_blocks(image.samples8, image.width, image.height, factor, out.samples8, width,
                       height);
        break;
    case PixelDepth::k16:
        average_blocks(image.samples16, image.width, image.height, factor, out.samples16, width,
                       height);
        break;
    case PixelDepth::k32:
        average_blocks(image.samples32, image.width, image.height, factor, out.samples32, width,
                       height);
        break;
    }
    return out;
}

} // namespace pointillo
