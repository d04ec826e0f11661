#pragma once

#include "common/cancel.h"
#include "common/color.h"
#include "common/parallel.h"
#include "common/pixel_view.h"
#include "draw/kernels.h"
#include "frame/settings.h"
#include "memory/buffer_pool.h"

#include <cstdint>
#include <span>

namespace pointillo {

struct SourceMask;

// One canvas pixel: alpha and colour premultiplied by it.
struct PremultipliedPixel {
    float alpha = 0.0f;
    float red = 0.0f;
    float green = 0.0f;
    float blue = 0.0f;
};

// The render's working image, row stride exactly `width` pixels. Its pixels
// are pooled: the next frame reuses them.
struct Canvas {
    int32_t width = 0;
    int32_t height = 0;
    PooledVector<PremultipliedPixel> pixels;
};

// What the particle emitter produces: centre, radius and opacity, and a
// straight colour.
struct Particle {
    float x = 0.0f; // canvas pixels
    float y = 0.0f;
    float radius = 0.0f;
    float opacity = 0.0f;
    Rgb color;
};

// The drawing functions below take the drawing form to use last; by default
// the best this processor runs. Every form gives the same pixels.

// Sizes the canvas to width x height, all transparent. Throws
// std::runtime_error("Unsupported output dimensions") outside the size limit.
void reset_canvas(Canvas& canvas, int32_t width, int32_t height);

// The softness every drawing routine uses: at least 0.75 pixel.
float effective_softness(float edge_softness);

// Draws one dot combined by maximum, with one opacity for the whole dot.
// `softness` gets the 0.75 floor here too. A dot whose centre, radius, ring
// hole or opacity is not finite draws nothing; a huge radius is clipped to
// the canvas.
void draw_dot(Canvas& canvas, DotShape shape, float softness, float x, float y, float radius,
              float inner_radius, float opacity, Rgb color,
              const DrawKernels& kernels = draw_kernels());

// What every dot of a batch shares.
struct DotStyle {
    DotShape shape = DotShape::kCircle;
    float softness = 0.75f;          // before the 0.75 floor
    bool match_source_colors = true; // masked dots: the mask's colours
    Rgb dot_color;                   // masked dots when not matching
};

// Where one dot lies, in canvas pixels; a ring's hole is `inner_radius`.
struct DotPlace {
    float x = 0.0f;
    float y = 0.0f;
    float radius = 0.0f;
    float inner_radius = 0.0f;
};

// Draws one dot of a solid phase: each pixel's opacity is the mask's coverage
// there, and its colour the mask's colour (or the style's dot colour when not
// matching).
void draw_masked_dot(Canvas& canvas, const DotStyle& style, const DotPlace& place,
                     const SourceMask& mask, const DrawKernels& kernels = draw_kernels());

// Overwrites the canvas with the mask drawn solid; polls `cancel` every 64 rows.
void fill_solid_source(Canvas& canvas, const SourceMask& mask, bool match_source_colors,
                       Rgb dot_color, const CancelCheck& cancel,
                       const DrawKernels& kernels = draw_kernels());

// Composites particles over the canvas in list order. Particles of radius
// at most 0.01, without positive opacity or with a non-finite number are
// skipped. Bands of rows are the pieces run through `parallel`.
void draw_particles(std::span<const Particle> particles, int32_t width, int32_t height,
                    float edge_softness, Canvas& canvas, ParallelFor parallel = kSerialFor,
                    const DrawKernels& kernels = draw_kernels());

// Writes the canvas into `output` at its depth, transparent where the output
// reaches beyond the canvas; polls `cancel` before every 64th row.
void convert_canvas(const Canvas& canvas, const PixelView& output, const CancelCheck& cancel,
                    const DrawKernels& kernels = draw_kernels());

} // namespace pointillo
