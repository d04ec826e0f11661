#pragma once

#include "common/cancel.h"
#include "common/pixel_view.h"
#include "source/source_mask.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pointillo {

// The masks sampled for one frame, so that a source lent again with the same
// pixels at the same place is not sampled twice: a frame's emission steps
// mostly lend the very layers the frame draws. Three masks cover a frame
// between two steps of the sequence (the source before, and the from and to
// sources); beyond that the least recently used is dropped.
struct MaskSet {
    static constexpr std::size_t kCapacity = 3;
    struct Entry {
        MaskPlacement placement;
        std::shared_ptr<const SourceMask> mask;
    };
    std::vector<Entry> entries; // least recently used first
};

// The mask of `pixels` at `origin`: one of `set` when an equal one is there,
// else sampled and kept. The cancel check is polled exactly as
// sample_source_mask polls it, either way.
std::shared_ptr<const SourceMask> obtain_mask(MaskSet& set, int32_t output_width,
                                              int32_t output_height, const ConstPixelView& pixels,
                                              MaskOrigin origin, const CancelCheck& cancel);

} // namespace pointillo
