#pragma once

// frei0r frames and the core's layers: the renderer's 8-bit rules, so that a
// plug-in frame of still inputs equals the renderer's PNG of the same scene.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pointillo::frei0r {

// Straight red, green, blue, alpha bytes to premultiplied alpha, red,
// green, blue: each colour becomes (c x a + 127) / 255, the renderer's layer
// rule at depth 8.
void premultiply_frame(const uint32_t* frame, std::size_t pixels, std::vector<std::byte>& layer);

// The renderer's file rule at 8 bits: min(255, (c x 510 + a) / (2 x a)), 0
// where alpha is 0.
uint8_t unpremultiply(uint32_t color, uint32_t alpha);

// In place: premultiplied alpha, red, green, blue to straight red, green,
// blue, alpha.
void to_frei0r_order(uint32_t* frame, std::size_t pixels);

} // namespace pointillo::frei0r
