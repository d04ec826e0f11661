#pragma once

#include "cli/base/image.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace pointillo {

// A float image as an OpenEXR file: channels R, G, B, A as 32-bit floats,
// premultiplied, values unchanged, ZIP compression. The image must be at
// depth 32.
std::vector<uint8_t> encode_exr(const ArgbImage& image);
// The same from rows `rowbytes` apart, into `out` (its memory reused).
void encode_exr(const ConstPixelView& image, std::vector<uint8_t>& out);

// Reads the R, G, B, A channels of an OpenEXR file back into a depth-32
// image (missing channels read as 0, alpha as 1). Throws std::runtime_error.
ArgbImage decode_exr(std::span<const uint8_t> bytes);

// Whether the file of `size` bytes is a whole single-part scan-line OpenEXR
// image as encode_exr writes one: the library reads its header and finds
// every chunk in its offset table, and the last chunk ends the file (a file
// cut anywhere, or with bytes after its end, is not whole).
bool exr_file_is_whole(const std::filesystem::path& path, uint64_t size);

} // namespace pointillo
