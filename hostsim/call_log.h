#pragma once

// Every host function call in order, the counts faults are matched against,
// and the faults themselves. Host functions run their work through `run`.

#include "host/ae_sdk.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hostsim {

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

class CallLog {
  public:
    void add_fault(Fault fault);
    // The 10th `add_param` returns `code`: fail_call("add_param", 10, code).
    void fail_call(std::string function, int64_t nth, int32_t code,
                   FaultMode mode = FaultMode::kInstead);
    // The k-th call of any host function returns `code`.
    void fail_any_call(int64_t nth, int32_t code, FaultMode mode = FaultMode::kInstead);
    void clear_faults();

    std::vector<CallRecord> log() const;
    int64_t count(std::string_view function) const;
    int64_t total() const; // calls of all host functions
    void clear();          // the log, and the counts that faults use

    // Runs one host function: counts it, applies a matching fault, runs
    // `work` (which returns the code) and logs the result. Never throws:
    // std::bad_alloc becomes PF_Err_OUT_OF_MEMORY, anything else
    // PF_Err_INTERNAL_STRUCT_DAMAGED.
    template <typename Work>
    int32_t run(const char* function, std::string detail, Work&& work) noexcept;

  private:
    std::optional<Fault> enter(const char* function);
    void leave(const char* function, std::string detail, int32_t result, bool injected);

    mutable std::mutex mutex_;
    std::vector<Fault> faults_;
    std::vector<CallRecord> log_;
    std::map<std::string, int64_t, std::less<>> counts_;
    int64_t total_ = 0;
};

template <typename Work>
int32_t CallLog::run(const char* function, std::string detail, Work&& work) noexcept {
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
