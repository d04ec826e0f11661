#include "hostsim/resource_ledger.h"

#include <utility>

namespace hostsim {

void ResourceLedger::note(Resource kind, int64_t delta, const std::string& what) {
    std::lock_guard lock(mutex_);
    std::map<std::string, int64_t>& counts = resources_[kind];
    if ((counts[what] += delta) == 0) {
        counts.erase(what);
    }
}

int64_t ResourceLedger::outstanding(Resource kind) const {
    std::lock_guard lock(mutex_);
    auto it = resources_.find(kind);
    int64_t total = 0;
    if (it != resources_.end()) {
        for (const auto& [what, count] : it->second) {
            total += count;
        }
    }
    return total;
}

void ResourceLedger::note_block(int64_t delta) {
    std::lock_guard lock(mutex_);
    blocks_ += delta;
}

int64_t ResourceLedger::blocks() const {
    std::lock_guard lock(mutex_);
    return blocks_;
}

void ResourceLedger::note_pre_render_deletion() {
    std::lock_guard lock(mutex_);
    ++pre_render_deletions_;
}

int64_t ResourceLedger::pre_render_deletions() const {
    std::lock_guard lock(mutex_);
    return pre_render_deletions_;
}

std::string ResourceLedger::report() const {
    static const std::pair<Resource, const char*> kKinds[] = {
        {Resource::kParam, "parameters"},
        {Resource::kLayerPixels, "layer pixels"},
        {Resource::kStream, "streams"},
        {Resource::kStreamValue, "stream values"},
        {Resource::kEffectRef, "effect references"},
        {Resource::kPreRenderData, "pre-render data"},
        {Resource::kWorld, "worlds"}};
    std::string text;
    std::lock_guard lock(mutex_);
    for (const auto& [kind, label] : kKinds) {
        auto it = resources_.find(kind);
        if (it == resources_.end() || it->second.empty()) {
            continue;
        }
        text += std::string(label) + ":";
        for (const auto& [what, count] : it->second) {
            text += " " + what + " x" + std::to_string(count);
        }
        text += "; ";
    }
    if (blocks_ != 0) {
        text += "memory blocks: " + std::to_string(blocks_) + "; ";
    }
    return text;
}

} // namespace hostsim
