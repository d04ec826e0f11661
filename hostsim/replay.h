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

#include "host/ae_sdk.h"
#include "hostsim/frame.h"
#include "hostsim/host.h"
#include "hostsim/instance.h"
#include "hostsim/world.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace hostsim {

// One parameter of the instance, index 1 upwards (0, the layer the effect is
// applied to, carries nothing).
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

// What `host` and `instance` hold for frames rendered with `comp`'s size,
// time base, depth and downsample (its `time` is not used): every parameter,
// and every layer a layer parameter refers to at any time (ids the host does
// not know are left out; they render as no layer), its pixels produced now.
// std::runtime_error for a layer that has no pixels to give.
Replay capture_replay(Host& host, const Instance& instance, const FrameCall& comp,
                      std::vector<A_long> frames);

// Writes the bundle into `dir` (created if needed; files of another bundle
// there are replaced). std::runtime_error when a file cannot be written;
// std::invalid_argument for a replay that could not be read back (a bad
// depth or size, layer pixels of the wrong size, keys out of order).
void save_replay(const std::filesystem::path& dir, const Replay& replay);
// capture_replay, then save_replay.
void save_replay(const std::filesystem::path& dir, Host& host, const Instance& instance,
                 const FrameCall& comp, std::vector<A_long> frames);

// Reads a bundle. std::runtime_error naming the file (and line) for anything
// missing, malformed, out of range or inconsistent.
Replay load_replay(const std::filesystem::path& dir);

// Gives `instance` (whose PF_Cmd_PARAMS_SETUP has run) the replay's values
// and keyframes, and adds its layers to `host` with their pixels; layer ids
// are renumbered if the host already has layers. std::runtime_error when the
// instance's parameter list is not the bundle's (count or kinds).
void apply_replay(Host& host, Instance& instance, const Replay& replay);

// The request for frame number `frame`. std::invalid_argument when its time
// does not fit a host time.
FrameCall replay_call(const Replay& replay, A_long frame);

} // namespace hostsim
