#include "cli/frame_file.h"

#include "cli/exr_io.h"
#include "cli/png_io.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace pointillo {

std::string frame_file_name(int32_t frame, PixelDepth depth) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%05d.%s", static_cast<int>(frame),
                  depth == PixelDepth::k32 ? "exr" : "png");
    return name;
}

uint8_t unpremultiply_8(uint32_t color, uint32_t alpha) {
    if (alpha == 0) {
        return 0;
    }
    return static_cast<uint8_t>(std::min<uint32_t>(255, (color * 510 + alpha) / (2 * alpha)));
}

uint16_t widen_16(uint32_t value) {
    return static_cast<uint16_t>(std::min<uint32_t>(65535, (value * 65535 + 16384) / 32768));
}

uint16_t unpremultiply_16(uint32_t color, uint32_t alpha) {
    if (alpha == 0) {
        return 0;
    }
    const uint64_t straight = (uint64_t{color} * 131070 + alpha) / (uint64_t{2} * alpha);
    return static_cast<uint16_t>(std::min<uint64_t>(65535, straight));
}

uint8_t over_background_8(uint32_t color, uint32_t alpha, uint32_t background) {
    const uint32_t under = (background * (255 - std::min<uint32_t>(alpha, 255)) + 127) / 255;
    return static_cast<uint8_t>(std::min<uint32_t>(255, color + under));
}

uint16_t over_background_16(uint32_t color, uint32_t alpha, uint32_t background) {
    const uint32_t under =
        (background * (65535 - std::min<uint32_t>(alpha, 65535)) + 32767) / 65535;
    return static_cast<uint16_t>(std::min<uint32_t>(65535, color + under));
}

StraightImage frame_to_png_pixels(const ArgbImage& frame, const std::optional<Rgb8>& background) {
    if (frame.depth == PixelDepth::k32) {
        throw std::invalid_argument("float frames are written as OpenEXR");
    }
    const bool deep = frame.depth == PixelDepth::k16;
    StraightImage out = make_straight_image(frame.width, frame.height, deep ? 16 : 8);
    const uint32_t bg[3] = {background ? background->red : 0u, background ? background->green : 0u,
                            background ? background->blue : 0u};
    const size_t pixels = static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
    for (size_t p = 0; p < pixels; ++p) {
        uint16_t* file = &out.samples[p * 4];
        if (deep) {
            const uint16_t* px = &frame.samples16[p * 4];
            const uint32_t a = widen_16(px[0]);
            for (int c = 0; c < 3; ++c) {
                const uint32_t v = widen_16(px[c + 1]);
                file[c] =
                    background ? over_background_16(v, a, bg[c] * 257) : unpremultiply_16(v, a);
            }
            file[3] = background ? uint16_t{65535} : static_cast<uint16_t>(a);
        } else {
            const uint8_t* px = &frame.samples8[p * 4];
            const uint32_t a = px[0];
            for (int c = 0; c < 3; ++c) {
                file[c] = background ? over_background_8(px[c + 1], a, bg[c])
                                     : unpremultiply_8(px[c + 1], a);
            }
            file[3] = background ? uint16_t{255} : static_cast<uint16_t>(a);
        }
    }
    return out;
}

ArgbImage frame_to_exr_pixels(const ArgbImage& frame, const std::optional<Rgb8>& background) {
    if (frame.depth != PixelDepth::k32) {
        throw std::invalid_argument("only float frames are written as OpenEXR");
    }
    if (!background) {
        return frame;
    }
    ArgbImage out = frame;
    const float bg[3] = {static_cast<float>(background->red) / 255.0f,
                         static_cast<float>(background->green) / 255.0f,
                         static_cast<float>(background->blue) / 255.0f};
    const size_t pixels = static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
    for (size_t p = 0; p < pixels; ++p) {
        float* px = &out.samples32[p * 4];
        const float uncovered = 1.0f - px[0];
        for (int c = 0; c < 3; ++c) {
            px[c + 1] = px[c + 1] + bg[c] * uncovered;
        }
        px[0] = 1.0f;
    }
    return out;
}

std::vector<uint8_t> encode_frame_file(const ArgbImage& frame,
                                       const std::optional<Rgb8>& background) {
    if (frame.depth == PixelDepth::k32) {
        return encode_exr(frame_to_exr_pixels(frame, background));
    }
    return encode_png(frame_to_png_pixels(frame, background));
}

} // namespace pointillo
