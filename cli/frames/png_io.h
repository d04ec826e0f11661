#pragma once

#include "cli/base/image.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace pointillo {

// Decodes a PNG of any colour type and bit depth into straight RGBA: palettes
// and grey expand to RGB, sub-byte grey scales to 8 bits, a transparency
// chunk becomes alpha, a missing alpha is opaque; 16-bit files stay 16-bit.
// No gamma or colour-space conversion. Throws std::runtime_error with the
// decoder's reason, also for images outside 30,000 pixels a side or 64
// megapixels.
StraightImage decode_png(std::span<const uint8_t> bytes);

// Encodes an RGBA PNG at the image's 8 or 16 bits: no interlacing, the "up"
// row filter, run-length deflate at level 1 (fast, and small on frames that
// are mostly transparent or dark), no time stamp, so the same pixels always
// give the same bytes.
std::vector<uint8_t> encode_png(const StraightImage& image);

// The same encoder, row by row, into `out` (cleared first; its memory is
// reused): `row(y, bytes)` writes row y's width x 4 samples as the file holds
// them, 16-bit samples big-endian. No image of the whole frame is needed.
void encode_png_rows(int32_t width, int32_t height, int32_t bits,
                     const std::function<void(int32_t y, uint8_t* row)>& row,
                     std::vector<uint8_t>& out);

} // namespace pointillo
