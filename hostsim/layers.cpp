#include "hostsim/layers.h"

#include <stdexcept>
#include <string>

namespace hostsim {
namespace {

constexpr int32_t kLargestLayerSide = 30000;

std::tuple<int32_t, int32_t, uint32_t, int32_t, uint32_t> key_of(int32_t depth, PF_RationalScale x,
                                                                 PF_RationalScale y) {
    return {depth, x.num, x.den, y.num, y.den};
}

} // namespace

Layer pattern_layer(int32_t ref_width, int32_t ref_height,
                    std::function<Argb(int32_t x, int32_t y)> argb) {
    Layer layer;
    layer.ref_width = ref_width;
    layer.ref_height = ref_height;
    layer.produce = [argb = std::move(argb)](const LayerRequest& request) {
        const auto full = [](int32_t at, PF_RationalScale scale) {
            return scale.num > 0
                       ? static_cast<int32_t>(static_cast<int64_t>(at) * scale.den / scale.num)
                       : at;
        };
        return make_layer_pixels(
            request.depth, request.width, request.height, [&](int32_t x, int32_t y) {
                return argb(full(x, request.downsample_x), full(y, request.downsample_y));
            });
    };
    return layer;
}

int32_t Layers::add(Layer layer) {
    if (layer.ref_width < 1 || layer.ref_height < 1 || layer.ref_width > kLargestLayerSide ||
        layer.ref_height > kLargestLayerSide) {
        throw std::invalid_argument("layer size " + std::to_string(layer.ref_width) + " x " +
                                    std::to_string(layer.ref_height) +
                                    " is outside 1 to 30000 a side");
    }
    auto added = std::make_shared<Entry>();
    added->layer = std::move(layer);
    std::lock_guard lock(mutex_);
    const int32_t id = layers_.empty() ? 1 : layers_.rbegin()->first + 1;
    layers_.emplace(id, std::move(added));
    return id;
}

std::shared_ptr<Layers::Entry> Layers::entry(int32_t layer_id) const {
    std::lock_guard lock(mutex_);
    auto it = layers_.find(layer_id);
    return it != layers_.end() ? it->second : nullptr;
}

void Layers::supply(int32_t layer_id, PF_RationalScale downsample_x, PF_RationalScale downsample_y,
                    LayerPixels pixels) {
    const std::shared_ptr<Entry> found = entry(layer_id);
    if (found == nullptr) {
        throw std::out_of_range("no layer " + std::to_string(layer_id));
    }
    if (pixels.width != downsampled(found->layer.ref_width, downsample_x) ||
        pixels.height != downsampled(found->layer.ref_height, downsample_y)) {
        throw std::invalid_argument("supplied pixels are not the layer's downsampled size");
    }
    const Key key = key_of(pixels.depth, downsample_x, downsample_y);
    std::shared_ptr<const HostWorld> shared = world_of(pixels);
    pixels = LayerPixels{}; // only the world is kept
    std::lock_guard lock(found->mutex);
    found->cache[key] = std::move(shared);
}

std::optional<std::pair<int32_t, int32_t>> Layers::size(int32_t layer_id) const {
    const std::shared_ptr<Entry> found = entry(layer_id);
    if (found == nullptr) {
        return std::nullopt;
    }
    return std::pair{found->layer.ref_width, found->layer.ref_height};
}

std::shared_ptr<const HostWorld> Layers::world(int32_t layer_id, const LayerRequest& request) {
    const std::shared_ptr<Entry> found = entry(layer_id);
    if (found == nullptr) {
        return nullptr;
    }
    const Key key = key_of(request.depth, request.downsample_x, request.downsample_y);
    {
        std::lock_guard lock(found->mutex);
        auto it = found->cache.find(key);
        if (it != found->cache.end()) {
            return it->second;
        }
    }
    if (!found->layer.produce) {
        return nullptr;
    }
    // Produced outside the lock: two threads may both produce, the first kept.
    std::shared_ptr<const HostWorld> produced = world_of(found->layer.produce(request));
    std::lock_guard lock(found->mutex);
    return found->cache.emplace(key, std::move(produced)).first->second;
}

std::shared_ptr<const LayerPixels> Layers::pixels(int32_t layer_id, const LayerRequest& request) {
    const std::shared_ptr<const HostWorld> made = world(layer_id, request);
    if (made == nullptr) {
        return nullptr;
    }
    return std::make_shared<const LayerPixels>(pixels_of(*made));
}

} // namespace hostsim
