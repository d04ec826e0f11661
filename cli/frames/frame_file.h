#pragma once

#include "cli/base/image.h"
#include "cli/scene/prepared_scene.h"
#include "common/pixel_rules.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pointillo {

// "frame_00012.png" (depths 8 and 16) or "frame_00012.exr" (depth 32); at
// least five digits.
std::string frame_file_name(int32_t frame, PixelDepth depth);

// The value mappings from the effect's premultiplied samples to file samples.
// Straight colour rounds halves up and is capped at full scale; it is 0 where
// alpha is 0.

// 8 bits: unpremultiply_8 (common/pixel_rules.h), shared with every host.
// The effect's 16-bit 0..32768 to a file's 0..65535: (v x 65535 + 16384) /
// 32768, halves up, capped at 65535.
uint16_t widen_16(uint32_t value);
// 16 bits, on samples already widened to 0..65535: (c x 131070 + a) / (2 x a)
// in 64-bit.
uint16_t unpremultiply_16(uint32_t color, uint32_t alpha);
// Premultiplied over an opaque background, result opaque. 8 bits: c + (bg x
// (255 - a) + 127) / 255, capped at 255. 16 bits, on widened samples with the
// background widened as bg x 257: c + (bg x (65535 - a) + 32767) / 65535,
// capped at 65535.
uint8_t over_background_8(uint32_t color, uint32_t alpha, uint32_t background);
uint16_t over_background_16(uint32_t color, uint32_t alpha, uint32_t background);

// A depth-8 or depth-16 frame as straight RGBA file samples (8 or 16 bits).
// With a background the frame is composited over it and made opaque.
StraightImage frame_to_png_pixels(const ArgbImage& frame, const std::optional<Rgb8>& background);

// A depth-32 frame for OpenEXR: unchanged without a background; with one,
// c + bg x (1 - a) in float with bg = byte / 255, alpha 1.
ArgbImage frame_to_exr_pixels(const ArgbImage& frame, const std::optional<Rgb8>& background);

// Whether `path` holds a whole frame file of the kind `depth` writes, judged
// by its structure without decoding the pixels: a PNG's chunks from the
// signature to an IEND that ends the file, each within the file; an OpenEXR
// file's header, and a line offset table whose chunks all lie within the
// file, the last one ending it. An absent, empty or truncated file is not.
bool frame_file_is_whole(const std::filesystem::path& path, PixelDepth depth);

// The complete file for a frame: PNG at depths 8 and 16, OpenEXR at 32.
std::vector<uint8_t> encode_frame_file(const ArgbImage& frame,
                                       const std::optional<Rgb8>& background);
// The same for a frame whose rows are `frame.rowbytes` apart (the host's
// output world), into `out` (cleared first, its memory reused); no image of
// the whole frame is made on the way except for a float frame with a
// background.
void encode_frame_file(const ConstPixelView& frame, const std::optional<Rgb8>& background,
                       std::vector<uint8_t>& out);

} // namespace pointillo
