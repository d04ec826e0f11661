#include "hostsim/call_log.h"

namespace hostsim {

void CallLog::add_fault(Fault fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(std::move(fault));
}

void CallLog::fail_call(std::string function, int64_t nth, int32_t code, FaultMode mode) {
    add_fault(Fault{std::move(function), nth, code, mode});
}

void CallLog::fail_any_call(int64_t nth, int32_t code, FaultMode mode) {
    add_fault(Fault{"", nth, code, mode});
}

void CallLog::clear_faults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

std::vector<CallRecord> CallLog::log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

int64_t CallLog::count(std::string_view function) const {
    std::lock_guard lock(mutex_);
    auto it = counts_.find(function);
    return it != counts_.end() ? it->second : 0;
}

int64_t CallLog::total() const {
    std::lock_guard lock(mutex_);
    return total_;
}

void CallLog::clear() {
    std::lock_guard lock(mutex_);
    log_.clear();
    counts_.clear();
    total_ = 0;
}

std::optional<Fault> CallLog::enter(const char* function) {
    std::lock_guard lock(mutex_);
    const int64_t nth_of_function = ++counts_[function];
    const int64_t nth_of_any = ++total_;
    for (const Fault& fault : faults_) {
        if (fault.function.empty() ? fault.nth == nth_of_any
                                   : fault.function == function && fault.nth == nth_of_function) {
            return fault;
        }
    }
    return std::nullopt;
}

void CallLog::leave(const char* function, std::string detail, int32_t result, bool injected) {
    std::lock_guard lock(mutex_);
    log_.push_back(CallRecord{function, std::move(detail), result, injected});
}

} // namespace hostsim
