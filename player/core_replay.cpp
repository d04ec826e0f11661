#include "player/core_replay.h"

#include "common/cancel.h"
#include "common/host_time.h"
#include "common/keyframes.h"
#include "common/pixel_view.h"
#include "draw/canvas.h"
#include "frame/frame_plan.h"
#include "frame/param_table.h"
#include "frame/settings_read.h"
#include "render/render_frame.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <span>
#include <stdexcept>

namespace pointillo::player {
namespace {

// The bundle's kind of each of the core's parameter types.
PF_ParamType bundle_kind_of(ParamType type) {
    switch (type) {
    case ParamType::kGroupStart:
        return PF_Param_GROUP_START;
    case ParamType::kGroupEnd:
        return PF_Param_GROUP_END;
    case ParamType::kSlider:
        return PF_Param_FLOAT_SLIDER;
    case ParamType::kPopup:
        return PF_Param_POPUP;
    case ParamType::kCheckbox:
        return PF_Param_CHECKBOX;
    case ParamType::kColor:
        return PF_Param_COLOR;
    case ParamType::kButton:
        return PF_Param_BUTTON;
    case ParamType::kLayer:
        break;
    }
    return PF_Param_LAYER;
}

// The host keeps popups and checkboxes as whole numbers: NaN is 0, and
// anything beyond the int range saturates.
double whole(double number) {
    if (!(number == number)) {
        return 0.0;
    }
    if (number >= 2147483647.0) {
        return 2147483647.0;
    }
    if (number <= -2147483648.0) {
        return -2147483648.0;
    }
    return static_cast<double>(static_cast<int32_t>(number));
}

// A layer id held in a parameter's number; what cannot be one is 0 (none).
int32_t layer_id_of(double number) {
    if (!(number >= 0.0 && number < 2147483648.0)) {
        return 0;
    }
    return static_cast<int32_t>(number);
}

PixelDepth pixel_depth_of(int32_t depth) {
    return depth == 32 ? PixelDepth::k32 : (depth == 16 ? PixelDepth::k16 : PixelDepth::k8);
}

// What the emulated host hands the module for one frame, from the bundle.
class BundleHost {
  public:
    explicit BundleHost(const hostsim::Replay& replay) : replay_(replay) {}

    // A parameter's value at `time` as the host keeps it: a float slider
    // interpolates between its keys, every other kind holds each key's value.
    hostsim::ParamValue value_at(int32_t index, int32_t time) const {
        const hostsim::ReplayParam& param = replay_.params.at(static_cast<std::size_t>(index - 1));
        if (param.keys.empty()) {
            return param.value;
        }
        return pointillo::value_at(
            std::span<const hostsim::Keyframe>(param.keys), host_seconds(time, replay_.time_scale),
            param.type == PF_Param_FLOAT_SLIDER ? Tween::kLinear : Tween::kHold);
    }

    // The reading the module makes of a checked-out parameter.
    ParamReading read(int32_t index, int32_t time) const {
        const ParamSpec* spec = param_at(index);
        if (spec == nullptr) {
            throw std::out_of_range("parameter " + std::to_string(index) + " does not exist");
        }
        const hostsim::ParamValue value = value_at(index, time);
        ParamReading reading;
        switch (spec->type) {
        case ParamType::kSlider:
            reading.number = value.number;
            break;
        case ParamType::kPopup:
        case ParamType::kCheckbox:
            reading.number = whole(value.number);
            break;
        case ParamType::kColor:
            reading.red = value.color.red;
            reading.green = value.color.green;
            reading.blue = value.color.blue;
            break;
        case ParamType::kGroupStart:
        case ParamType::kGroupEnd:
        case ParamType::kButton:
        case ParamType::kLayer:
            break;
        }
        return reading;
    }

    // The layer the layer parameter at `index` holds at `time`, or null.
    const hostsim::ReplayLayer* layer_at(int32_t index, int32_t time) const {
        return layer(layer_id_of(value_at(index, time).number));
    }

    const hostsim::ReplayLayer* layer(int32_t id) const {
        const auto found = std::lower_bound(
            replay_.layers.begin(), replay_.layers.end(), id,
            [](const hostsim::ReplayLayer& layer, int32_t key) { return layer.id < key; });
        return found != replay_.layers.end() && found->id == id ? &*found : nullptr;
    }

    // The whole layer handed over, its id the key; a slot without a layer
    // at that time hands over nothing.
    SourceRef checkout(int32_t index, int32_t time) const {
        const hostsim::ReplayLayer* held = layer_at(index, time);
        if (held == nullptr) {
            return SourceRef{};
        }
        return SourceRef{held->id,
                         held->ref_width,
                         held->ref_height,
                         {0, 0, held->pixels.width, held->pixels.height}};
    }

    void lend(const SourceRef& source, PixelsUse use) const {
        const hostsim::ReplayLayer* held = layer(source.key);
        if (held == nullptr) {
            use(ConstPixelView{});
            return;
        }
        const hostsim::LayerPixels& pixels = held->pixels;
        const PixelDepth depth = pixel_depth_of(pixels.depth);
        use(ConstPixelView{pixels.bytes.data(), pixels.width, pixels.height,
                           static_cast<std::ptrdiff_t>(pixels.width) * bytes_per_pixel(depth),
                           depth});
    }

  private:
    const hostsim::Replay& replay_;
};

} // namespace

PlayerLimits player_limits() {
    PlayerLimits limits;
    if constexpr (sizeof(std::size_t) < 8) {
        // The canvas (16 bytes a pixel), the output and two sources' masks
        // at up to 16 bytes a pixel each, beside the bundle's layers.
        limits.output_pixels = uint64_t{16} << 20;
        limits.layer_bytes = uint64_t{1} << 30;
    }
    return limits;
}

std::string beyond_limits(const hostsim::Replay& replay, const PlayerLimits& limits) {
    uint64_t layer_bytes = 0;
    for (const hostsim::ReplayLayer& layer : replay.layers) {
        layer_bytes += layer.pixels.bytes.size();
    }
    if (limits.layer_bytes != 0 && layer_bytes > limits.layer_bytes) {
        return "the bundle's layers take " + std::to_string(layer_bytes >> 20) +
               " MiB; this build holds at most " + std::to_string(limits.layer_bytes >> 20) +
               " MiB of layers";
    }
    if (limits.output_pixels != 0) {
        const float dx = downsample_factor(replay.downsample_x.num, replay.downsample_x.den);
        const float dy = downsample_factor(replay.downsample_y.num, replay.downsample_y.den);
        // Beyond the core's own limit every frame fails as it does natively.
        try {
            const OutputSize size = output_size(dx, dy, replay.width, replay.height);
            const uint64_t pixels =
                static_cast<uint64_t>(size.width) * static_cast<uint64_t>(size.height);
            if (pixels > limits.output_pixels) {
                return "the output is " + std::to_string(size.width) + " x " +
                       std::to_string(size.height) + " pixels; this build renders at most " +
                       std::to_string(limits.output_pixels >> 20) + " megapixels a frame";
            }
        } catch (const std::runtime_error&) {
        }
    }
    return "";
}

void check_params(const hostsim::Replay& replay) {
    if (replay.param_count != kParamCount) {
        throw std::runtime_error("the bundle has " + std::to_string(replay.param_count) +
                                 " parameters, the effect has " + std::to_string(kParamCount));
    }
    for (const hostsim::ReplayParam& param : replay.params) {
        const ParamSpec* spec = param_at(param.index);
        if (spec == nullptr || bundle_kind_of(spec->type) != param.type) {
            throw std::runtime_error("parameter " + std::to_string(param.index) +
                                     " is of another kind in the bundle than in the effect");
        }
    }
}

PlayedFrame play_frame(const hostsim::Replay& replay, A_long frame) {
    const std::optional<A_long> time = hostsim::frame_time(replay, frame);
    if (!time) {
        throw std::invalid_argument("frame " + std::to_string(frame) +
                                    " is beyond the host's time range");
    }
    const BundleHost host(replay);
    const auto read = [&host](int32_t index, int32_t at) { return host.read(index, at); };
    const Settings settings = read_settings(read, *time);

    PlanRequest request;
    request.time = *time;
    request.time_scale = replay.time_scale;
    request.downsample_x = downsample_factor(replay.downsample_x.num, replay.downsample_x.den);
    request.downsample_y = downsample_factor(replay.downsample_y.num, replay.downsample_y.den);
    request.output =
        output_size(request.downsample_x, request.downsample_y, replay.width, replay.height);

    std::vector<int32_t> active; // parameter indices of the slots that hold a layer
    for (int32_t slot = 1; slot <= kSourceSlotCount; ++slot) {
        const int32_t index = param_index_of(source_slot_id(slot));
        if (host.layer_at(index, *time) != nullptr) {
            active.push_back(index);
        }
    }
    request.active_count = static_cast<int32_t>(active.size());
    const auto checkout = [&](int32_t position, int32_t at) {
        return host.checkout(active.at(static_cast<std::size_t>(position)), at);
    };
    const FramePlan plan = plan_frame(settings, request, PlanHost{read, checkout});

    Canvas canvas;
    const auto sources = [&host](const SourceRef& source, PixelsUse use) {
        host.lend(source, use);
    };
    render_frame(plan, sources, CancelCheck{}, canvas);

    PlayedFrame played;
    played.width = plan.output_width;
    played.height = plan.output_height;
    played.depth = replay.depth;
    const PixelDepth depth = pixel_depth_of(replay.depth);
    const uint64_t bytes = static_cast<uint64_t>(played.width) *
                           static_cast<uint64_t>(played.height) *
                           static_cast<uint64_t>(bytes_per_pixel(depth));
    if (bytes > std::numeric_limits<std::size_t>::max()) {
        throw std::length_error("the output does not fit this build's memory");
    }
    played.bytes.assign(static_cast<std::size_t>(bytes), std::byte{0});
    convert_canvas(canvas,
                   PixelView{played.bytes.data(), played.width, played.height,
                             static_cast<std::ptrdiff_t>(played.width) * bytes_per_pixel(depth),
                             depth},
                   CancelCheck{});
    return played;
}

} // namespace pointillo::player
