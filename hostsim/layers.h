#pragma once

// The project's layers: images with a full-resolution size whose worlds the
// host makes once per depth and downsample and hands out, read-only, to every
// checkout of every frame, as the application hands out its cached layers.
// Memory is one padded world per layer, depth and downsample.

#include "host/ae_sdk.h"
#include "hostsim/world.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <utility>

namespace hostsim {

// What a layer's pixels are asked for at: the render's depth and downsample.
struct LayerRequest {
    int32_t depth = 8; // 8, 16 or 32
    PF_RationalScale downsample_x{1, 1};
    PF_RationalScale downsample_y{1, 1};
    int32_t width = 0; // ceil(ref_width x downsample_x): what to produce
    int32_t height = 0;
};

struct Layer {
    int32_t ref_width = 0; // full-resolution size, 1 to 30000 each
    int32_t ref_height = 0;
    // Produces the pixels for a request (premultiplied, at request.depth,
    // request.width x request.height). Called at most once per depth and
    // downsample, possibly on a render thread. Pixels supplied with
    // Layers::supply are used without calling it.
    std::function<LayerPixels(const LayerRequest&)> produce;
};

// A layer whose pixels come from a function of full-resolution positions:
// pixel (x, y) at downsample num/den samples (floor(x x den / num),
// floor(y x den / num)).
Layer pattern_layer(int32_t ref_width, int32_t ref_height,
                    std::function<Argb(int32_t x, int32_t y)> argb);

class Layers {
  public:
    // Adds a layer and returns its id (1, 2, ...): what a layer parameter
    // holds. Sizes outside 1 to 30000 throw std::invalid_argument. A layer
    // without `produce` has only the pixels supplied for it.
    int32_t add(Layer layer);
    // Ready pixels of a layer at a depth and downsample (pixels.depth); their
    // size must be the downsampled size (else std::invalid_argument).
    void supply(int32_t layer_id, PF_RationalScale downsample_x, PF_RationalScale downsample_y,
                LayerPixels pixels);
    // The layer's full-resolution size, or nothing for an unknown id (0 too).
    std::optional<std::pair<int32_t, int32_t>> size(int32_t layer_id) const;
    // Its world for a request (rows kRowPadding bytes longer than the pixels,
    // the padding kUnwrittenByte), made on first use and shared; null for an
    // unknown id or a layer that has no pixels to give. Nobody writes to it.
    std::shared_ptr<const HostWorld> world(int32_t layer_id, const LayerRequest& request);
    // The same pixels packed, a copy made for each call (replay bundles).
    std::shared_ptr<const LayerPixels> pixels(int32_t layer_id, const LayerRequest& request);

  private:
    using Key = std::tuple<int32_t, int32_t, uint32_t, int32_t, uint32_t>;
    struct Entry {
        Layer layer;
        std::mutex mutex; // guards `cache` only, never held while producing
        std::map<Key, std::shared_ptr<const HostWorld>> cache;
    };

    std::shared_ptr<Entry> entry(int32_t layer_id) const;

    mutable std::mutex mutex_; // guards the map, not the entries
    std::map<int32_t, std::shared_ptr<Entry>> layers_;
};

} // namespace hostsim
