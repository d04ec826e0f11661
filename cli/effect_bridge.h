#pragma once

// The seam between the renderer and the effect module. Everything else in
// cli/ knows the effect only through these declarations; the module is
// driven through the emulated host behind them (effect_session.h).
//
// The module is loaded once per process, on first use. Scenes may follow one
// another in a process: a frame of another scene than the last one sets the
// effect instance up again (frames of the previous scene still in flight
// finish first). Frames of one scene render concurrently.

#include "cli/image.h"
#include "cli/prepared_scene.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace pointillo {

// One entry of the parameter list as the module registers it. Ranges and
// defaults are the registered 32-bit floats, widened.
struct EffectParam {
    int32_t index = 0; // position in the list (0, the input layer, is not listed)
    int32_t id = 0;    // the stable id saved in projects
    std::string name;  // as the effect controls show it
    ParamKind kind = ParamKind::Slider;
    double valid_min = 0.0;
    double valid_max = 0.0;
    double slider_min = 0.0;
    double slider_max = 0.0;
    double default_value = 0.0;       // slider value, popup item (1-based), checkbox 0 or 1
    std::vector<std::string> choices; // popup items; a button's label as its only entry
    Rgb8 default_color;               // colours
    uint32_t flags = 0;               // the registration's flags word
    uint32_t ui_flags = 0;            // and its UI flags (0x200: not shown in the controls)
};

// The module's registration.
struct EffectInfo {
    std::string name;
    std::string match_name;
    std::string category;
    std::string entry_point;
    int32_t api_major = 0;
    int32_t api_minor = 0;
    uint32_t version = 0; // the packed version word
    uint32_t out_flags = 0;
    uint32_t out_flags2 = 0;
    std::string support_url;
};

// A failure reported by the effect; what() is the effect's own message.
struct EffectError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The render stopped because the cancel flag was raised.
struct RenderCancelled : std::runtime_error {
    RenderCancelled() : std::runtime_error("render cancelled") {}
};

std::vector<EffectParam> effect_parameters();
EffectInfo effect_info();

// Renders frame `frame` (current_time = frame x 1000) of the scene: the
// effect's output at the scene's depth, premultiplied, sized by the effect
// for the scene's downsample. Safe to call from several threads at once for
// different frames. The effect's abort poll reads `cancel`; once it is true
// the call throws RenderCancelled. A failure inside the effect throws
// EffectError carrying the effect's message.
ArgbImage render_effect_frame(const PreparedScene& scene, int32_t frame,
                              const std::atomic<bool>& cancel);

// Writes a replay bundle (hostsim/replay.h) of exactly what the host hands
// the effect for these frames of the scene: every parameter's value or
// keyframes, the layers' pixels at the scene's depth and downsample, the comp
// and the time base. std::runtime_error when a file cannot be written.
void export_effect_replay(const PreparedScene& scene, std::span<const int32_t> frames,
                          const std::filesystem::path& dir);

} // namespace pointillo
