#pragma once

#include "common/cancel.h"
#include "draw/canvas.h"
#include "frame/settings.h"

#include <cstdint>

namespace pointillo {

struct Cloud;
struct SourceMask;

// Source dot and target dot of pair `pair` of `pair_count` pairs; the products
// are formed in 64 bits.
inline int64_t paired_index(int64_t pair, int64_t dot_count, int64_t pair_count) {
    return pair * dot_count / pair_count;
}

// Sizes, clears and draws one frame's dots (or a solid end) into `canvas`.
// Throws std::runtime_error("Unsupported output dimensions" / "Render cancelled")
// and passes through whatever the cancel check throws.
void render_morph(const SourceMask& source_mask, const SourceMask& target_mask,
                  const Cloud& source_cloud, const Cloud& target_cloud, const DotSettings& settings,
                  float progress, int32_t width, int32_t height, Canvas& canvas,
                  const CancelCheck& cancel);

} // namespace pointillo
