#include "hostsim/host.h"

#include <cstdlib>
#include <cstring>

namespace hostsim {
namespace {

thread_local CommandContext* t_current = nullptr;

std::string suite_detail(const char* name, int32_t version) {
    return std::string(name != nullptr ? name : "(null)") + " " + std::to_string(version);
}

// ---- the basic suite ----

SPErr acquire_suite(const char* name, int32 version, const void** suite) {
    CommandContext* context = current_context();
    if (suite != nullptr) {
        *suite = nullptr; // a refusal, injected or not, hands out nothing
    }
    if (context == nullptr) {
        return kBadParameter;
    }
    Host& host = *context->host;
    host.note_suite_call(name, version, true);
    return host.call("AcquireSuite", suite_detail(name, version),
                     [&] { return host.acquire(name, version, suite); });
}

SPErr release_suite(const char* name, int32 version) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return kBadParameter;
    }
    Host& host = *context->host;
    host.note_suite_call(name, version, false);
    return host.call("ReleaseSuite", suite_detail(name, version),
                     [&] { return host.release(name, version); });
}

SPBoolean is_equal(const char* token1, const char* token2) {
    return token1 != nullptr && token2 != nullptr && std::strcmp(token1, token2) == 0;
}

SPErr allocate_block(size_t size, void** block) {
    CommandContext* context = current_context();
    if (context == nullptr || block == nullptr) {
        return kBadParameter;
    }
    *block = nullptr;
    Host& host = *context->host;
    return host.call("AllocateBlock", std::to_string(size), [&]() -> SPErr {
        *block = std::malloc(size != 0 ? size : 1);
        if (*block == nullptr) {
            return kOutOfMemory;
        }
        host.note_block(1);
        return 0;
    });
}

SPErr free_block(void* block) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return kBadParameter;
    }
    Host& host = *context->host;
    return host.call("FreeBlock", "", [&]() -> SPErr {
        if (block != nullptr) {
            std::free(block);
            host.note_block(-1);
        }
        return 0;
    });
}

SPErr reallocate_block(void* block, size_t new_size, void** new_block) {
    CommandContext* context = current_context();
    if (context == nullptr || new_block == nullptr) {
        return kBadParameter;
    }
    Host& host = *context->host;
    return host.call("ReallocateBlock", std::to_string(new_size), [&]() -> SPErr {
        void* moved = std::realloc(block, new_size != 0 ? new_size : 1);
        if (moved == nullptr) {
            return kOutOfMemory; // the old block stays valid
        }
        if (block == nullptr) {
            host.note_block(1);
        }
        *new_block = moved;
        return 0;
    });
}

SPErr undefined() {
    return kBadParameter;
}

SPBasicSuite g_basic_suite = {acquire_suite, release_suite,    is_equal, allocate_block,
                              free_block,    reallocate_block, undefined};

// ---- "AEGP Utility Suite" version 13 ----

template <typename Work> A_Err utility_call(const char* function, std::string detail, Work&& work) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    return context->host->call(function, std::move(detail), std::forward<Work>(work));
}

A_Err report_info(AEGP_PluginID /*id*/, const A_char* info) {
    return utility_call("AEGP_ReportInfo", info != nullptr ? info : "", [] { return 0; });
}

A_Err report_info_unicode(AEGP_PluginID /*id*/, const A_UTF16Char* /*info*/) {
    return utility_call("AEGP_ReportInfoUnicode", "", [] { return 0; });
}

A_Err get_init_func_version(A_short* major, A_short* minor) {
    return utility_call("AEGP_GetDriverPluginInitFuncVersion", "", [&]() -> A_Err {
        if (major == nullptr || minor == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *major = PF_AE_PLUG_IN_VERSION;
        *minor = PF_AE_PLUG_IN_SUBVERS;
        return 0;
    });
}

A_Err get_implementation_version(A_short* major, A_short* minor) {
    return utility_call("AEGP_GetDriverImplementationVersion", "", [&]() -> A_Err {
        if (major == nullptr || minor == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *major = PF_AE_PLUG_IN_VERSION;
        *minor = PF_AE_PLUG_IN_SUBVERS;
        return 0;
    });
}

A_Err start_quiet_errors(AEGP_ErrReportState* /*state*/) {
    return utility_call("AEGP_StartQuietErrors", "", [] { return 0; });
}

A_Err end_quiet_errors(A_Boolean /*report*/, AEGP_ErrReportState* /*state*/) {
    return utility_call("AEGP_EndQuietErrors", "", [] { return 0; });
}

A_Err get_last_error_message(A_long size, A_char* text, A_Err* error) {
    return utility_call("AEGP_GetLastErrorMessage", "", [&]() -> A_Err {
        if (text != nullptr && size > 0) {
            text[0] = '\0';
        }
        if (error != nullptr) {
            *error = 0;
        }
        return 0;
    });
}

A_Err start_undo_group(const A_char* name) {
    return utility_call("AEGP_StartUndoGroup", name != nullptr ? name : "", [] { return 0; });
}

A_Err end_undo_group() {
    return utility_call("AEGP_EndUndoGroup", "", [] { return 0; });
}

A_Err register_with_aegp(AEGP_GlobalRefcon /*refcon*/, const A_char* name,
                         AEGP_PluginID* plugin_id) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    return host.call("AEGP_RegisterWithAEGP", name != nullptr ? name : "(null)", [&]() -> A_Err {
        if (name == nullptr || plugin_id == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *plugin_id = host.plugin_id();
        host.note_registration(name);
        return 0;
    });
}

const AEGP_UtilitySuite6 g_utility_suite = {
    report_info,        report_info_unicode, get_init_func_version,  get_implementation_version,
    start_quiet_errors, end_quiet_errors,    get_last_error_message, start_undo_group,
    end_undo_group,     register_with_aegp};

} // namespace

CommandContext* current_context() {
    return t_current;
}

CommandContext* context_from(PF_ProgPtr effect_ref) {
    CommandContext* context = t_current;
    return context != nullptr && reinterpret_cast<PF_ProgPtr>(context) == effect_ref ? context
                                                                                     : nullptr;
}

CommandScope::CommandScope(Host& host, Instance* instance, PF_Cmd cmd) : outer_(t_current) {
    context_.host = &host;
    context_.instance = instance;
    context_.cmd = cmd;
    t_current = &context_;
}

CommandScope::~CommandScope() {
    t_current = outer_;
}

Host::Host() {
    add_suite(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion6, &g_utility_suite);
}

SPBasicSuite* Host::basic_suite() {
    return &g_basic_suite;
}

void Host::add_suite(const std::string& name, int32_t version, const void* table) {
    std::lock_guard lock(mutex_);
    suites_[SuiteKey{name, version}].table = table;
}

void Host::withhold_suite(const std::string& name, int32_t version, bool withheld) {
    std::lock_guard lock(mutex_);
    suites_[SuiteKey{name, version}].withheld = withheld;
}

SuiteCounts Host::suite_counts(const std::string& name, int32_t version) const {
    std::lock_guard lock(mutex_);
    auto it = suites_.find(SuiteKey{name, version});
    return it != suites_.end() ? it->second.counts : SuiteCounts{};
}

bool Host::all_suites_released() const {
    std::lock_guard lock(mutex_);
    for (const auto& [key, entry] : suites_) {
        if (entry.counts.outstanding() != 0) {
            return false;
        }
    }
    return true;
}

std::string Host::outstanding_suites() const {
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

void Host::add_fault(Fault fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(std::move(fault));
}

void Host::fail_call(std::string function, int64_t nth, int32_t code, FaultMode mode) {
    add_fault(Fault{std::move(function), nth, code, mode});
}

void Host::fail_any_call(int64_t nth, int32_t code, FaultMode mode) {
    add_fault(Fault{"", nth, code, mode});
}

void Host::clear_faults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

std::vector<CallRecord> Host::call_log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

int64_t Host::call_count(std::string_view function) const {
    std::lock_guard lock(mutex_);
    auto it = counts_.find(function);
    return it != counts_.end() ? it->second : 0;
}

int64_t Host::total_calls() const {
    std::lock_guard lock(mutex_);
    return total_calls_;
}

void Host::clear_log() {
    std::lock_guard lock(mutex_);
    log_.clear();
    counts_.clear();
    total_calls_ = 0;
}

std::vector<std::string> Host::aegp_registrations() const {
    std::lock_guard lock(mutex_);
    return registrations_;
}

int64_t Host::blocks_outstanding() const {
    std::lock_guard lock(mutex_);
    return blocks_;
}

SPErr Host::acquire(const char* name, int32_t version, const void** suite) {
    if (name == nullptr || suite == nullptr) {
        return kBadParameter;
    }
    std::lock_guard lock(mutex_);
    SuiteEntry& entry = suites_[SuiteKey{name, version}];
    if (entry.table == nullptr || entry.withheld) {
        return kSuiteNotFound;
    }
    ++entry.counts.acquired;
    *suite = entry.table;
    return 0;
}

SPErr Host::release(const char* name, int32_t version) {
    if (name == nullptr) {
        return kBadParameter;
    }
    std::lock_guard lock(mutex_);
    SuiteEntry& entry = suites_[SuiteKey{name, version}];
    if (entry.counts.outstanding() <= 0) {
        return kBadParameter; // released more often than acquired
    }
    ++entry.counts.released;
    return 0;
}

void Host::note_suite_call(const char* name, int32_t version, bool acquire) {
    if (name == nullptr) {
        return;
    }
    std::lock_guard lock(mutex_);
    SuiteCounts& counts = suites_[SuiteKey{name, version}].counts;
    ++(acquire ? counts.acquire_calls : counts.release_calls);
}

void Host::note_block(int64_t delta) {
    std::lock_guard lock(mutex_);
    blocks_ += delta;
}

void Host::note_registration(std::string name) {
    std::lock_guard lock(mutex_);
    registrations_.push_back(std::move(name));
}

std::optional<Fault> Host::enter(const char* function) {
    std::lock_guard lock(mutex_);
    const int64_t nth_of_function = ++counts_[function];
    const int64_t nth_of_any = ++total_calls_;
    for (const Fault& fault : faults_) {
        if (fault.function.empty() ? fault.nth == nth_of_any
                                   : fault.function == function && fault.nth == nth_of_function) {
            return fault;
        }
    }
    return std::nullopt;
}

void Host::leave(const char* function, std::string detail, int32_t result, bool injected) {
    std::lock_guard lock(mutex_);
    log_.push_back(CallRecord{function, std::move(detail), result, injected});
}

} // namespace hostsim
