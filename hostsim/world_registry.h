#pragma once

// The worlds the host made and handed out, by address: their pixel format
// for PF_GetPixelFormat, and the worlds PF_NewWorld made, kept until
// PF_DisposeWorld.

#include "host/ae_sdk.h"
#include "hostsim/world.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace hostsim {

class WorldRegistry {
  public:
    void add(const PF_EffectWorld* world, PF_PixelFormat format);
    void remove(const PF_EffectWorld* world);
    // Only worlds the host made have a format.
    std::optional<PF_PixelFormat> format(const PF_EffectWorld* world) const;

    // PF_NewWorld: the module's record `target` describes `world`, whose
    // memory the registry keeps until dispose_new(target) (false for a
    // record it did not fill).
    void adopt_new(PF_EffectWorld* target, std::unique_ptr<HostWorld> world);
    bool dispose_new(PF_EffectWorld* target);

  private:
    mutable std::mutex mutex_;
    std::map<const PF_EffectWorld*, PF_PixelFormat> formats_;
    std::map<const PF_EffectWorld*, std::unique_ptr<HostWorld>> new_worlds_;
};

} // namespace hostsim
