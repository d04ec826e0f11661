#pragma once

// The emulated host: its suites, what it counts and logs, and the failures it
// can be told to produce.
//
// Host functions are plain C functions in static suite tables, like the real
// host's. They find their Host through the command they belong to: calls that
// carry an `effect_ref` get it from there (it points to the command's
// CommandContext); calls that carry none (the basic suite, most AEGP calls)
// use the context of the command running on the calling thread. Host
// functions never throw; they return codes.

#include "host/ae_sdk.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hostsim {

class Host;
class Instance;

// Codes of the basic suite (SPErr), as four characters.
inline constexpr SPErr kSuiteNotFound = 0x53214664; // 'S!Fd'
inline constexpr SPErr kBadParameter = 0x50617221;  // 'Par!'
inline constexpr SPErr kOutOfMemory = 0x214d454d;   // '!MEM'

// What the host saw of one suite name and version.
struct SuiteCounts {
    int64_t acquire_calls = 0; // every AcquireSuite call
    int64_t acquired = 0;      // calls that handed the suite out
    int64_t release_calls = 0; // every ReleaseSuite call
    int64_t released = 0;      // releases of a suite that was out

    int64_t outstanding() const { return acquired - released; }
};

// One call of a host function, in call order.
struct CallRecord {
    std::string function;  // the SDK's name: "AcquireSuite", "add_param", ...
    std::string detail;    // the arguments worth reading (suite, parameter name)
    int32_t result = 0;    // what the host returned
    bool injected = false; // the result came from a fault
};

enum class FaultMode {
    kInstead, // return the code without doing the work
    kAfter    // do the work, then return the code anyway
};

// Makes one call fail: the `nth` (1-based) call of `function`, or of any host
// function when `function` is empty, returns `code`.
struct Fault {
    std::string function;
    int64_t nth = 1;
    int32_t code = PF_Err_INTERNAL_STRUCT_DAMAGED;
    FaultMode mode = FaultMode::kInstead;
};

// One command in flight: what `effect_ref` points to.
struct CommandContext {
    Host* host = nullptr;
    Instance* instance = nullptr; // null for commands without an effect instance
    PF_Cmd cmd = -1;
    int64_t param_checkouts = 0; // parameters checked out and not yet checked in
};

// The context of the command running on this thread, or null.
CommandContext* current_context();

// The context `effect_ref` points to. Only the calling thread's running
// command is accepted; anything else gives null.
CommandContext* context_from(PF_ProgPtr effect_ref);

// Makes a command context current on this thread for its lifetime (nested
// scopes restore the outer one). send_command opens one; tests that call
// suites directly open their own.
class CommandScope {
  public:
    CommandScope(Host& host, Instance* instance, PF_Cmd cmd);
    ~CommandScope();
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

    CommandContext& context() { return context_; }
    PF_ProgPtr effect_ref() { return reinterpret_cast<PF_ProgPtr>(&context_); }

  private:
    CommandContext context_;
    CommandContext* outer_ = nullptr;
};

class Host {
  public:
    // A host offering the basic suite and "AEGP Utility Suite" version 13.
    Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // What PF_InData::pica_basicP points to.
    SPBasicSuite* basic_suite();

    // ---- suites ----
    // Offers a suite table (a struct of function pointers that outlives the
    // host). A withheld or unknown suite is refused with kSuiteNotFound.
    void add_suite(const std::string& name, int32_t version, const void* table);
    void withhold_suite(const std::string& name, int32_t version, bool withheld = true);
    SuiteCounts suite_counts(const std::string& name, int32_t version) const;
    // True when every suite handed out was released.
    bool all_suites_released() const;
    // Suite name and version of every suite still out, for failure messages.
    std::string outstanding_suites() const;

    // ---- faults ----
    void add_fault(Fault fault);
    void fail_call(std::string function, int64_t nth, int32_t code,
                   FaultMode mode = FaultMode::kInstead);
    void fail_any_call(int64_t nth, int32_t code, FaultMode mode = FaultMode::kInstead);
    void clear_faults();

    // ---- call log and counts ----
    std::vector<CallRecord> call_log() const;
    int64_t call_count(std::string_view function) const;
    int64_t total_calls() const; // calls of all host functions
    void clear_log();            // also restarts the call counts that faults use

    // ---- AEGP ----
    // The id AEGP_RegisterWithAEGP hands out.
    void set_plugin_id(AEGP_PluginID id) { plugin_id_.store(id, std::memory_order_relaxed); }
    AEGP_PluginID plugin_id() const { return plugin_id_.load(std::memory_order_relaxed); }
    // Names passed to AEGP_RegisterWithAEGP, in call order.
    std::vector<std::string> aegp_registrations() const;

    // ---- interact callbacks ----
    // What `abort` answers (0: carry on).
    void set_abort_code(PF_Err code) { abort_code_.store(code, std::memory_order_relaxed); }
    PF_Err abort_code() const { return abort_code_.load(std::memory_order_relaxed); }

    // ---- memory of the basic suite ----
    int64_t blocks_outstanding() const;

    // Runs one host function: counts it, applies a matching fault, runs
    // `work` (which returns the code) and logs the result. Never throws.
    template <typename Work>
    int32_t call(const char* function, std::string detail, Work&& work) noexcept;

    // Used by the host functions themselves.
    void note_suite_call(const char* name, int32_t version, bool acquire);
    SPErr acquire(const char* name, int32_t version, const void** suite);
    SPErr release(const char* name, int32_t version);
    void note_block(int64_t delta);
    void note_registration(std::string name);

  private:
    struct SuiteEntry {
        const void* table = nullptr;
        bool withheld = false;
        SuiteCounts counts;
    };
    using SuiteKey = std::pair<std::string, int32_t>;

    std::optional<Fault> enter(const char* function);
    void leave(const char* function, std::string detail, int32_t result, bool injected);

    mutable std::mutex mutex_;
    std::map<SuiteKey, SuiteEntry> suites_;
    std::vector<Fault> faults_;
    std::vector<CallRecord> log_;
    std::map<std::string, int64_t, std::less<>> counts_;
    int64_t total_calls_ = 0;
    int64_t blocks_ = 0;
    std::vector<std::string> registrations_;
    std::atomic<AEGP_PluginID> plugin_id_{17};
    std::atomic<PF_Err> abort_code_{0};
};

template <typename Work>
int32_t Host::call(const char* function, std::string detail, Work&& work) noexcept {
    const std::optional<Fault> fault = enter(function);
    int32_t result = 0;
    if (!fault || fault->mode == FaultMode::kAfter) {
        try {
            result = work();
        } catch (const std::bad_alloc&) {
            result = PF_Err_OUT_OF_MEMORY;
        } catch (...) {
            result = PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
    }
    if (fault) {
        result = fault->code;
    }
    leave(function, std::move(detail), result, fault.has_value());
    return result;
}

} // namespace hostsim
