#pragma once

// What one frame draws, decided before any drawing: the snapshot, where the
// sequence stands, which sources are drawn and which past emission steps may
// still have particles alive. A host plans a frame while it may read
// parameters and check layers out (smart pre-render), keeps the plan, and
// hands it back to render_frame.

#include "common/function_ref.h"
#include "frame/emission.h"
#include "frame/sequence.h"
#include "frame/settings.h"
#include "frame/settings_read.h"

#include <cstdint>
#include <vector>

namespace pointillo {

// A rectangle in layer pixels, right and bottom exclusive.
struct LayerRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// One source a frame draws, as the host handed it over.
struct SourceRef {
    int32_t key = 0;        // the host's own name for the handed-over pixels
    int32_t ref_width = 0;  // the layer's full-resolution size
    int32_t ref_height = 0; //
    LayerRect rect;         // the part of the layer handed over
};

// One past sample at which the transition was moving, so particles were born.
struct EmissionStep {
    SourceRef from;    // the source being left, at the sample time
    SourceRef to;      // the source being turned into
    Settings settings; // snapshot at the sample time
    EmissionTiming timing;
};

struct FramePlan {
    Settings settings;        // at the frame time
    SequenceState state;      // at the frame time
    int32_t output_width = 0; // output pixels
    int32_t output_height = 0;
    float downsample_x = 1.0f; // fractions, 1 at full resolution
    float downsample_y = 1.0f;
    int32_t source_count = 0; // 0; 1, `from` drawn solid; or 2, `from` turning into `to`
    SourceRef from;           // the source being left
    SourceRef to;             // the source being turned into
    std::vector<EmissionStep> emission_steps; // increasing sample order
};

// A host's downsample factor num / den in single precision; 1 for a zero
// denominator.
float downsample_factor(int32_t num, uint32_t den);

struct OutputSize {
    int32_t width = 0;
    int32_t height = 0;
};

// The output of a layer of layer_width x layer_height at the downsample:
// ceil(factor x size) in float, at least 1 each way. Throws
// std::runtime_error("Output exceeds the supported 64 megapixels") beyond
// 64 Mi pixels.
OutputSize output_size(float downsample_x, float downsample_y, int32_t layer_width,
                       int32_t layer_height);

// What the host says of the frame being planned.
struct PlanRequest {
    int32_t time = 0; // host units
    uint32_t time_scale = 1;
    float downsample_x = 1.0f;
    float downsample_y = 1.0f;
    OutputSize output;
    int32_t active_count = 0; // sources that hold a layer at the frame time
};

// What planning asks of its host, while it plans and in this order.
struct PlanHost {
    ParamReader read;
    // Hands over the pixels of the active source at `position` (0-based, in
    // slot order) at `time`, to be fetched when the frame is drawn.
    FunctionRef<SourceRef(int32_t position, int32_t time)> checkout;
};

// Plans the frame from the snapshot at its time. Asks the host for the
// sequence position (manual mode), for "Life (seconds)", "Life Randomness
// (%)" and whole snapshots at the emission samples, and for the sources the
// frame and its steps draw, in the order the frame needs them.
// `settings` must be the snapshot at the frame time: the host read it with
// read_settings at `request.time`, and the only host calls in between are
// ones that read no parameter (the module probes its slots there).
FramePlan plan_frame(const Settings& settings, const PlanRequest& request, const PlanHost& host);

// read_settings at the frame time, then plan_frame with it: for hosts that
// have nothing to ask between the two.
FramePlan plan_frame(const PlanRequest& request, const PlanHost& host);

} // namespace pointillo
