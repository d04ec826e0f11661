#pragma once

#include "frame/sequence.h"
#include "frame/settings.h"
#include "host/ae_sdk.h"

namespace pointillo {

// Every value-carrying parameter at `time` (host units of the command's
// time_scale), checked out one at a time and checked in before the next.
// Host errors are raised; nothing stays checked out on any path.
Settings read_settings(const PF_InData& in_data, A_long time);

// One float slider's double value at `time`, checked out and in again.
double read_slider(const PF_InData& in_data, PF_ParamIndex index, A_long time);

// The sequence state at `time` for `active_count` sources, with the snapshot
// taken at the frame time. Manual mode reads "Sequence Position" at `time`.
SequenceState sequence_state_at(const Settings& settings, const PF_InData& in_data,
                                int32_t active_count, A_long time);

} // namespace pointillo
