#pragma once

// Images the host hands to the effect: layer pixels and output buffers.

#include "host/ae_sdk.h"
#include "hostsim/pixels.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace hostsim {

// Bytes added to every row of a world the host creates, so that code that
// steps rows by width x pixel size reads and writes the wrong pixels.
inline constexpr int32_t kRowPadding = 32;

// What the host fills a fresh output world with (padding included), so that
// pixels the effect never wrote stand out.
inline constexpr std::byte kUnwrittenByte{0xCD};

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
