#pragma once

// Images the host hands to the effect: layer pixels and output buffers.

#include "host/ae_sdk.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace hostsim {

// Bytes added to every row of a world the host creates, so that code that
// steps rows by width x pixel size reads and writes the wrong pixels.
inline constexpr int32_t kRowPadding = 32;

// What the host fills a fresh output world with (padding included), so that
// pixels the effect never wrote stand out.
inline constexpr std::byte kUnwrittenByte{0xCD};

// 8, 16 or 32 bits a channel, as a render's `bitdepth` says.
PF_PixelFormat pixel_format_of(int32_t depth);
// Bytes a pixel of that format takes (4 for any format the host does not know).
int32_t pixel_bytes(PF_PixelFormat format);

// An image at one depth: premultiplied alpha, red, green, blue per pixel,
// rows packed (no padding). 8 bits: 0..255; 16 bits: 0..32768; 32 bits: floats.
struct LayerPixels {
    int32_t depth = 8;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<std::byte> bytes; // width x height x pixel size
};

// Premultiplied alpha, red, green, blue in 0..1 (floats may leave the range).
using Argb = std::array<float, 4>;

// Builds pixels from a function of the pixel position: 8 bits take
// v x 255 + 0.5 and 16 bits v x 32768 + 0.5 (clamped, truncated); 32 bits store
// the floats as given. std::invalid_argument for a bad depth or size.
LayerPixels make_layer_pixels(int32_t depth, int32_t width, int32_t height,
                              const std::function<Argb(int32_t x, int32_t y)>& argb);

// One pixel of such an image, as floats (the same scale as make_layer_pixels).
Argb pixel_at(const LayerPixels& pixels, int32_t x, int32_t y);

// A world the host made. Rows are kRowPadding bytes longer than the pixels.
struct HostWorld {
    PF_EffectWorld world{};
    PF_PixelFormat format = PF_PixelFormat_ARGB32;
    std::unique_ptr<std::byte[]> storage; // rowbytes x height; null without pixels, or
                                          // when the pixels live elsewhere
};

// A world of `width` x `height` in `format`, every byte `fill`; with
// `with_pixels` false the world has sizes but `data` is null.
std::unique_ptr<HostWorld> make_world(int32_t width, int32_t height, PF_PixelFormat format,
                                      bool with_pixels, std::byte fill = kUnwrittenByte);

// A world holding a copy of `pixels`, its padding filled with kUnwrittenByte.
std::unique_ptr<HostWorld> world_of(const LayerPixels& pixels);
// The reverse: a world's pixels, rows packed (empty for a world without pixels).
LayerPixels pixels_of(const HostWorld& world);

// A world whose pixels live in caller-owned `bytes` (resized to rowbytes x
// height and filled with `fill`), which must outlive it: a buffer reused from
// frame to frame faults in no fresh pages.
std::unique_ptr<HostWorld> make_world_in(std::vector<std::byte>& bytes, int32_t width,
                                         int32_t height, PF_PixelFormat format,
                                         std::byte fill = kUnwrittenByte);

} // namespace hostsim
