#include "source/mask_set.h"

#include <array>
#include <span>
#include <utility>

namespace pointillo {

std::shared_ptr<const SourceMask> obtain_mask(MaskSet& set, int32_t output_width,
                                              int32_t output_height, const ConstPixelView& pixels,
                                              MaskOrigin origin, const CancelCheck& cancel) {
    const MaskPlacement placement = mask_placement(output_width, output_height, pixels, origin);
    std::array<const SourceMask*, MaskSet::kCapacity> candidates{};
    std::array<std::size_t, MaskSet::kCapacity> positions{};
    std::size_t count = 0;
    for (std::size_t k = 0; k < set.entries.size() && count < MaskSet::kCapacity; ++k) {
        if (set.entries[k].placement == placement) {
            candidates[count] = set.entries[k].mask.get();
            positions[count] = k;
            ++count;
        }
    }

    SourceMask sampled;
    const int32_t found = sample_or_reuse(std::span(candidates.data(), count), output_width,
                                          output_height, pixels, origin, cancel, sampled);
    MaskSet::Entry entry;
    if (found >= 0) {
        const auto at = static_cast<std::ptrdiff_t>(positions[static_cast<std::size_t>(found)]);
        entry = std::move(set.entries[static_cast<std::size_t>(at)]);
        set.entries.erase(set.entries.begin() + at);
    } else {
        entry = MaskSet::Entry{placement, std::make_shared<const SourceMask>(std::move(sampled))};
        if (set.entries.size() >= MaskSet::kCapacity) {
            set.entries.erase(set.entries.begin());
        }
    }
    set.entries.push_back(std::move(entry));
    return set.entries.back().mask;
}

} // namespace pointillo
