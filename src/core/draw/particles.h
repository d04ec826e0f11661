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
// stand `timing.age` seconds later. Mask and cloud 1 are the side being left,
// 2 the side being turned into. `out` is emptied first.
void emit_particles(std::vector<Particle>& out, const SourceMask& mask1, const SourceMask& mask2,
                    const Cloud& cloud1, const Cloud& cloud2, const DotSettings& dots,
                    const ParticleSettings& particles, const EmissionTiming& timing);

} // namespace pointillo
