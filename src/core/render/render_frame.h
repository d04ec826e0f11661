#pragma once

#include "common/cancel.h"
#include "common/function_ref.h"
#include "common/parallel.h"
#include "common/pixel_view.h"
#include "draw/canvas.h"
#include "frame/frame_plan.h"
#include "frame/settings.h"

namespace pointillo {

// Lends the pixels of one planned source to `use` for the length of the call
// (premultiplied, at the render's depth and downsample; the view may have no
// data, for a layer without pixels). A host fetches them by the source's key
// and gives them back when `use` returns or throws.
using PixelsUse = FunctionRef<void(const ConstPixelView& pixels)>;
using SourcePixels = FunctionRef<void(const SourceRef& source, PixelsUse use)>;

// Pixel-sized settings are stored in full-resolution pixels; these copies are
// scaled to the render's pixels. Never written back.
DotSettings render_dot_settings(DotSettings dots, float render_scale);
ParticleSettings render_particle_settings(ParticleSettings particles, float render_scale);

// Draws the planned frame into `canvas` (sized to the plan's output): the dots
// of the sources, then the particles of every emission step in order.
// `cancel` is polled before every emission step besides the polls of the
// mask sampling and the morph; whatever it throws passes through, and so do
// the host's failures raised from `sources`. The passes that split into
// independent pieces run them through `parallel`; the frame is the same bits
// whichever way the host runs them.
void render_frame(const FramePlan& plan, SourcePixels sources, const CancelCheck& cancel,
                  Canvas& canvas, ParallelFor parallel = kSerialFor);

} // namespace pointillo
