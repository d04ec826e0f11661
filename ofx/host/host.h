#pragma once

// The test host: our stand-in for the compositors that load OpenFX bundles.
// It loads a bundle from its folder, describes each plug-in and each of its
// contexts, owns instances with their clips and parameters (linear
// keyframes), serves clip images at 8, 16 or 32 bits, sends the actions in
// the reference's order, runs the multithread suite on real threads, records
// every suite call and can fail any one of them.

#include "calls.h"
#include "common/pixel_view.h"
#include "ofx_api.h"
#include "properties.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pointillo::ofxhost {

// One frame of an input clip as the host holds it: alpha, red, green, blue,
// premultiplied, top row first, rows packed, in the core's ranges (shorts
// 0..32768) at `depth`.
struct HostFrame {
    int32_t width = 0;
    int32_t height = 0;
    PixelDepth depth = PixelDepth::k8;
    std::vector<std::byte> pixels;
};

// An input clip: its frame at a time in frames (any time, fractional ones
// included), at a depth, shrunk by a whole factor (the render scale is 1 /
// factor); null where the clip has no frame.
using ClipFrames =
    std::function<std::shared_ptr<const HostFrame>(double time, PixelDepth depth, int32_t factor)>;

// How the host lays out the images it hands over.
struct ImageLayout {
    bool top_down = false; // rows stored top first: negative row bytes
    int32_t origin_x = 0;  // the project's offset: bounds start here
    int32_t origin_y = 0;
    int32_t padding = 16; // bytes after each row
};

struct HostOptions {
    bool temporal = true; // the host fetches frames at other times
    ImageLayout layout;
    unsigned int cpus = 0; // what the multithread suite offers; 0: this machine's
};

struct PluginEntry {
    std::string id;
    std::vector<std::string> contexts; // short names: transition, filter, general
};

// A parameter's keys: frames and values (one per component); one key is a
// constant.
struct ParamKey {
    double time = 0.0;
    double values[3] = {0.0, 0.0, 0.0};
};

struct RenderSetup {
    std::string plugin;
    std::string context; // short name
    std::vector<ClipFrames> inputs;
    double fps = 25.0;
    int32_t frames = 1;
    PixelDepth depth = PixelDepth::k8;
    double render_scale = 1.0;
    // By parameter name: popups by item number from 1, checkboxes 0 or 1,
    // colours 0..1 per channel.
    std::map<std::string, std::vector<ParamKey>> params;
};

// One rendered frame: the output image as the plug-in left it, in the
// core's layout (alpha, red, green, blue, premultiplied, top row first;
// shorts at 0..65535), or the failure.
struct RenderedFrame {
    OfxStatus status = kOfxStatOK;
    std::string message; // the persistent message the plug-in posted
    int32_t width = 0;
    int32_t height = 0;
    PixelDepth depth = PixelDepth::k8;
    std::vector<std::byte> pixels; // width x height x 4 samples
    int64_t calls = 0;             // suite calls the render made
    std::vector<std::string> log;  // when recorded
    int64_t failed_call = 0;
    std::string failed_name;
};

// What a render may be asked to do wrong.
struct RenderFaults {
    int64_t fail_call = 0;      // fail the n-th suite call of the render (1-based)
    bool refuse_output = false; // a null output image with kOfxStatFailed
    bool record = false;
};

class Host;
class Instance;

// A loaded bundle and the plug-ins it describes.
class Host {
  public:
    // Loads BUNDLE/Contents/<arch>/<name>.ofx, where the bundle folder is
    // <name>.ofx.bundle; throws std::runtime_error.
    Host(const std::string& bundle, HostOptions options = {});
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    const std::vector<PluginEntry>& plugins() const;

    // An instance in `setup`'s context; throws std::runtime_error when the
    // plug-in refuses it.
    std::unique_ptr<Instance> instantiate(const RenderSetup& setup);

    // Handles and images still held, memory still allocated by plug-ins.
    int64_t live_images() const;
    int64_t live_allocations() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

class Instance {
  public:
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // The region-of-definition, interest, frames-needed and identity
    // actions, then the render, of frame `frame` (time = frame). Safe from
    // several threads at once.
    RenderedFrame render(int32_t frame, const RenderFaults& faults = {});
    void begin_sequence();
    void end_sequence();

    struct State;
    explicit Instance(std::unique_ptr<State> state);

  private:
    std::unique_ptr<State> state_;
};

} // namespace pointillo::ofxhost
