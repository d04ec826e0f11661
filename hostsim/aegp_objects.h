#pragma once

// The AEGP side of the host: the plug-in id and registrations, and the
// effect references, streams and stream values it hands out.

#include "host/ae_sdk.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace hostsim {

class Instance;

// What an AEGP stream reference points to.
struct StreamTarget {
    Instance* instance = nullptr;
    PF_ParamIndex index = 0;
};

class AegpObjects {
  public:
    // The id AEGP_RegisterWithAEGP hands out.
    void set_plugin_id(AEGP_PluginID id) { plugin_id_.store(id, std::memory_order_relaxed); }
    AEGP_PluginID plugin_id() const { return plugin_id_.load(std::memory_order_relaxed); }
    // Names passed to AEGP_RegisterWithAEGP, in call order.
    void note_registration(std::string name);
    std::vector<std::string> registrations() const;

    // Handles point to cells the host owns, so that a module may read
    // through them without touching freed memory. Each dispose is false for
    // a handle that is not live (or of another kind).
    AEGP_EffectRefH new_effect_ref(Instance* instance);
    Instance* effect_ref_target(AEGP_EffectRefH effect) const; // null unless live
    bool dispose_effect_ref(AEGP_EffectRefH effect);
    AEGP_StreamRefH new_stream(Instance* instance, PF_ParamIndex index);
    std::optional<StreamTarget> stream_target(AEGP_StreamRefH stream) const;
    bool dispose_stream(AEGP_StreamRefH stream);
    // Stream values are counted by the stream they came from.
    void note_stream_value(AEGP_StreamRefH stream);
    bool dispose_stream_value(AEGP_StreamRefH stream);

  private:
    enum class Kind { kEffectRef, kStream };
    struct Object {
        std::unique_ptr<void*> cell;
        Kind kind = Kind::kStream;
        StreamTarget target;
    };

    void* add(Kind kind, StreamTarget target);
    std::optional<StreamTarget> live(const void* handle, Kind kind) const;
    std::optional<StreamTarget> remove(const void* handle, Kind kind);

    std::atomic<AEGP_PluginID> plugin_id_{17};
    mutable std::mutex mutex_;
    std::vector<std::string> registrations_;
    std::map<const void*, Object> objects_;
    std::map<const void*, int64_t> stream_values_;
};

} // namespace hostsim
