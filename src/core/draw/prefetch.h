#pragma once

// A cache hint for the drawing code. Only a hint: a compiler without the GNU
// builtin gets nothing, and the pixels are the same either way.

namespace pointillo::raster {

// Asks for the cache line holding `address`, which is about to be written.
inline void prefetch_for_write(const void* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address, 1);
#else
    (void)address;
#endif
}

} // namespace pointillo::raster
