#pragma once

// The 8-bit rules between straight and premultiplied colour that every host
// exchanging 8-bit images uses (the renderer's layers and files, the frei0r
// plug-ins, the studio), so their frames agree byte for byte.

#include <cstdint>

namespace pointillo {

// Straight to premultiplied: (c x a + 127) / 255, halves rounded up.
constexpr uint8_t premultiply_8(uint32_t color, uint32_t alpha) {
    return static_cast<uint8_t>((color * alpha + 127) / 255);
}

// Premultiplied to straight: (c x 510 + a) / (2 x a), halves rounded up and
// capped at 255; 0 where alpha is 0.
constexpr uint8_t unpremultiply_8(uint32_t color, uint32_t alpha) {
    if (alpha == 0) {
        return 0;
    }
    const uint32_t straight = (color * 510 + alpha) / (2 * alpha);
    return static_cast<uint8_t>(straight < 255 ? straight : 255);
}

} // namespace pointillo
