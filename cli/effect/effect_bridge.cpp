// The effect behind effect_bridge.h: the real module, loaded into the
// emulated host and driven as the application drives it. A session holds the
// module, the host and one effect instance; a scene is set up on that
// instance (values, keyframes, source layers, a refresh of the controls)
// before its first frame, and every frame is one smart pre-render and smart
// render through hostsim::render_frame.

#include "cli/effect/effect_bridge.h"

#include "hostsim/command.h"
#include "hostsim/frame.h"
#include "hostsim/iterate_pool.h"
#include "hostsim/loaded_effect.h"
#include "hostsim/module.h"
#include "hostsim/replay.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string_view>
#include <utility>

namespace pointillo {

namespace {

constexpr const char* kModuleVariable = "POINTILLO_MODULE";
constexpr const char* kModuleFileName = "Pointillo.so";

int32_t depth_bits(PixelDepth depth) {
    switch (depth) {
    case PixelDepth::k8:
        return 8;
    case PixelDepth::k16:
        return 16;
    case PixelDepth::k32:
        return 32;
    }
    throw std::logic_error("unknown pixel depth");
}

std::optional<ParamKind> kind_of(PF_ParamType type) {
    switch (type) {
    case PF_Param_LAYER:
        return ParamKind::Layer;
    case PF_Param_CHECKBOX:
        return ParamKind::Checkbox;
    case PF_Param_COLOR:
        return ParamKind::Color;
    case PF_Param_POPUP:
        return ParamKind::Popup;
    case PF_Param_FLOAT_SLIDER:
        return ParamKind::Slider;
    case PF_Param_GROUP_START:
        return ParamKind::Group;
    case PF_Param_GROUP_END:
        return ParamKind::GroupEnd;
    case PF_Param_BUTTON:
        return ParamKind::Button;
    default:
        return std::nullopt;
    }
}

std::vector<std::string> split_choices(const char* text) {
    std::vector<std::string> items;
    if (text == nullptr || *text == '\0') {
        return items;
    }
    const std::string_view all(text);
    size_t start = 0;
    for (;;) {
        const size_t bar = all.find('|', start);
        items.emplace_back(all.substr(start, bar - start));
        if (bar == std::string_view::npos) {
            return items;
        }
        start = bar + 1;
    }
}

// A flag constant's bit: the constants are single bits.
constexpr int32_t bit_of(uint32_t flag) {
    int32_t bit = 0;
    while (flag > 1) {
        flag >>= 1;
        ++bit;
    }
    return bit;
}

std::vector<FlagName> out_flag_names() {
    return {{bit_of(PF_OutFlag_WIDE_TIME_INPUT), "WIDE_TIME_INPUT"},
            {bit_of(PF_OutFlag_NON_PARAM_VARY), "NON_PARAM_VARY"},
            {bit_of(PF_OutFlag_DISPLAY_ERROR_MESSAGE), "DISPLAY_ERROR_MESSAGE"},
            {bit_of(PF_OutFlag_FORCE_RERENDER), "FORCE_RERENDER"},
            {bit_of(PF_OutFlag_DEEP_COLOR_AWARE), "DEEP_COLOR_AWARE"},
            {bit_of(PF_OutFlag_SEND_UPDATE_PARAMS_UI), "SEND_UPDATE_PARAMS_UI"}};
}

std::vector<FlagName> out_flag2_names() {
    return {
        {bit_of(PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG), "PARAM_GROUP_START_COLLAPSED_FLAG"},
        {bit_of(PF_OutFlag2_REVEALS_ZERO_ALPHA), "REVEALS_ZERO_ALPHA"},
        {bit_of(PF_OutFlag2_SUPPORTS_SMART_RENDER), "SUPPORTS_SMART_RENDER"},
        {bit_of(PF_OutFlag2_FLOAT_COLOR_AWARE), "FLOAT_COLOR_AWARE"},
        {bit_of(PF_OutFlag2_SUPPORTS_THREADED_RENDERING), "SUPPORTS_THREADED_RENDERING"}};
}

// One registered parameter as the renderer lists it.
EffectParam param_of(const PF_ParamDef& def, int32_t index) {
    const std::optional<ParamKind> kind = kind_of(def.param_type);
    if (!kind) {
        throw std::runtime_error("the effect registered parameter " + std::to_string(index) +
                                 " with type " + std::to_string(def.param_type) +
                                 ", which the renderer does not know");
    }
    EffectParam param;
    param.index = index;
    param.id = def.uu.id;
    param.name = std::string(def.name, strnlen(def.name, sizeof def.name));
    param.kind = *kind;
    param.flags = static_cast<uint32_t>(def.flags);
    param.hidden = (def.ui_flags & PF_PUI_INVISIBLE) != 0;
    switch (*kind) {
    case ParamKind::Slider:
        param.valid_min = static_cast<double>(def.u.fs_d.valid_min);
        param.valid_max = static_cast<double>(def.u.fs_d.valid_max);
        param.slider_min = static_cast<double>(def.u.fs_d.slider_min);
        param.slider_max = static_cast<double>(def.u.fs_d.slider_max);
        param.default_value = static_cast<double>(def.u.fs_d.dephault);
        break;
    case ParamKind::Popup:
        param.valid_min = 1.0;
        param.valid_max = def.u.pd.num_choices;
        param.slider_min = param.valid_min;
        param.slider_max = param.valid_max;
        param.default_value = def.u.pd.dephault;
        param.choices = split_choices(def.u.pd.u.namesptr);
        break;
    case ParamKind::Checkbox:
        param.valid_max = 1.0;
        param.slider_max = 1.0;
        param.default_value = def.u.bd.dephault != 0 ? 1.0 : 0.0;
        break;
    case ParamKind::Color:
        param.default_color =
            Rgb8{def.u.cd.dephault.red, def.u.cd.dephault.green, def.u.cd.dephault.blue};
        break;
    case ParamKind::Button:
        param.choices = split_choices(def.u.button_d.u.namesptr);
        break;
    default:
        break;
    }
    return param;
}

hostsim::ParamValue host_value(const TrackValue& value) {
    hostsim::ParamValue out;
    out.number = value.number;
    out.color = PF_Pixel{255, value.color.red, value.color.green, value.color.blue};
    return out;
}

hostsim::LayerPixels layer_pixels_of(const ArgbImage& image) {
    hostsim::LayerPixels out;
    out.depth = depth_bits(image.depth);
    out.width = image.width;
    out.height = image.height;
    const size_t samples = static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4;
    const void* from = nullptr;
    size_t have = 0;
    size_t sample_bytes = 0;
    switch (image.depth) {
    case PixelDepth::k8:
        from = image.samples8.data();
        have = image.samples8.size();
        sample_bytes = 1;
        break;
    case PixelDepth::k16:
        from = image.samples16.data();
        have = image.samples16.size();
        sample_bytes = 2;
        break;
    case PixelDepth::k32:
        from = image.samples32.data();
        have = image.samples32.size();
        sample_bytes = 4;
        break;
    }
    if (have != samples) {
        throw std::logic_error("a source layer holds " + std::to_string(have) +
                               " samples for its " + std::to_string(image.width) + " x " +
                               std::to_string(image.height) + " pixels");
    }
    // The host's layout is ours: alpha, red, green, blue, in the machine's
    // byte order.
    out.bytes.resize(samples * sample_bytes);
    if (!out.bytes.empty()) {
        std::memcpy(out.bytes.data(), from, out.bytes.size());
    }
    return out;
}

hostsim::FrameCall frame_request(const SceneSetup& scene, int32_t current_time) {
    hostsim::FrameCall request;
    request.time = current_time;
    request.time_step = scene.time_step;
    request.time_scale = static_cast<A_u_long>(std::max(scene.time_scale, 1));
    request.depth = depth_bits(scene.depth);
    request.downsample_x = PF_RationalScale{1, static_cast<A_u_long>(scene.downsample)};
    request.downsample_y = request.downsample_x;
    request.width = scene.width;
    request.height = scene.height;
    return request;
}

std::string effect_message(PF_Err err, const std::string& return_msg) {
    return return_msg.empty() ? "effect error " + std::to_string(err) : return_msg;
}

class Session {
  public:
    // The effect set down and unloaded when the session goes (LoadedEffect).
    explicit Session(const std::string& module_path);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Sets the instance up for the scene unless it already is, and returns a
    // lock that keeps it so while the caller renders.
    std::shared_lock<std::shared_mutex> bind(const SceneSetup& setup, const ScenePixels& pixels);

    // Reports (and forgets) a layer request the scene was not prepared for.
    std::optional<std::string> take_layer_misuse();

    hostsim::LoadedEffect effect;
    hostsim::Module& module = effect.module;
    hostsim::Host& host = effect.host;
    hostsim::Instance& instance = effect.instance;
    EffectInfo info;
    std::vector<EffectParam> params;

  private:
    bool is_bound(const SceneSetup& setup, const ScenePixels& pixels) const;
    void set_up(const SceneSetup& setup, const ScenePixels& pixels);
    void set_default(int32_t index);
    void set_track(const ParamTrack& track);
    int32_t index_named(const std::string& name) const;

    std::shared_mutex scene_mutex_; // shared while frames render, exclusive while setting up
    // What the instance was set up from; the pixels are kept only for a scene
    // built by hand (id 0), which is known by them.
    std::optional<SceneSetup> bound_;
    std::optional<ScenePixels> bound_pixels_;
    int32_t text_count_index_ = 0;
    std::array<int32_t, kSourceSlotCount> source_index_{};

    std::mutex misuse_mutex_;
    std::optional<std::string> layer_misuse_;
};

// The start as the renderer words its failures: the module's own message
// when it left one.
hostsim::LoadedEffect start_effect(const std::string& module_path) {
    try {
        return hostsim::LoadedEffect(module_path);
    } catch (const hostsim::StartError& e) {
        switch (e.step) {
        case hostsim::StartStep::kRegister:
            throw std::runtime_error(e.what());
        case hostsim::StartStep::kGlobalSetup:
            throw std::runtime_error("the effect's global setup failed: " +
                                     effect_message(e.err, e.return_msg));
        case hostsim::StartStep::kParamsSetup:
            throw std::runtime_error("the effect's parameter setup failed: " +
                                     effect_message(e.err, e.return_msg));
        }
        throw;
    }
}

Session::Session(const std::string& module_path) : effect(start_effect(module_path)) {
    const hostsim::Registration& reg = effect.registration;
    info.name = reg.name;
    info.match_name = reg.match_name;
    info.category = reg.category;
    info.entry_point = reg.entry_point;
    info.api_major = reg.api_major;
    info.api_minor = reg.api_minor;
    info.support_url = reg.support_url;
    info.version = static_cast<uint32_t>(effect.global_setup.my_version);
    info.out_flags = static_cast<uint32_t>(effect.global_setup.out_flags);
    info.out_flags2 = static_cast<uint32_t>(effect.global_setup.out_flags2);
    info.out_flag_names = out_flag_names();
    info.out_flag2_names = out_flag2_names();

    for (int32_t index = 1; index < instance.param_count(); ++index) {
        params.push_back(param_of(instance.definition(index), index));
    }
    text_count_index_ = index_named("Text Count");
    for (int32_t slot = 1; slot <= kSourceSlotCount; ++slot) {
        source_index_[static_cast<size_t>(slot - 1)] =
            index_named("Source " + std::to_string(slot));
    }
}

int32_t Session::index_named(const std::string& name) const {
    for (const EffectParam& param : params) {
        if (param.name == name) {
            return param.index;
        }
    }
    throw std::runtime_error("the effect registered no parameter \"" + name + "\"");
}

std::optional<std::string> Session::take_layer_misuse() {
    const std::lock_guard<std::mutex> lock(misuse_mutex_);
    std::optional<std::string> message = std::move(layer_misuse_);
    layer_misuse_.reset();
    return message;
}

void Session::set_default(int32_t index) {
    const PF_ParamDef& def = instance.definition(index);
    switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
        instance.set_value(index, static_cast<double>(def.u.fs_d.dephault));
        break;
    case PF_Param_POPUP:
        instance.set_value(index, def.u.pd.dephault);
        break;
    case PF_Param_CHECKBOX:
        instance.set_value(index, def.u.bd.dephault != 0 ? 1.0 : 0.0);
        break;
    case PF_Param_COLOR:
        instance.set_color(index, def.u.cd.dephault);
        break;
    default:
        break;
    }
}

void Session::set_track(const ParamTrack& track) {
    if (track.index < 1 || track.index >= instance.param_count() ||
        kind_of(instance.definition(track.index).param_type) != track.kind || track.keys.empty()) {
        throw std::logic_error("the scene sets parameter " + std::to_string(track.index) + " (" +
                               track.name + "), which the effect does not have as such");
    }
    if (track.keys.size() == 1) {
        const TrackValue& value = track.keys.front().value;
        if (track.kind == ParamKind::Color) {
            instance.set_color(track.index, host_value(value).color);
        } else {
            instance.set_value(track.index, value.number);
        }
        return;
    }
    std::vector<hostsim::Keyframe> keys;
    keys.reserve(track.keys.size());
    for (const TrackKey& key : track.keys) {
        keys.push_back(hostsim::Keyframe{key.seconds, host_value(key.value)});
    }
    instance.set_keyframes(track.index, std::move(keys));
}

void Session::set_up(const SceneSetup& scene, const ScenePixels& pixels) {
    bound_.reset();
    bound_pixels_.reset();
    if (scene.downsample < 1) {
        throw std::logic_error("a scene with downsample " + std::to_string(scene.downsample));
    }
    const PF_RationalScale downsample{1, static_cast<A_u_long>(scene.downsample)};

    std::vector<bool> from_scene(static_cast<size_t>(instance.param_count()), false);
    for (const ParamTrack& track : scene.params) {
        set_track(track);
        from_scene[static_cast<size_t>(track.index)] = true;
    }
    for (int32_t index = 1; index < instance.param_count(); ++index) {
        if (!from_scene[static_cast<size_t>(index)]) {
            set_default(index);
        }
    }
    instance.set_value(text_count_index_, scene.text_count);

    for (size_t k = 0; k < scene.sources.size(); ++k) {
        const std::optional<SourceLayer>& source = scene.sources[k];
        int32_t layer_id = 0;
        if (source) {
            if (!pixels.layers[k]) {
                throw std::logic_error("source " + std::to_string(k + 1) + " has no pixels");
            }
            const ArgbImage& image = *pixels.layers[k];
            if (image.depth != scene.depth) {
                throw std::logic_error("source " + std::to_string(k + 1) +
                                       " was prepared at another depth than the scene's");
            }
            // The pixels are supplied ready for this depth and downsample; a
            // request for any other would mean the scene was prepared wrong.
            hostsim::Layer layer;
            layer.ref_width = source->width;
            layer.ref_height = source->height;
            layer.produce = [this,
                             k](const hostsim::LayerRequest& request) -> hostsim::LayerPixels {
                const std::string message = "the host asked for source " + std::to_string(k + 1) +
                                            " at depth " + std::to_string(request.depth) +
                                            " and downsample " +
                                            std::to_string(request.downsample_x.num) + "/" +
                                            std::to_string(request.downsample_x.den) +
                                            ", which the scene was not prepared for";
                {
                    const std::lock_guard<std::mutex> lock(misuse_mutex_);
                    layer_misuse_ = message;
                }
                throw std::logic_error(message);
            };
            layer_id = host.layers.add(std::move(layer));
            host.layers.supply(layer_id, downsample, downsample, layer_pixels_of(image));
        }
        instance.set_value(source_index_[k], layer_id);
    }

    // As the application does when the controls are first shown.
    hostsim::CommandIo ui;
    ui.in_data.current_time = 0;
    ui.in_data.time_step = scene.time_step;
    ui.in_data.local_time_step = scene.time_step;
    ui.in_data.time_scale = static_cast<A_u_long>(std::max(scene.time_scale, 1));
    ui.in_data.width = scene.width;
    ui.in_data.height = scene.height;
    ui.in_data.extent_hint = PF_LRect{0, 0, scene.width, scene.height};
    const PF_Err err = hostsim::send_command(host, module, &instance, PF_Cmd_UPDATE_PARAMS_UI, ui);
    if (err != PF_Err_NONE) {
        throw EffectError(effect_message(err, ui.out_data.return_msg));
    }

    bound_ = scene;
    if (scene.id == 0) {
        bound_pixels_ = pixels;
    }
}

bool Session::is_bound(const SceneSetup& setup, const ScenePixels& pixels) const {
    return bound_ == setup && (setup.id != 0 || bound_pixels_ == pixels);
}

std::shared_lock<std::shared_mutex> Session::bind(const SceneSetup& setup,
                                                  const ScenePixels& pixels) {
    for (;;) {
        {
            std::shared_lock<std::shared_mutex> lock(scene_mutex_);
            if (is_bound(setup, pixels)) {
                return lock;
            }
        }
        const std::unique_lock<std::shared_mutex> lock(scene_mutex_);
        if (!is_bound(setup, pixels)) {
            set_up(setup, pixels);
        }
    }
}

} // namespace

std::string effect_module_path() {
    if (const char* path = std::getenv(kModuleVariable); path != nullptr && *path != '\0') {
        return path;
    }
    return (hostsim::program_folder() / kModuleFileName).string();
}

struct EffectSession::Loaded {
    explicit Loaded(const std::string& path) : session(path) {}
    Session session;
};

EffectSession::EffectSession(std::string module_path) : module_path_(std::move(module_path)) {}

EffectSession::~EffectSession() = default;

EffectSession::Loaded& EffectSession::loaded() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (loaded_ == nullptr) {
        try {
            loaded_ = std::make_unique<Loaded>(module_path_);
        } catch (const std::exception& e) {
            throw std::runtime_error("cannot use the effect module " + module_path_ + ": " +
                                     e.what() + " (set " + kModuleVariable +
                                     " to the module's path)");
        }
    }
    return *loaded_;
}

hostsim::Host& EffectSession::host() {
    return loaded().session.host;
}

hostsim::Instance& EffectSession::instance() {
    return loaded().session.instance;
}

std::vector<EffectParam> EffectSession::parameters() {
    return loaded().session.params;
}

EffectInfo EffectSession::info() {
    return loaded().session.info;
}

void EffectSession::render_frame(const PreparedScene& scene, int32_t frame,
                                 const std::atomic<bool>& cancel, FrameImage& image) {
    render_at_time(scene, frame_current_time(frame), cancel, image);
}

ArgbImage EffectSession::render_frame(const PreparedScene& scene, int32_t frame,
                                      const std::atomic<bool>& cancel) {
    return render_at_time(scene, frame_current_time(frame), cancel);
}

void EffectSession::render_at_time(const PreparedScene& scene, int32_t current_time,
                                   const std::atomic<bool>& cancel, FrameImage& image) {
    Session& s = loaded().session;
    hostsim::FrameCall request = frame_request(scene.setup, current_time);
    request.abort = [&cancel](int64_t) -> PF_Err {
        return cancel.load(std::memory_order_relaxed) ? PF_Interrupt_CANCEL : PF_Err_NONE;
    };
    request.output_storage = &image.bytes;
    image.view = ConstPixelView{};
    hostsim::FrameResult result;
    {
        const std::shared_lock<std::shared_mutex> lock = s.bind(scene.setup, scene.pixels);
        result = hostsim::render_frame(s.host, s.module, s.instance, request);
    }
    if (!result.ok()) {
        if (cancel.load()) {
            throw RenderCancelled();
        }
        if (std::optional<std::string> misuse = s.take_layer_misuse()) {
            throw std::logic_error(*misuse);
        }
        const PF_Err err =
            result.pre_render_err != PF_Err_NONE ? result.pre_render_err : result.render_err;
        throw EffectError(effect_message(err, result.return_msg));
    }
    if (!result.output_checked_out ||
        result.output_format != hostsim::pixel_format_of(depth_bits(scene.setup.depth))) {
        throw EffectError("the effect wrote no output at the render's depth");
    }
    image.view.data = image.bytes.data();
    image.view.width = result.output_width;
    image.view.height = result.output_height;
    image.view.rowbytes = result.output_rowbytes;
    image.view.depth = scene.setup.depth;
}

ArgbImage EffectSession::render_at_time(const PreparedScene& scene, int32_t current_time,
                                        const std::atomic<bool>& cancel) {
    FrameImage rendered;
    render_at_time(scene, current_time, cancel, rendered);
    const ConstPixelView& view = rendered.view;
    ArgbImage image = make_argb_image(view.width, view.height, scene.setup.depth);
    const PixelView packed = view_of(image);
    const auto row = static_cast<size_t>(packed.rowbytes);
    std::byte* to = packed.data;
    for (int32_t y = 0; y < view.height; ++y) {
        std::memcpy(to + static_cast<size_t>(y) * row, view.data + y * view.rowbytes, row);
    }
    return image;
}

void EffectSession::hand_over_sources(const SceneSetup& setup, ScenePixels&& pixels) {
    if (setup.id == 0) {
        throw std::logic_error("a scene built by hand is known by its pixels and keeps them");
    }
    const ScenePixels taken = std::move(pixels);
    Session& s = loaded().session;
    const std::shared_lock<std::shared_mutex> lock = s.bind(setup, taken);
}

void EffectSession::set_frame_threads(int32_t threads) {
    hostsim::IteratePool& pool = loaded().session.host.iterate;
    hostsim::IterateSettings settings = pool.settings();
    settings.threads = std::max(threads, int32_t{1});
    pool.set(settings);
}

void EffectSession::export_replay(const PreparedScene& scene, std::span<const int32_t> frames,
                                  const std::filesystem::path& dir) {
    Session& s = loaded().session;
    const std::vector<A_long> numbers(frames.begin(), frames.end());
    const std::shared_lock<std::shared_mutex> lock = s.bind(scene.setup, scene.pixels);
    hostsim::save_replay(dir, s.host, s.instance, frame_request(scene.setup, 0), numbers);
}

} // namespace pointillo
