#pragma once

// What the module took from the host and has not given back: parameters,
// layer checkouts, AEGP objects, pre-render records, worlds and memory
// blocks, counted by kind and by name.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace hostsim {

// The kinds of host resource a module takes and must give back.
enum class Resource {
    kParam,         // checkout_param without checkin_param
    kLayerPixels,   // checkout_layer_pixels without checkin_layer_pixels
    kStream,        // AEGP stream references not disposed
    kStreamValue,   // AEGP_GetNewStreamValue without AEGP_DisposeStreamValue
    kEffectRef,     // AEGP_GetNewEffectForEffect without AEGP_DisposeEffect
    kPreRenderData, // pre-render data adopted and not yet deleted
    kWorld          // PF_NewWorld without PF_DisposeWorld
};

class ResourceLedger {
  public:
    // Adds `delta` to the resources of `kind` taken under the name `what`
    // (a parameter, a layer checkout, a stream).
    void note(Resource kind, int64_t delta, const std::string& what);
    int64_t outstanding(Resource kind) const;

    // Blocks of the basic suite's allocator not yet freed.
    void note_block(int64_t delta);
    int64_t blocks() const;

    // Pre-render data records the host deleted through their deletion function.
    void note_pre_render_deletion();
    int64_t pre_render_deletions() const;

    // Every resource still out, by kind and name, then the memory blocks:
    // "parameters: 3 Spacing x1; memory blocks: 2; ", or empty.
    std::string report() const;

  private:
    mutable std::mutex mutex_;
    std::map<Resource, std::map<std::string, int64_t>> resources_;
    int64_t blocks_ = 0;
    int64_t pre_render_deletions_ = 0;
};

} // namespace hostsim
