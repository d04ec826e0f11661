#include "hostsim/host.h"

#include "hostsim/suites.h"

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
    host.suites.note_call(name, version, true);
    return host.calls.run("AcquireSuite", suite_detail(name, version),
                          [&] { return host.suites.acquire(name, version, suite); });
}

SPErr release_suite(const char* name, int32 version) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return kBadParameter;
    }
    Host& host = *context->host;
    host.suites.note_call(name, version, false);
    return host.calls.run("ReleaseSuite", suite_detail(name, version),
                          [&] { return host.suites.release(name, version); });
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
    return host.calls.run("AllocateBlock", std::to_string(size), [&]() -> SPErr {
        *block = std::malloc(size != 0 ? size : 1);
        if (*block == nullptr) {
            return kOutOfMemory;
        }
        host.ledger.note_block(1);
        return 0;
    });
}

SPErr free_block(void* block) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return kBadParameter;
    }
    Host& host = *context->host;
    return host.calls.run("FreeBlock", "", [&]() -> SPErr {
        if (block != nullptr) {
            std::free(block);
            host.ledger.note_block(-1);
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
    return host.calls.run("ReallocateBlock", std::to_string(new_size), [&]() -> SPErr {
        void* moved = std::realloc(block, new_size != 0 ? new_size : 1);
        if (moved == nullptr) {
            return kOutOfMemory; // the old block stays valid
        }
        if (block == nullptr) {
            host.ledger.note_block(1);
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
    return context->host->calls.run(function, std::move(detail), std::forward<Work>(work));
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
    return host.calls.run("AEGP_RegisterWithAEGP", name != nullptr ? name : "(null)",
                          [&]() -> A_Err {
                              if (name == nullptr || plugin_id == nullptr) {
                                  return PF_Err_BAD_CALLBACK_PARAM;
                              }
                              *plugin_id = host.aegp.plugin_id();
                              host.aegp.note_registration(name);
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
    suites.add(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion6, &g_utility_suite);
    suites.add(kPFWorldSuite, kPFWorldSuiteVersion2, world_suite_table());
    suites.add(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, pf_interface_suite_table());
    suites.add(kAEGPStreamSuite, kAEGPStreamSuiteVersion6, stream_suite_table());
    suites.add(kAEGPEffectSuite, kAEGPEffectSuiteVersion5, effect_suite_table());
    suites.add(kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion4,
               dynamic_stream_suite_table());
    suites.add(kPFIterate8Suite, kPFIterate8SuiteVersion2, iterate_suite_table());
}

SPBasicSuite* Host::basic_suite() {
    return &g_basic_suite;
}

std::string Host::outstanding_report() const {
    std::string text;
    const std::string out = suites.outstanding();
    if (!out.empty()) {
        text += "suites: " + out + "; ";
    }
    text += ledger.report();
    return text.empty() ? "all clean" : text;
}

bool Host::all_clean() const {
    return outstanding_report() == "all clean";
}

} // namespace hostsim
