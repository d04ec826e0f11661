#include "studio_core.h"

#include "cli/base/errors.h"
#include "cli/run/timing.h"
#include "cli/scene/layer_pixels.h"
#include "common/pixel_rules.h"
#include "common/pixel_view.h"
#include "frame/frame_plan.h"
#include "frame/param_table.h"
#include "frame/settings_read.h"
#include "render/render_frame.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string_view>

namespace pointillo::studio {
namespace {

constexpr uint32_t kStartCollapsed = 0x20; // the registration's "group starts closed" flag

ParamKind kind_of(ParamType type) {
    switch (type) {
    case ParamType::kSlider:
        return ParamKind::Slider;
    case ParamType::kPopup:
        return ParamKind::Popup;
    case ParamType::kCheckbox:
        return ParamKind::Checkbox;
    case ParamType::kColor:
        return ParamKind::Color;
    case ParamType::kButton:
        return ParamKind::Button;
    case ParamType::kLayer:
        return ParamKind::Layer;
    case ParamType::kGroupStart:
        return ParamKind::Group;
    case ParamType::kGroupEnd:
        return ParamKind::GroupEnd;
    }
    return ParamKind::Group;
}

std::vector<std::string> split_choices(const char* text) {
    std::vector<std::string> out;
    if (text == nullptr) {
        return out;
    }
    std::string_view rest(text);
    for (;;) {
        const size_t bar = rest.find('|');
        out.emplace_back(rest.substr(0, bar));
        if (bar == std::string_view::npos) {
            return out;
        }
        rest.remove_prefix(bar + 1);
    }
}

// A row as the module registers it and the emulated host reads it back: the
// float ranges and defaults widened to double, colours starting white.
EffectParam param_of(const ParamSpec& spec) {
    EffectParam p;
    p.index = spec.index;
    p.id = spec.id;
    p.name = spec.type == ParamType::kLayer ? "Source " + std::to_string(spec.slot) : spec.name;
    p.kind = kind_of(spec.type);
    p.hidden = spec.invisible;
    p.flags = spec.start_collapsed ? kStartCollapsed : 0;
    switch (spec.type) {
    case ParamType::kSlider:
        p.valid_min = static_cast<double>(spec.valid_min);
        p.valid_max = static_cast<double>(spec.valid_max);
        p.slider_min = static_cast<double>(spec.slider_min);
        p.slider_max = static_cast<double>(spec.slider_max);
        p.default_value = static_cast<double>(spec.default_value);
        break;
    case ParamType::kPopup:
        p.valid_min = 1.0;
        p.valid_max = spec.num_choices;
        p.slider_min = p.valid_min;
        p.slider_max = p.valid_max;
        p.default_value = static_cast<double>(spec.default_value);
        p.choices = split_choices(spec.text);
        break;
    case ParamType::kCheckbox:
        p.valid_max = 1.0;
        p.slider_max = 1.0;
        p.default_value = spec.default_value != 0.0f ? 1.0 : 0.0;
        break;
    case ParamType::kColor:
        p.default_color = Rgb8{255, 255, 255};
        break;
    case ParamType::kButton:
        p.choices = split_choices(spec.text);
        break;
    default:
        break;
    }
    return p;
}

const char* kind_name(ParamKind kind) {
    switch (kind) {
    case ParamKind::Slider:
        return "slider";
    case ParamKind::Popup:
        return "popup";
    case ParamKind::Checkbox:
        return "checkbox";
    case ParamKind::Color:
        return "color";
    case ParamKind::Layer:
        return "layer";
    case ParamKind::Button:
        return "button";
    case ParamKind::Group:
        return "group";
    case ParamKind::GroupEnd:
        return "group_end";
    }
    return "group";
}

// What the emulated host hands the module for parameter `index` at `time`:
// the scene's track, the registered default, and "Text Count" as the
// renderer sets it.
ParamReading reading_at(const SceneSetup& scene, const EffectParam& param, int32_t time) {
    ParamReading r;
    if (param.id == param_id::kTextCount) {
        r.number = scene.text_count;
        return r;
    }
    TrackValue value;
    if (const ParamTrack* track = find_track(scene, param.index)) {
        value = param_value_at(*track, time, scene.time_scale);
    } else {
        value.number = param.default_value;
        value.color = param.default_color;
    }
    switch (param.kind) {
    case ParamKind::Slider:
        r.number = value.number;
        break;
    case ParamKind::Popup:
    case ParamKind::Checkbox:
        // The host keeps these as whole numbers.
        r.number = static_cast<double>(static_cast<int32_t>(value.number));
        break;
    case ParamKind::Color:
        r.red = value.color.red;
        r.green = value.color.green;
        r.blue = value.color.blue;
        break;
    default:
        break;
    }
    return r;
}

uint8_t over_background_8(uint32_t color, uint32_t alpha, uint32_t background) {
    return static_cast<uint8_t>(
        std::min<uint32_t>(255, color + (background * (255 - alpha) + 127) / 255));
}

} // namespace

const std::vector<EffectParam>& effect_params() {
    static const std::vector<EffectParam> params = [] {
        std::vector<EffectParam> list;
        for (const ParamSpec& spec : kParamTable) {
            list.push_back(param_of(spec));
        }
        return list;
    }();
    return params;
}

std::string params_json() {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const EffectParam& p : effect_params()) {
        nlohmann::ordered_json row;
        row["index"] = p.index;
        row["id"] = p.id;
        row["name"] = p.name;
        row["kind"] = kind_name(p.kind);
        row["valid_min"] = p.valid_min;
        row["valid_max"] = p.valid_max;
        row["slider_min"] = p.slider_min;
        row["slider_max"] = p.slider_max;
        row["default"] = p.default_value;
        row["choices"] = p.choices;
        row["default_color"] = format_hex_color(p.default_color);
        row["hidden"] = p.hidden;
        row["collapsed"] = (p.flags & kStartCollapsed) != 0;
        rows.push_back(std::move(row));
    }
    return rows.dump();
}

std::string scene_json(const Scene& scene) {
    nlohmann::ordered_json out;
    out["comp"] = {{"width", scene.comp.width},
                   {"height", scene.comp.height},
                   {"fps", scene.comp.fps},
                   {"duration", scene.comp.duration},
                   {"time_scale", scene.comp.time_scale},
                   {"frame_count", scene.comp.frame_count}};
    out["downsample"] = scene.downsample;
    out["depth"] = scene.depth == PixelDepth::k8 ? 8 : scene.depth == PixelDepth::k16 ? 16 : 32;
    out["background"] = scene.background
                            ? nlohmann::ordered_json(format_hex_color(*scene.background))
                            : nlohmann::ordered_json(nullptr);
    nlohmann::ordered_json sources = nlohmann::ordered_json::array();
    for (const SourceEntry& entry : scene.sources) {
        if (const auto* text = std::get_if<TextSource>(&entry)) {
            sources.push_back({{"text", text->text},
                               {"font", text->font},
                               {"size", text->size},
                               {"color", format_hex_color(text->color)}});
        } else if (const auto* image = std::get_if<ImageSource>(&entry)) {
            sources.push_back({{"image", image->path}});
        } else {
            sources.push_back(nullptr);
        }
    }
    out["sources"] = std::move(sources);
    return out.dump();
}

void check_memory(const Scene& scene, const std::array<uint64_t, kSourceSlotCount>& image_pixels) {
    // Measured at 64 megapixels: the float canvas, the sampled masks and the
    // 8-bit frame take about 24 bytes an output pixel; a layer 4 bytes a
    // pixel, and the one being handed over 8 more while it is.
    constexpr uint64_t kFrameBytesPerPixel = 24;
    constexpr uint64_t kLayerBytesPerPixel = 4;
    constexpr uint64_t kStagingBytesPerPixel = 8;
    const uint64_t comp =
        static_cast<uint64_t>(scene.comp.width) * static_cast<uint64_t>(scene.comp.height);
    const auto ds = static_cast<uint64_t>(scene.downsample);
    uint64_t bytes = comp / (ds * ds) * kFrameBytesPerPixel;
    uint64_t largest = 0;
    for (size_t i = 0; i < scene.sources.size(); ++i) {
        uint64_t pixels = 0;
        if (std::holds_alternative<TextSource>(scene.sources[i])) {
            pixels = comp;
        } else if (std::holds_alternative<ImageSource>(scene.sources[i])) {
            pixels = image_pixels[i];
        }
        bytes += pixels * kLayerBytesPerPixel;
        largest = std::max(largest, pixels);
    }
    bytes += largest * kStagingBytesPerPixel;
    if (bytes > kMemoryBudget) {
        constexpr uint64_t kMiB = uint64_t{1} << 20;
        throw InputError(scene.file + ": the scene needs about " + std::to_string(bytes / kMiB) +
                         " MiB, more than the studio's WebAssembly memory holds (" +
                         std::to_string(kMemoryBudget / kMiB) +
                         " MiB); make the comp smaller, use fewer or smaller sources, or a "
                         "downsample (the renderer has no such limit)");
    }
}

StudioScene commit_scene(StagedScene staged) {
    std::array<uint64_t, kSourceSlotCount> image_pixels{};
    for (size_t i = 0; i < kSourceSlotCount; ++i) {
        if (staged.layers[i]) {
            image_pixels[i] = static_cast<uint64_t>(staged.layers[i]->width) *
                              static_cast<uint64_t>(staged.layers[i]->height);
        } else if (staged.kept[i]) {
            image_pixels[i] = static_cast<uint64_t>(staged.kept[i]->layer.width) *
                              static_cast<uint64_t>(staged.kept[i]->layer.height);
        }
    }
    check_memory(staged.scene, image_pixels);
    StudioScene out;
    const Scene& scene = staged.scene;
    SceneSetup& prepared = out.prepared.setup;
    ScenePixels& pixels = out.prepared.pixels;
    prepared.width = scene.comp.width;
    prepared.height = scene.comp.height;
    prepared.time_scale = scene.comp.time_scale;
    prepared.time_step = kFrameTimeStep;
    prepared.frame_count = scene.comp.frame_count;
    prepared.downsample = scene.downsample;
    prepared.depth = PixelDepth::k8;
    prepared.text_count = std::max<int32_t>(1, static_cast<int32_t>(scene.sources.size()));
    prepared.params = scene.params;
    for (size_t i = 0; i < scene.sources.size(); ++i) {
        if (std::holds_alternative<std::monostate>(scene.sources[i])) {
            continue;
        }
        if (staged.kept[i]) {
            prepared.sources[i] = staged.kept[i]->layer;
            pixels.layers[i] = std::move(staged.kept[i]->pixels);
            continue;
        }
        const std::optional<StraightImage>& straight = staged.layers[i];
        if (!straight) {
            throw InputError(scene.file + ": " + source_field(i) + ": its layer is missing");
        }
        prepared.sources[i] = SourceLayer{straight->width, straight->height};
        pixels.layers[i] = premultiply_layer(*straight, PixelDepth::k8);
    }
    out.scene = std::move(staged.scene);
    for (const std::string& warning :
         unreached_source_warnings(prepared, effect_params(),
                                   timing_segments(prepared, effect_params()), out.scene.file)) {
        out.warnings.push_back(warning);
    }
    return out;
}

std::string timing_line(const StudioScene& scene) {
    return timing_summary(scene.prepared.setup,
                          timing_segments(scene.prepared.setup, effect_params()));
}

void render_studio_frame(StudioScene& scene, int32_t frame, int32_t preview, StudioFrame& out,
                         const CancelCheck& cancel) {
    const SceneSetup& prepared = scene.prepared.setup;
    const ScenePixels& full_size = scene.prepared.pixels;
    if (frame < 0 || frame >= prepared.frame_count) {
        throw std::out_of_range("frame " + std::to_string(frame) +
                                " is not in the scene: it has frames 0 to " +
                                std::to_string(prepared.frame_count - 1));
    }
    const int32_t downsample = prepared.downsample * std::max(preview, 1);
    if (downsample > 8) {
        throw std::invalid_argument("downsample beyond 8");
    }
    if (downsample != 1 && scene.cached_downsample != downsample) {
        for (size_t k = 0; k < prepared.sources.size(); ++k) {
            scene.downsampled[k].reset();
            if (prepared.sources[k]) {
                scene.downsampled[k] = downsample_layer(*full_size.layers[k], downsample);
            }
        }
        scene.cached_downsample = downsample;
    }
    const auto layer_at = [&](size_t k) -> const ArgbImage& {
        return downsample == 1 ? *full_size.layers[k] : *scene.downsampled[k];
    };

    const std::vector<EffectParam>& params = effect_params();
    const auto read = [&](int32_t index, int32_t time) {
        const auto at = static_cast<size_t>(index - 1);
        return index >= 1 && at < params.size() ? reading_at(prepared, params[at], time)
                                                : ParamReading{};
    };
    PlanRequest request;
    request.time = frame_current_time(frame);
    request.time_scale = static_cast<uint32_t>(std::max(prepared.time_scale, 1));
    request.downsample_x = downsample_factor(1, static_cast<uint32_t>(downsample));
    request.downsample_y = request.downsample_x;
    request.output =
        output_size(request.downsample_x, request.downsample_y, prepared.width, prepared.height);
    std::vector<size_t> active; // slot positions that hold a layer, in slot order
    for (size_t k = 0; k < prepared.sources.size(); ++k) {
        if (prepared.sources[k]) {
            active.push_back(k);
        }
    }
    request.active_count = static_cast<int32_t>(active.size());
    // A source's key is its slot position, as the host's checkout id names the
    // layer it hands over.
    const auto checkout = [&](int32_t position, int32_t) {
        const size_t k = active[static_cast<size_t>(position)];
        const ArgbImage& layer = layer_at(k);
        return SourceRef{static_cast<int32_t>(k), prepared.sources[k]->width,
                         prepared.sources[k]->height, LayerRect{0, 0, layer.width, layer.height}};
    };
    const FramePlan plan = plan_frame(request, PlanHost{read, checkout});
    const auto lend = [&](const SourceRef& source, PixelsUse use) {
        use(view_of(layer_at(static_cast<size_t>(source.key))));
    };
    render_frame(plan, lend, cancel, scene.canvas);

    out.width = plan.output_width;
    out.height = plan.output_height;
    const size_t pixels = static_cast<size_t>(out.width) * static_cast<size_t>(out.height);
    out.rgba.resize(pixels * 4);
    // The canvas as the host's 8-bit output world, premultiplied alpha, red,
    // green, blue, converted in place to what the renderer's PNG file holds.
    convert_canvas(scene.canvas,
                   PixelView{reinterpret_cast<std::byte*>(out.rgba.data()), out.width, out.height,
                             static_cast<std::ptrdiff_t>(out.width) * 4, PixelDepth::k8},
                   cancel);
    const std::optional<Rgb8>& background = scene.scene.background;
    uint8_t* px = out.rgba.data();
    for (size_t p = 0; p < pixels; ++p, px += 4) {
        const uint32_t a = px[0];
        const uint32_t r = px[1];
        const uint32_t g = px[2];
        const uint32_t b = px[3];
        if (background) {
            px[0] = over_background_8(r, a, background->red);
            px[1] = over_background_8(g, a, background->green);
            px[2] = over_background_8(b, a, background->blue);
            px[3] = 255;
        } else {
            px[0] = unpremultiply_8(r, a);
            px[1] = unpremultiply_8(g, a);
            px[2] = unpremultiply_8(b, a);
            px[3] = static_cast<uint8_t>(a);
        }
    }
}

} // namespace pointillo::studio
