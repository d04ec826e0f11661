#pragma once

#include "draw/canvas.h"
#include "frame/settings.h"
#include "host/ae_sdk.h"

namespace pointillo {

// Pixel-sized settings are stored in full-resolution pixels; these copies are
// scaled to the render's pixels. Never written back.
DotSettings render_dot_settings(DotSettings dots, float render_scale);
ParticleSettings render_particle_settings(ParticleSettings particles, float render_scale);

// The PF_Cmd_SMART_RENDER handler. Failures are raised.
void smart_render(PF_InData* in_data, PF_SmartRenderExtra* extra);

} // namespace pointillo
