#pragma once

#include "draw/canvas.h"
#include "draw/morph.h"
#include "frame/emission.h"
#include "frame/settings.h"

#include <cstdint>
#include <vector>

namespace pointillo {

// Rebuilds, in closed form, the particles born at one emission step as they
// stand `timing.age` seconds later, between the from side (being left) and
// the to side (being turned into). `out` is emptied first. Pieces of
// particles run through `parallel`.
void emit_particles(std::vector<Particle>& out, const TransitionSide& from,
                    const TransitionSide& to, const DotSettings& dots,
                    const ParticleSettings& particles, const EmissionTiming& timing,
                    ParallelFor parallel = kSerialFor);

} // namespace pointillo
