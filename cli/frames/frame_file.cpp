#include "cli/frames/frame_file.h"

#include "cli/frames/exr_io.h"
#include "cli/frames/png_io.h"
#include "cli/frames/straight_8.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

namespace pointillo {

namespace {

// Reads exactly `size` bytes at `offset`, or fails.
bool read_at(std::ifstream& in, uint64_t offset, void* to, size_t size) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(static_cast<char*>(to), static_cast<std::streamsize>(size));
    return in.gcount() == static_cast<std::streamsize>(size);
}

uint32_t big_endian_32(const uint8_t* b) {
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

bool png_is_whole(std::ifstream& in, uint64_t size) {
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uint8_t signature[8];
    if (!read_at(in, 0, signature, 8) || std::memcmp(signature, kSignature, 8) != 0) {
        return false;
    }
    uint64_t at = 8;
    bool first = true;
    for (;;) {
        uint8_t head[8];
        if (at + 12 > size || !read_at(in, at, head, 8)) {
            return false;
        }
        const uint64_t length = big_endian_32(head);
        const uint64_t end = at + 12 + length; // length, type, data, CRC
        if (length > 0x7FFFFFFFu || end > size) {
            return false;
        }
        if (first && std::memcmp(head + 4, "IHDR", 4) != 0) {
            return false;
        }
        first = false;
        if (std::memcmp(head + 4, "IEND", 4) == 0) {
            return end == size;
        }
        at = end;
    }
}

} // namespace

bool frame_file_is_whole(const std::filesystem::path& path, PixelDepth depth) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size == 0 || !std::filesystem::is_regular_file(path, ec)) {
        return false;
    }
    if (depth == PixelDepth::k32) {
        return exr_file_is_whole(path, size);
    }
    std::ifstream in(path, std::ios::binary);
    return in && png_is_whole(in, size);
}

std::string frame_file_name(int32_t frame, PixelDepth depth) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%05d.%s", static_cast<int>(frame),
                  depth == PixelDepth::k32 ? "exr" : "png");
    return name;
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
    if (background) {
        for (int32_t x = 0; x < width; ++x, from += 4, to += 4) {
            const uint32_t a = std::to_integer<uint32_t>(from[0]);
            for (int c = 0; c < 3; ++c) {
                to[c] = over_background_8(std::to_integer<uint32_t>(from[c + 1]), a, bg[c]);
            }
            to[3] = 255;
        }
        return;
    }
    const Straight8& straight = straight_8();
    for (int32_t x = 0; x < width; ++x, from += 4, to += 4) {
        const uint32_t a = std::to_integer<uint32_t>(from[0]);
        for (int c = 0; c < 3; ++c) {
            to[c] = straight(std::to_integer<uint32_t>(from[c + 1]), a);
        }
        to[3] = static_cast<uint8_t>(a);
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
