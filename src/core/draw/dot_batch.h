#pragma once

#include "common/color.h"
#include "common/parallel.h"
#include "draw/canvas.h"
#include "frame/settings.h"

#include <cstdint>
#include <span>

namespace pointillo {

struct SourceMask;

// One dot of a frame, drawn by maximum. Without a mask it has one opacity and
// colour; with one (the solid phases) each pixel takes its opacity and colour
// from the mask, as draw_masked_dot does.
struct DotDraw {
    float x = 0.0f;
    float y = 0.0f;
    float radius = 0.0f;
    float inner_radius = 0.0f;
    float opacity = 0.0f;
    Rgb color;
    const SourceMask* mask = nullptr;
};

// Where `dot` lies, as draw_masked_dot takes it.
inline DotPlace place_of(const DotDraw& dot) {
    return {dot.x, dot.y, dot.radius, dot.inner_radius};
}

// Sizes the canvas to width x height and draws `dots` in list order: the
// same pixels, bit for bit, as reset_canvas followed by draw_dot (or
// draw_masked_dot) for each dot in turn. The canvas is produced tile by tile,
// each tile cleared, drawn and written out while it is in cache, with the
// drawing form `kernels`; rows of tiles are the pieces run through
// `parallel`. Throws std::runtime_error("Unsupported output dimensions")
// outside the size limit.
void render_dots(Canvas& canvas, int32_t width, int32_t height, const DotStyle& style,
                 std::span<const DotDraw> dots, ParallelFor parallel = kSerialFor,
                 const DrawKernels& kernels = draw_kernels());

} // namespace pointillo
