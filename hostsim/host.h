#pragma once

// The emulated host: the parts it is made of, and how host functions find it.
//
// Host functions are plain C functions in static suite tables, like the real
// host's. They find their Host through the command they belong to: calls that
// carry an `effect_ref` get it from there (it points to the command's
// CommandContext); calls that carry none (the basic suite, most AEGP calls)
// use the context of the command running on the calling thread. Host
// functions never throw; they return codes.

#include "host/ae_sdk.h"
#include "hostsim/aegp_objects.h"
#include "hostsim/call_log.h"
#include "hostsim/iterate_pool.h"
#include "hostsim/layers.h"
#include "hostsim/resource_ledger.h"
#include "hostsim/suite_registry.h"
#include "hostsim/world_registry.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

namespace hostsim {

class Host;
class Instance;
struct FrameState;

// One command in flight: what `effect_ref` points to.
struct CommandContext {
    Host* host = nullptr;
    Instance* instance = nullptr; // null for commands without an effect instance
    PF_Cmd cmd = -1;
    int64_t param_checkouts = 0;     // parameters checked out and not yet checked in
    int64_t max_param_checkouts = 0; // the most that were out at once
    // Checked-out parameter records by the address the effect passed.
    std::map<const PF_ParamDef*, PF_ParamIndex> params_out;
    FrameState* frame = nullptr; // the frame a render command belongs to
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

// The parts, each with its own lock, so that frames on several threads
// contend only where they share something. Parameter values live in each
// Instance.
class Host {
  public:
    // A host offering the basic suite, "AEGP Utility Suite" 13, "PF World
    // Suite" 2, "AEGP PF Interface Suite" 1, "AEGP Stream Suite" 11, "AEGP
    // Effect Suite" 5, "AEGP Dynamic Stream Suite" 5 and "PF Iterate8 Suite" 2.
    Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // What PF_InData::pica_basicP points to.
    SPBasicSuite* basic_suite();

    // What `abort` answers (0: carry on). A frame's own answer
    // (FrameCall::abort) takes precedence.
    void set_abort_code(PF_Err code) { abort_code_.store(code, std::memory_order_relaxed); }
    PF_Err abort_code() const { return abort_code_.load(std::memory_order_relaxed); }

    // "all clean", or every suite, parameter, layer checkout, stream, stream
    // value, effect reference, pre-render record, world and memory block the
    // module took and did not give back.
    std::string outstanding_report() const;
    bool all_clean() const;

    SuiteRegistry suites;  // suites by name and version, and their counts
    CallLog calls;         // every host call, and the faults to inject
    Layers layers;         // the project's layers and their pixels
    ResourceLedger ledger; // what the module holds
    WorldRegistry worlds;  // worlds the host made
    AegpObjects aegp;      // plug-in id, effect references, streams
    IteratePool iterate;   // the threads iterate_generic runs pieces on

  private:
    std::atomic<PF_Err> abort_code_{0};
};

} // namespace hostsim
