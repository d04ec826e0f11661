#pragma once

// When particles are emitted and how long they can live: the constants the
// planning of a frame and the particle emitter share.

#include "frame/param_table.h"

#include <cstdint>

namespace pointillo {

// Particles are emitted at whole samples of this rate: sample k at k / rate
// seconds, each sample standing for one step of 1 / rate seconds.
inline constexpr int32_t kEmissionSamplesPerSecond = 20;
inline constexpr float kEmissionStepSeconds = 1.0f / static_cast<float>(kEmissionSamplesPerSecond);
static_assert(kEmissionStepSeconds == 0.05f);

// The longest life a particle can have: the largest "Life (seconds)" with the
// largest "Life Randomness (%)" added, in seconds. Samples older than this
// cannot have a particle alive.
inline constexpr double kLongestParticleLife =
    static_cast<double>(kParamTable[param_index_of(param_id::kLife) - 1].valid_max) *
    (1.0 +
     static_cast<double>(kParamTable[param_index_of(param_id::kLifeRandomness) - 1].valid_max) /
         100.0);
static_assert(kLongestParticleLife == 9.75);

// The timing of one emission step as its particles need it.
struct EmissionTiming {
    float progress_before = 0.0f; // one velocity step before the sample, seen from its transition
    float progress = 0.0f;        // at the sample: where the particles start
    float progress_after = 0.0f;  // one velocity step after the sample
    float velocity_span = 0.0f;   // seconds between the before and after samples
    float age = 0.0f;             // seconds from the sample to the frame
    float step_length = kEmissionStepSeconds;
    int32_t sample = 0; // the sample time is sample / kEmissionSamplesPerSecond seconds
};

} // namespace pointillo
