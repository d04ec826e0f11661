#pragma once

// The seam between the renderer and the effect module. Everything else in
// cli/ knows the effect only through these declarations; the module is
// driven through the emulated host behind them.
//
// An EffectSession is the module in use: loaded on first use, destroyed by
// its owner. Scenes may follow one another in a session: a frame of another
// scene than the last one sets the effect instance up again (frames of the
// previous scene still in flight finish first). Frames of one scene render
// concurrently.

#include "cli/base/image.h"
#include "cli/run/render.h"
#include "cli/scene/prepared_scene.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace hostsim {
class Host;
class Instance;
} // namespace hostsim

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
    bool hidden = false;              // not shown in the controls (its UI flags say so)
};

// A flag of the registration the renderer names, by its bit.
struct FlagName {
    int32_t bit = 0;
    std::string name;
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
    // The names of the flags above that the renderer knows (without the
    // interface's prefix), in bit order.
    std::vector<FlagName> out_flag_names;
    std::vector<FlagName> out_flag2_names;
};

// A failure reported by the effect; what() is the effect's own message.
struct EffectError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The render stopped because the cancel flag was raised.
struct RenderCancelled : std::runtime_error {
    RenderCancelled() : std::runtime_error("render cancelled") {}
};

// The module file a session loads by default: $POINTILLO_MODULE when set,
// else Pointillo.so in the folder of the running program.
std::string effect_module_path();

// The effect module loaded into the emulated host: registered, globally set
// up, and one effect instance with its parameters registered. Nothing is
// loaded until the first call that needs the effect (std::runtime_error when
// the module cannot be loaded or set up; a later call tries again).
//
// Its owner destroys it before the process exits, after the last frame: the
// destructor sends PF_Cmd_GLOBAL_SETDOWN and then unloads the module. It must
// not be a static object: at exit the module's own static objects may be gone
// before a static session's destructor runs, and then no command may reach
// the module.
class EffectSession {
  public:
    explicit EffectSession(std::string module_path = effect_module_path());
    ~EffectSession();
    EffectSession(const EffectSession&) = delete;
    EffectSession& operator=(const EffectSession&) = delete;

    std::vector<EffectParam> parameters();
    EffectInfo info();

    // Renders frame `frame` (current_time = frame x 1000) of the scene: the
    // effect's output at the scene's depth, premultiplied, sized by the
    // effect for the scene's downsample. Safe to call from several threads at
    // once for different frames. The effect's abort poll reads `cancel`; once
    // it is true the call throws RenderCancelled. A failure inside the effect
    // throws EffectError carrying the effect's message.
    //
    // The host renders straight into `image`'s buffer (rows padded as the
    // host pads them), reusing its memory.
    void render_frame(const PreparedScene& scene, int32_t frame, const std::atomic<bool>& cancel,
                      FrameImage& image);
    // The same as a packed image of its own.
    ArgbImage render_frame(const PreparedScene& scene, int32_t frame,
                           const std::atomic<bool>& cancel);

    // The same at any host time (units of the scene's time scale, frames 1000
    // apart), for sub-frame samples: a frame's time gives that frame's image.
    void render_at_time(const PreparedScene& scene, int32_t current_time,
                        const std::atomic<bool>& cancel, FrameImage& image);
    ArgbImage render_at_time(const PreparedScene& scene, int32_t current_time,
                             const std::atomic<bool>& cancel);

    // Sets the effect up for the scene now and takes its source pixels, which
    // the host then holds as its layers and which are freed here: one copy of
    // each source for the whole render instead of two. Afterwards only this
    // session renders the scene (another would find no pixels to give its
    // host). std::logic_error for a scene built by hand (id 0), which is
    // known by its pixels and keeps them.
    void hand_over_sources(const SceneSetup& setup, ScenePixels&& pixels);

    // The threads the host lends each frame to draw it on (at least 1; until
    // set, one per core).
    void set_frame_threads(int32_t threads);

    // Writes a replay bundle (hostsim/replay.h) of exactly what the host
    // hands the effect for these frames of the scene: every parameter's
    // value or keyframes, the layers' pixels at the scene's depth and
    // downsample, the comp and the time base. std::runtime_error when a file
    // cannot be written.
    void export_replay(const PreparedScene& scene, std::span<const int32_t> frames,
                       const std::filesystem::path& dir);

    // The emulated host and the instance behind the session, for tests that
    // read what the session set, fail host calls or check that every
    // checkout was given back.
    hostsim::Host& host();
    hostsim::Instance& instance();

  private:
    struct Loaded;
    Loaded& loaded();

    std::string module_path_;
    std::mutex mutex_;               // guards loading
    std::unique_ptr<Loaded> loaded_; // null until first use
};

} // namespace pointillo
