#pragma once

#include "common/function_ref.h"
#include "frame/sequence.h"
#include "frame/settings.h"

#include <cstdint>

namespace pointillo {

// One parameter's value as the host hands it over: a slider's double, a
// popup's 1-based item or a checkbox's 0 or 1 in `number`; a colour's 8-bit
// channels (its alpha is never used).
struct ParamReading {
    double number = 0.0;
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
};

// Reads the parameter at `index` (its place in the host's list) at `time`, in
// host units of the frame's time scale. A host makes each call one checkout
// and one check-in, and raises its failures.
using ParamReader = FunctionRef<ParamReading(int32_t index, int32_t time)>;

// Every value-carrying parameter at `time`, read one at a time in the fixed
// order below and converted to the forms the core works with. The order is
// part of the contract with the host: it sees the reads as checkouts.
Settings read_settings(ParamReader read, int32_t time);

// The sequence state at `time` for `active_count` sources, with the snapshot
// taken at the frame time. Manual mode reads "Sequence Position" at `time`.
SequenceState sequence_state_at(const Settings& settings, ParamReader read, int32_t active_count,
                                int32_t time, uint32_t time_scale);

} // namespace pointillo
