#include "hostsim/suite_registry.h"

namespace hostsim {

void SuiteRegistry::add(const std::string& name, int32_t version, const void* table) {
    std::lock_guard lock(mutex_);
    suites_[Key{name, version}].table = table;
}

void SuiteRegistry::withhold(const std::string& name, int32_t version, bool withheld) {
    std::lock_guard lock(mutex_);
    suites_[Key{name, version}].withheld = withheld;
}

SuiteCounts SuiteRegistry::counts(const std::string& name, int32_t version) const {
    std::lock_guard lock(mutex_);
    auto it = suites_.find(Key{name, version});
    return it != suites_.end() ? it->second.counts : SuiteCounts{};
}

bool SuiteRegistry::all_released() const {
    std::lock_guard lock(mutex_);
    for (const auto& [key, entry] : suites_) {
        if (entry.counts.outstanding() != 0) {
            return false;
        }
    }
    return true;
}

std::string SuiteRegistry::outstanding() const {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& [key, entry] : suites_) {
        if (entry.counts.outstanding() != 0) {
            text += key.first + " " + std::to_string(key.second) + " (" +
                    std::to_string(entry.counts.outstanding()) + " out) ";
        }
    }
    return text;
}

SPErr SuiteRegistry::acquire(const char* name, int32_t version, const void** suite) {
    if (name == nullptr || suite == nullptr) {
        return kBadParameter;
    }
    std::lock_guard lock(mutex_);
    Entry& entry = suites_[Key{name, version}];
    if (entry.table == nullptr || entry.withheld) {
        return kSuiteNotFound;
    }
    ++entry.counts.acquired;
    *suite = entry.table;
    return 0;
}

SPErr SuiteRegistry::release(const char* name, int32_t version) {
    if (name == nullptr) {
        return kBadParameter;
    }
    std::lock_guard lock(mutex_);
    Entry& entry = suites_[Key{name, version}];
    if (entry.counts.outstanding() <= 0) {
        return kBadParameter; // released more often than acquired
    }
    ++entry.counts.released;
    return 0;
}

void SuiteRegistry::note_call(const char* name, int32_t version, bool acquire) {
    if (name == nullptr) {
        return;
    }
    std::lock_guard lock(mutex_);
    SuiteCounts& counts = suites_[Key{name, version}].counts;
    ++(acquire ? counts.acquire_calls : counts.release_calls);
}

} // namespace hostsim
