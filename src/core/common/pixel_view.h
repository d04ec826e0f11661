#pragma once

#include <cstddef>
#include <cstdint>

namespace pointillo {

// Channel depth of an image in host memory. Every depth stores alpha, red,
// green, blue in that order, premultiplied: 8 bits (0..255), 16 bits
// (0..32768, the host's white) or 32-bit floats.
enum class PixelDepth { k8, k16, k32 };

constexpr std::ptrdiff_t bytes_per_pixel(PixelDepth depth) {
    return depth == PixelDepth::k8 ? 4 : depth == PixelDepth::k16 ? 8 : 16;
}

// A read-only image that somebody else owns. Rows start `rowbytes` apart, which
// may be more than width x pixel size.
struct ConstPixelView {
    const std::byte* data = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    std::ptrdiff_t rowbytes = 0;
    PixelDepth depth = PixelDepth::k8;
};

// A writable image that somebody else owns (the host's output world).
struct PixelView {
    std::byte* data = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    std::ptrdiff_t rowbytes = 0;
    PixelDepth depth = PixelDepth::k8;
};

} // namespace pointillo
