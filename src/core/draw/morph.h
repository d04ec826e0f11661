#pragma once

#include "common/cancel.h"
#include "draw/canvas.h"
#include "frame/settings.h"

#include <cstdint>

namespace pointillo {

struct Cloud;
struct SourceMask;

// The from dot and the to dot of pair `pair` of `pair_count` pairs; the products
// are formed in 64 bits.
inline int64_t paired_index(int64_t pair, int64_t dot_count, int64_t pair_count) {
    return pair * dot_count / pair_count;
}

// Sizes, clears and draws one frame's dots (or a solid end) into `canvas`.
// Throws std::runtime_error("Unsupported output dimensions" / "Render cancelled")
// and passes through whatever the cancel check throws.
void render_morph(const SourceMask& from_mask, const SourceMask& to_mask, const Cloud& from_cloud,
                  const Cloud& to_cloud, const DotSettings& settings, float progress, int32_t width,
                  int32_t height, Canvas& canvas, const CancelCheck& cancel);

} // namespace pointillo
