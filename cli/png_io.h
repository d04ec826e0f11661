#pragma once

#include "cli/image.h"

#include <cstdint>
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

// Encodes an RGBA PNG at the image's 8 or 16 bits: no interlacing, default
// compression, no time stamp, so the same pixels always give the same bytes.
std::vector<uint8_t> encode_png(const StraightImage& image);

} // namespace pointillo
