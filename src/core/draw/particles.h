#pragma once

#include "draw/canvas.h"
#include "frame/emission.h"
#include "frame/settings.h"

#include <cstdint>
#include <vector>

namespace pointillo {

struct Cloud;
struct SourceMask;

// Rebuilds, in closed form, the particles born at one emission step as they
// stand `timing.age` seconds later, between the from side (being left) and
// the to side (being turned into). `out` is emptied first.
void emit_particles(std::vector<Particle>& out, const SourceMask& from_mask,
                    const SourceMask& to_mask, const Cloud& from_cloud, const Cloud& to_cloud,
                    const DotSettings& dots, const ParticleSettings& particles,
                    const EmissionTiming& timing);

} // namespace pointillo
