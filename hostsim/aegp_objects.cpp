#include "hostsim/aegp_objects.h"

#include <utility>

namespace hostsim {

void AegpObjects::note_registration(std::string name) {
    std::lock_guard lock(mutex_);
    registrations_.push_back(std::move(name));
}

std::vector<std::string> AegpObjects::registrations() const {
    std::lock_guard lock(mutex_);
    return registrations_;
}

void* AegpObjects::add(Kind kind, StreamTarget target) {
    Object object;
    object.cell = std::make_unique<void*>(nullptr);
    object.kind = kind;
    object.target = target;
    void** cell = object.cell.get();
    std::lock_guard lock(mutex_);
    objects_.emplace(cell, std::move(object));
    return cell;
}

std::optional<StreamTarget> AegpObjects::live(const void* handle, Kind kind) const {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end() || it->second.kind != kind) {
        return std::nullopt;
    }
    return it->second.target;
}

std::optional<StreamTarget> AegpObjects::remove(const void* handle, Kind kind) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end() || it->second.kind != kind) {
        return std::nullopt;
    }
    const StreamTarget target = it->second.target;
    objects_.erase(it);
    return target;
}

AEGP_EffectRefH AegpObjects::new_effect_ref(Instance* instance) {
    return reinterpret_cast<AEGP_EffectRefH>(add(Kind::kEffectRef, StreamTarget{instance, 0}));
}

Instance* AegpObjects::effect_ref_target(AEGP_EffectRefH effect) const {
    const std::optional<StreamTarget> target = live(effect, Kind::kEffectRef);
    return target ? target->instance : nullptr;
}

bool AegpObjects::dispose_effect_ref(AEGP_EffectRefH effect) {
    return remove(effect, Kind::kEffectRef).has_value();
}

AEGP_StreamRefH AegpObjects::new_stream(Instance* instance, PF_ParamIndex index) {
    return reinterpret_cast<AEGP_StreamRefH>(add(Kind::kStream, StreamTarget{instance, index}));
}

std::optional<StreamTarget> AegpObjects::stream_target(AEGP_StreamRefH stream) const {
    return live(stream, Kind::kStream);
}

bool AegpObjects::dispose_stream(AEGP_StreamRefH stream) {
    return remove(stream, Kind::kStream).has_value();
}

void AegpObjects::note_stream_value(AEGP_StreamRefH stream) {
    std::lock_guard lock(mutex_);
    ++stream_values_[stream];
}

bool AegpObjects::dispose_stream_value(AEGP_StreamRefH stream) {
    std::lock_guard lock(mutex_);
    auto it = stream_values_.find(stream);
    if (it == stream_values_.end()) {
        return false;
    }
    if (--it->second == 0) {
        stream_values_.erase(it);
    }
    return true;
}

} // namespace hostsim
