#pragma once

// One plug-in instance and the drawing of its frames: frei0r frames in,
// the core's frame plan and render, a frei0r frame out.

#include "draw/canvas.h"
#include "plugin_params.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pointillo::frei0r {

// Host time units per second. Every whole frame rate up to 120 that divides
// 120000 (24, 25, 30, 48, 50, 60, 100, 120) gives frames at whole units, so a
// frame's time is the same exact fraction of a second the renderer uses.
inline constexpr uint32_t kTimeScale = 120000;

struct PluginInstance {
    int32_t width = 0; // frame pixels
    int32_t height = 0;
    PluginValues values;
    // Reused from frame to frame: the inputs premultiplied, and the canvas.
    std::vector<std::byte> layers[2];
    Canvas canvas;
};

// An instance for frames of width x height, or null for a size the effect
// cannot draw (none, or beyond 64 megapixels).
std::unique_ptr<PluginInstance> make_instance(PluginKind kind, uint32_t width, uint32_t height);

// The host time as host units of kTimeScale, clamped to what they can hold;
// 0 for a time that is not a number.
int32_t host_units(double seconds);

// Draws one frame. Frames are width x height pixels of four bytes, red,
// green, blue, alpha with straight alpha, rows without padding. The filter
// reads `input1` only. The output may be one of the inputs.
void render_plugin_frame(PluginInstance& instance, double host_time, const uint32_t* input1,
                         const uint32_t* input2, uint32_t* output);

} // namespace pointillo::frei0r
