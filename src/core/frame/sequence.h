#pragma once

#include "common/host_time.h"
#include "frame/settings.h"

#include <cstdint>

namespace pointillo {

// Where the sequence stands at one moment: `from` and `to` index the active
// source list (the source being left and the one being turned into);
// `progress` in [0, 1) is how far `from` has turned into `to`.
struct SequenceState {
    int32_t from = 0;
    int32_t to = 0;
    float progress = 0.0f;

    friend bool operator==(const SequenceState&, const SequenceState&) = default;
};

// The sequence state at `seconds` for `active_count` filled sources.
// `manual_position` is the "Sequence Position" value at that moment; it is read
// only when `settings.automatic` is off.
SequenceState sequence_state(const SequenceSettings& settings, int32_t active_count, double seconds,
                             double manual_position);

} // namespace pointillo
