#pragma once

// frei0r frames and the core's layers: the 8-bit rules every host shares
// (common/pixel_rules.h), so that a plug-in frame of still inputs equals the
// renderer's PNG of the same scene.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pointillo::frei0r {

// Straight red, green, blue, alpha bytes to premultiplied alpha, red,
// green, blue by premultiply_8.
void premultiply_frame(const uint32_t* frame, std::size_t pixels, std::vector<std::byte>& layer);

// In place: premultiplied alpha, red, green, blue to straight red, green,
// blue, alpha by unpremultiply_8.
void to_frei0r_order(uint32_t* frame, std::size_t pixels);

} // namespace pointillo::frei0r
