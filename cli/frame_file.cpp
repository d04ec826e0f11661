#include "cli/frame_file.h"

#include "cli/exr_io.h"
#include "cli/png_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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
    std::vector<uint8_t> out;
    encode_frame_file(view_of(frame), background, out);
    return out;
}

namespace {

// One row of file samples from one row of the effect's: the mappings of
// frame_to_png_pixels, written as the PNG holds them (16 bits big-endian).
void png_row_8(const std::byte* from, int32_t width, const std::optional<Rgb8>& background,
               uint8_t* to) {
    const uint32_t bg[3] = {background ? background->red : 0u, background ? background->green : 0u,
                            background ? background->blue : 0u};
    for (int32_t x = 0; x < width; ++x, from += 4, to += 4) {
        const uint32_t a = std::to_integer<uint32_t>(from[0]);
        for (int c = 0; c < 3; ++c) {
            const uint32_t v = std::to_integer<uint32_t>(from[c + 1]);
            to[c] = background ? over_background_8(v, a, bg[c]) : unpremultiply_8(v, a);
        }
        to[3] = background ? uint8_t{255} : static_cast<uint8_t>(a);
    }
}

void png_row_16(const std::byte* from, int32_t width, const std::optional<Rgb8>& background,
                uint8_t* to) {
    const uint32_t bg[3] = {background ? background->red : 0u, background ? background->green : 0u,
                            background ? background->blue : 0u};
    const auto put = [](uint8_t* at, uint16_t v) {
        at[0] = static_cast<uint8_t>(v >> 8);
        at[1] = static_cast<uint8_t>(v & 0xFF);
    };
    for (int32_t x = 0; x < width; ++x, from += 8, to += 8) {
        uint16_t px[4];
        std::memcpy(px, from, sizeof px);
        const uint32_t a = widen_16(px[0]);
        for (int c = 0; c < 3; ++c) {
            const uint32_t v = widen_16(px[c + 1]);
            put(to + 2 * c,
                background ? over_background_16(v, a, bg[c] * 257) : unpremultiply_16(v, a));
        }
        put(to + 6, background ? uint16_t{65535} : static_cast<uint16_t>(a));
    }
}

ArgbImage packed_copy(const ConstPixelView& frame) {
    ArgbImage image = make_argb_image(frame.width, frame.height, frame.depth);
    const auto row =
        static_cast<size_t>(frame.width) * static_cast<size_t>(bytes_per_pixel(frame.depth));
    auto* to = reinterpret_cast<std::byte*>(image.samples32.data());
    for (int32_t y = 0; y < frame.height; ++y) {
        std::memcpy(to + static_cast<size_t>(y) * row, frame.data + y * frame.rowbytes, row);
    }
    return image;
}

} // namespace

void encode_frame_file(const ConstPixelView& frame, const std::optional<Rgb8>& background,
                       std::vector<uint8_t>& out) {
    if (frame.depth == PixelDepth::k32) {
        if (!background) {
            encode_exr(frame, out);
            return;
        }
        encode_exr(view_of(frame_to_exr_pixels(packed_copy(frame), background)), out);
        return;
    }
    const bool deep = frame.depth == PixelDepth::k16;
    encode_png_rows(
        frame.width, frame.height, deep ? 16 : 8,
        [&](int32_t y, uint8_t* row) {
            const std::byte* from = frame.data + y * frame.rowbytes;
            if (deep) {
                png_row_16(from, frame.width, background, row);
            } else {
                png_row_8(from, frame.width, background, row);
            }
        },
        out);
}

} // namespace pointillo
