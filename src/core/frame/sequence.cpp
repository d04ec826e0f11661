#include "frame/sequence.h"

#include <algorithm>
#include <cmath>

namespace pointillo {

SequenceState sequence_state(const SequenceSettings& settings, int32_t active_count, double seconds,
                             double manual_position) {
    // Zero or one source: a single slot, nothing to turn into.
    int32_t slots = std::min(active_count, 16);
    if (slots < 2) {
        slots = 1;
    }

    // Position: its integer part counts finished sources.
    double position = 0.0;
    if (settings.automatic) {
        const double elapsed = std::max(seconds - settings.start, 0.0);
        const double cycle = std::max(settings.hold + settings.transition, 0.001);
        const double k = std::floor(elapsed / cycle);
        const double fraction =
            (elapsed - cycle * k - settings.hold) / std::max(settings.transition, 0.001);
        position = k + std::max(fraction, 0.0);
    } else {
        position = std::max(manual_position - 1.0, 0.0);
    }

    const double last = static_cast<double>(slots - 1);
    const double wrapped = (active_count < 2 || !settings.loop)
                               ? std::min(last, position)
                               : std::fmod(position, static_cast<double>(slots));

    // The wrapped position lies in [0, 16): its floor converts safely. A NaN
    // (only from NaN settings) lands on the first source.
    const double whole = std::floor(wrapped);
    SequenceState state;
    state.from = whole >= 0.0 && whole < 16.0 ? static_cast<int32_t>(whole) : 0;
    state.to = settings.loop ? (state.from + 1) % slots : std::min(slots - 1, state.from + 1);
    state.progress = static_cast<float>(wrapped - static_cast<double>(state.from));
    return state;
}

} // namespace pointillo
