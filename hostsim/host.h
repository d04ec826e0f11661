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
#include "hostsim/world.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace hostsim {

class Host;
class Instance;
struct FrameState;

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
    int64_t param_checkouts = 0;     // parameters checked out and not yet checked in
    int64_t max_param_checkouts = 0; // the most that were out at once
    // Checked-out parameter records by the address the effect passed.
    std::map<const PF_ParamDef*, PF_ParamIndex> params_out;
    FrameState* frame = nullptr; // the frame a render command belongs to
};

// The kinds of host resource a module takes and must give back.
enum class Resource {
    kParam,         // checkout_param without checkin_param
    kLayerPixels,   // checkout_layer_pixels without checkin_layer_pixels
    kStream,        // AEGP stream references not disposed
    kStreamValue,   // AEGP_GetNewStreamValue without AEGP_DisposeStreamValue
    kEffectRef,     // AEGP_GetNewEffectForEffect without AEGP_DisposeEffect
    kPreRenderData, // pre-render data adopted and not yet deleted
    kWorld          // PF_NewWorld without PF_DisposeWorld
};

// A layer of the project: an image with a full-resolution size. The host
// hands the effect its pixels at the render's depth and downsample.
struct LayerRequest {
    int32_t depth = 8; // 8, 16 or 32
    PF_RationalScale downsample_x{1, 1};
    PF_RationalScale downsample_y{1, 1};
    int32_t width = 0; // ceil(ref_width x downsample_x): what to produce
    int32_t height = 0;
};

struct Layer {
    int32_t ref_width = 0; // full-resolution size, 1 to 30000 each
    int32_t ref_height = 0;
    // Produces the pixels for a request (premultiplied, at request.depth,
    // request.width x request.height). Called at most once per depth and
    // downsample, possibly on a render thread. Pixels supplied with
    // Host::supply_layer_pixels are used without calling it.
    std::function<LayerPixels(const LayerRequest&)> produce;
};

// The size of a layer at a downsample: ceil(size x num / den), 0 for a
// denominator of 0.
int32_t downsampled(int32_t size, PF_RationalScale scale);

// A layer whose pixels come from a function of full-resolution positions:
// pixel (x, y) at downsample num/den samples (floor(x x den / num),
// floor(y x den / num)).
Layer pattern_layer(int32_t ref_width, int32_t ref_height,
                    std::function<Argb(int32_t x, int32_t y)> argb);

// What an AEGP stream reference points to.
struct StreamTarget {
    Instance* instance = nullptr;
    PF_ParamIndex index = 0;
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
    // A host offering the basic suite, "AEGP Utility Suite" 13, "PF World
    // Suite" 2, "AEGP PF Interface Suite" 1, "AEGP Stream Suite" 11, "AEGP
    // Effect Suite" 5 and "AEGP Dynamic Stream Suite" 5.
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
    // What `abort` answers (0: carry on). A frame's own answer
    // (FrameRequest::abort) takes precedence.
    void set_abort_code(PF_Err code) { abort_code_.store(code, std::memory_order_relaxed); }
    PF_Err abort_code() const { return abort_code_.load(std::memory_order_relaxed); }

    // ---- memory of the basic suite ----
    int64_t blocks_outstanding() const;

    // ---- layers ----
    // Adds a layer to the project and returns its id (1, 2, ...): what a
    // layer parameter holds. Sizes outside 1 to 30000 throw
    // std::invalid_argument. A layer without `produce` has only the pixels
    // supplied for it.
    int32_t add_layer(Layer layer);
    // Ready pixels of a layer at a depth and downsample (pixels.depth);
    // their size must be the downsampled size.
    void supply_layer_pixels(int32_t layer_id, PF_RationalScale downsample_x,
                             PF_RationalScale downsample_y, LayerPixels pixels);
    // The layer's full-resolution size, or nothing for an unknown id (0 too).
    std::optional<std::pair<int32_t, int32_t>> layer_size(int32_t layer_id) const;
    // Its pixels for a request, produced on first use; null for an unknown id.
    std::shared_ptr<const LayerPixels> layer_pixels(int32_t layer_id, const LayerRequest& request);

    // ---- worlds the host made, for PF_GetPixelFormat ----
    void register_world(const PF_EffectWorld* world, PF_PixelFormat format);
    void unregister_world(const PF_EffectWorld* world);
    std::optional<PF_PixelFormat> world_format(const PF_EffectWorld* world) const;
    // PF_NewWorld's worlds: the module's record `target` describes a world
    // whose memory the host keeps until dispose_new_world.
    void adopt_new_world(PF_EffectWorld* target, std::unique_ptr<HostWorld> world);
    bool dispose_new_world(PF_EffectWorld* target);

    // ---- AEGP objects ----
    AEGP_EffectRefH new_effect_ref(Instance* instance);
    Instance* effect_ref_target(AEGP_EffectRefH effect) const; // null unless live
    bool dispose_effect_ref(AEGP_EffectRefH effect);
    AEGP_StreamRefH new_stream(Instance* instance, PF_ParamIndex index);
    std::optional<StreamTarget> stream_target(AEGP_StreamRefH stream) const;
    bool dispose_stream(AEGP_StreamRefH stream);
    // Stream values are counted by the stream they came from.
    void note_stream_value(AEGP_StreamRefH stream);
    bool dispose_stream_value(AEGP_StreamRefH stream);

    // ---- what the module still holds ----
    // Adds `delta` to the resources of `kind` taken under the name `what`
    // (a parameter, a layer, a stream).
    void note_resource(Resource kind, int64_t delta, const std::string& what);
    int64_t outstanding(Resource kind) const;
    // Pre-render data records the host deleted through their deletion function.
    int64_t pre_render_deletions() const;
    void note_pre_render_deletion();
    // "all clean", or every parameter, layer checkout, suite, stream, stream
    // value, effect reference, pre-render record, world and memory block the
    // module took and did not give back.
    std::string outstanding_report() const;
    bool all_clean() const;

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

    struct LayerEntry {
        Layer layer;
        std::mutex mutex; // guards `cache` only, never held while producing
        std::map<std::tuple<int32_t, int32_t, uint32_t, int32_t, uint32_t>,
                 std::shared_ptr<const LayerPixels>>
            cache;
    };
    std::map<int32_t, std::shared_ptr<LayerEntry>> layers_;
    std::map<const PF_EffectWorld*, PF_PixelFormat> worlds_;
    std::map<const PF_EffectWorld*, std::unique_ptr<HostWorld>> new_worlds_;

    // AEGP handles point to cells the host owns, so that a module may read
    // through them without touching freed memory.
    struct AegpObject {
        std::unique_ptr<void*> cell;
        Resource kind = Resource::kStream;
        StreamTarget target;
    };
    std::map<const void*, AegpObject> aegp_objects_;
    std::map<const void*, int64_t> stream_values_;

    std::map<Resource, std::map<std::string, int64_t>> resources_;
    int64_t pre_render_deletions_ = 0;
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
