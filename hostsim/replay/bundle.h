#pragma once

// Replay bundles: everything the host hands the effect for a set of frames,
// kept in plain files, so that another build of the module (another
// platform, another compiler) can render exactly the same frames and the
// outputs can be compared byte for byte.
//
// A bundle is a folder:
//   replay.txt      the comp, the frame numbers, every parameter's value or
//                   keyframes and the list of layers; text, one item a line,
//                   numbers in their shortest exact decimal form
//   layer_<id>.raw  one layer's premultiplied pixels at the bundle's depth
//                   and downsample: alpha, red, green, blue, rows packed,
//                   little-endian (8 bits: bytes; 16 bits: 0..32768 in two
//                   bytes; 32 bits: IEEE floats)
//
// This is the format alone, plain read and write: it loads no module and
// needs no emulated host, so that anything that renders through the core can
// read bundles. hostsim/replay.h binds bundles to the emulated host.

#include "host/ae_sdk.h"
#include "hostsim/pixels.h"
#include "hostsim/values.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace hostsim {

// One parameter of the effect instance, index 1 upwards (0, the layer the
// effect is applied to, carries nothing).
struct ReplayParam {
    int32_t index = 0;
    PF_ParamType type = PF_Param_LAYER;
    ParamValue value;           // the constant value; unused while keyframed
    std::vector<Keyframe> keys; // empty: constant
};

// A layer some layer parameter refers to.
struct ReplayLayer {
    int32_t id = 0;         // the id the parameters hold
    int32_t ref_width = 0;  // full-resolution size
    int32_t ref_height = 0; //
    LayerPixels pixels;     // at the bundle's depth and downsample
};

struct Replay {
    // The effect layer at full resolution and the time base: frame n is at
    // current_time n x time_step, in units of time_scale.
    int32_t width = 1920;
    int32_t height = 1080;
    A_u_long time_scale = 30;
    A_long time_step = 1;
    int32_t depth = 8; // 8, 16 or 32 bits a channel
    PF_RationalScale downsample_x{1, 1};
    PF_RationalScale downsample_y{1, 1};
    std::vector<A_long> frames;      // the frame numbers to render, in order
    int32_t param_count = 0;         // the instance's, index 0 included
    std::vector<ReplayParam> params; // indices 1 to param_count - 1, in order
    std::vector<ReplayLayer> layers; // by ascending id
};

// Whether a parameter of this kind keeps a value (every kind but a group's
// start and end).
bool holds_value(PF_ParamType type);

// The host time of frame number `frame` (frame x time_step), or nothing when
// it does not fit a host time.
std::optional<A_long> frame_time(const Replay& replay, A_long frame);

// Writes the bundle into `dir` (created if needed; files of another bundle
// there are replaced). std::runtime_error when a file cannot be written;
// std::invalid_argument for a replay that could not be read back (a bad
// depth or size, layer pixels of the wrong size, keys out of order).
void save_replay(const std::filesystem::path& dir, const Replay& replay);
// Reads a bundle. std::runtime_error naming the file (and line) for anything
// missing, malformed, out of range or inconsistent.
Replay load_replay(const std::filesystem::path& dir);

} // namespace hostsim
