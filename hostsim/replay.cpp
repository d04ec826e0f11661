#include "hostsim/replay.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

namespace hostsim {
namespace {

// A layer id held in a parameter's number; what cannot be one is 0 (none).
int32_t layer_id_of(double number) {
    if (!(number >= 0.0 && number < 2147483648.0)) {
        return 0;
    }
    return static_cast<int32_t>(number);
}

} // namespace

Replay capture_replay(Host& host, const Instance& instance, const FrameCall& comp,
                      std::vector<A_long> frames) {
    Replay replay;
    replay.width = comp.width;
    replay.height = comp.height;
    replay.time_scale = comp.time_scale;
    replay.time_step = comp.time_step;
    replay.depth = comp.depth;
    replay.downsample_x = comp.downsample_x;
    replay.downsample_y = comp.downsample_y;
    replay.frames = std::move(frames);
    replay.param_count = instance.param_count();

    std::set<int32_t> layer_ids;
    for (int32_t index = 1; index < instance.param_count(); ++index) {
        ReplayParam param;
        param.index = index;
        param.type = instance.definition(index).param_type;
        if (holds_value(param.type)) {
            param.keys = instance.keyframes(index);
            if (param.keys.empty()) {
                param.value = instance.value_at(index, 0, 1);
            }
        }
        if (param.type == PF_Param_LAYER) {
            layer_ids.insert(layer_id_of(param.value.number));
            for (const Keyframe& key : param.keys) {
                layer_ids.insert(layer_id_of(key.value.number));
            }
        }
        replay.params.push_back(std::move(param));
    }

    for (const int32_t id : layer_ids) {
        const auto size = host.layers.size(id);
        if (!size) {
            continue; // 0, or an id without a layer: the effect sees no layer either way
        }
        ReplayLayer layer;
        layer.id = id;
        layer.ref_width = size->first;
        layer.ref_height = size->second;
        const LayerRequest request{replay.depth, replay.downsample_x, replay.downsample_y,
                                   downsampled(size->first, replay.downsample_x),
                                   downsampled(size->second, replay.downsample_y)};
        const std::shared_ptr<const LayerPixels> pixels = host.layers.pixels(id, request);
        if (pixels == nullptr) {
            throw std::runtime_error("layer " + std::to_string(id) + " has no pixels at " +
                                     std::to_string(replay.depth) + " bits and this downsample");
        }
        layer.pixels = *pixels;
        replay.layers.push_back(std::move(layer));
    }
    return replay;
}

void save_replay(const std::filesystem::path& dir, Host& host, const Instance& instance,
                 const FrameCall& comp, std::vector<A_long> frames) {
    save_replay(dir, capture_replay(host, instance, comp, std::move(frames)));
}

void apply_replay(Host& host, Instance& instance, const Replay& replay) {
    if (instance.param_count() != replay.param_count) {
        throw std::runtime_error("the bundle has " + std::to_string(replay.param_count) +
                                 " parameters, the effect registered " +
                                 std::to_string(instance.param_count()));
    }
    for (const ReplayParam& param : replay.params) {
        if (instance.definition(param.index).param_type != param.type) {
            throw std::runtime_error("parameter " + std::to_string(param.index) +
                                     " is of another kind in the bundle than in the effect");
        }
    }

    std::map<int32_t, int32_t> new_ids;
    for (const ReplayLayer& layer : replay.layers) {
        Layer host_layer;
        host_layer.ref_width = layer.ref_width;
        host_layer.ref_height = layer.ref_height;
        const int32_t id = host.layers.add(std::move(host_layer));
        host.layers.supply(id, replay.downsample_x, replay.downsample_y, layer.pixels);
        new_ids[layer.id] = id;
    }
    // Ids the bundle has no layer for were no layer when it was made.
    const auto layer_value = [&new_ids](ParamValue value) {
        const auto found = new_ids.find(layer_id_of(value.number));
        value.number = found != new_ids.end() ? found->second : 0;
        return value;
    };

    for (const ReplayParam& param : replay.params) {
        if (!holds_value(param.type)) {
            continue;
        }
        if (!param.keys.empty()) {
            std::vector<Keyframe> keys = param.keys;
            if (param.type == PF_Param_LAYER) {
                for (Keyframe& key : keys) {
                    key.value = layer_value(key.value);
                }
            }
            instance.set_keyframes(param.index, std::move(keys));
        } else if (param.type == PF_Param_COLOR) {
            instance.set_color(param.index, param.value.color);
        } else if (param.type == PF_Param_LAYER) {
            instance.set_value(param.index, layer_value(param.value).number);
        } else {
            instance.set_value(param.index, param.value.number);
        }
    }
}

FrameCall replay_call(const Replay& replay, A_long frame) {
    const std::optional<A_long> time = frame_time(replay, frame);
    if (!time) {
        throw std::invalid_argument("frame " + std::to_string(frame) +
                                    " is beyond the host's time range");
    }
    FrameCall request;
    request.time = *time;
    request.time_step = replay.time_step;
    request.time_scale = replay.time_scale;
    request.depth = replay.depth;
    request.downsample_x = replay.downsample_x;
    request.downsample_y = replay.downsample_y;
    request.width = replay.width;
    request.height = replay.height;
    return request;
}

} // namespace hostsim
