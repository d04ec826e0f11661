#include "hostsim/world_registry.h"

#include <cstring>
#include <utility>

namespace hostsim {

void WorldRegistry::add(const PF_EffectWorld* world, PF_PixelFormat format) {
    std::lock_guard lock(mutex_);
    formats_[world] = format;
}

void WorldRegistry::remove(const PF_EffectWorld* world) {
    std::lock_guard lock(mutex_);
    formats_.erase(world);
}

std::optional<PF_PixelFormat> WorldRegistry::format(const PF_EffectWorld* world) const {
    std::lock_guard lock(mutex_);
    auto it = formats_.find(world);
    if (it == formats_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void WorldRegistry::adopt_new(PF_EffectWorld* target, std::unique_ptr<HostWorld> world) {
    *target = world->world;
    const PF_PixelFormat world_format = world->format;
    std::lock_guard lock(mutex_);
    new_worlds_[target] = std::move(world);
    formats_[target] = world_format;
}

bool WorldRegistry::dispose_new(PF_EffectWorld* target) {
    std::unique_ptr<HostWorld> world;
    {
        std::lock_guard lock(mutex_);
        auto it = new_worlds_.find(target);
        if (it == new_worlds_.end()) {
            return false;
        }
        world = std::move(it->second);
        new_worlds_.erase(it);
        formats_.erase(target);
    }
    std::memset(target, 0, sizeof(*target));
    return true;
}

} // namespace hostsim
