#include "hostsim/host.h"

#include "hostsim/suites.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

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
    add_suite(kPFWorldSuite, kPFWorldSuiteVersion2, world_suite_table());
    add_suite(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, pf_interface_suite_table());
    add_suite(kAEGPStreamSuite, kAEGPStreamSuiteVersion6, stream_suite_table());
    add_suite(kAEGPEffectSuite, kAEGPEffectSuiteVersion5, effect_suite_table());
    add_suite(kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion4,
              dynamic_stream_suite_table());
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

// ---- layers ----

int32_t downsampled(int32_t size, PF_RationalScale scale) {
    if (scale.den == 0 || scale.num <= 0 || size <= 0) {
        return 0;
    }
    const int64_t scaled = static_cast<int64_t>(size) * scale.num;
    return static_cast<int32_t>((scaled + scale.den - 1) / scale.den);
}

Layer pattern_layer(int32_t ref_width, int32_t ref_height,
                    std::function<Argb(int32_t x, int32_t y)> argb) {
    Layer layer;
    layer.ref_width = ref_width;
    layer.ref_height = ref_height;
    layer.produce = [argb = std::move(argb)](const LayerRequest& request) {
        const auto full = [](int32_t at, PF_RationalScale scale) {
            return scale.num > 0
                       ? static_cast<int32_t>(static_cast<int64_t>(at) * scale.den / scale.num)
                       : at;
        };
        return make_layer_pixels(
            request.depth, request.width, request.height, [&](int32_t x, int32_t y) {
                return argb(full(x, request.downsample_x), full(y, request.downsample_y));
            });
    };
    return layer;
}

namespace {

using CacheKey = std::tuple<int32_t, int32_t, uint32_t, int32_t, uint32_t>;

CacheKey cache_key(int32_t depth, PF_RationalScale x, PF_RationalScale y) {
    return {depth, x.num, x.den, y.num, y.den};
}

constexpr int32_t kLargestLayerSide = 30000;

} // namespace

int32_t Host::add_layer(Layer layer) {
    if (layer.ref_width < 1 || layer.ref_height < 1 || layer.ref_width > kLargestLayerSide ||
        layer.ref_height > kLargestLayerSide) {
        throw std::invalid_argument("layer size " + std::to_string(layer.ref_width) + " x " +
                                    std::to_string(layer.ref_height) +
                                    " is outside 1 to 30000 a side");
    }
    auto entry = std::make_shared<LayerEntry>();
    entry->layer = std::move(layer);
    std::lock_guard lock(mutex_);
    const int32_t id = layers_.empty() ? 1 : layers_.rbegin()->first + 1;
    layers_.emplace(id, std::move(entry));
    return id;
}

void Host::supply_layer_pixels(int32_t layer_id, PF_RationalScale downsample_x,
                               PF_RationalScale downsample_y, LayerPixels pixels) {
    std::shared_ptr<LayerEntry> entry;
    {
        std::lock_guard lock(mutex_);
        entry = layers_.at(layer_id);
    }
    if (pixels.width != downsampled(entry->layer.ref_width, downsample_x) ||
        pixels.height != downsampled(entry->layer.ref_height, downsample_y)) {
        throw std::invalid_argument("supplied pixels are not the layer's downsampled size");
    }
    const CacheKey key = cache_key(pixels.depth, downsample_x, downsample_y);
    auto shared = std::make_shared<const LayerPixels>(std::move(pixels));
    std::lock_guard lock(entry->mutex);
    entry->cache[key] = std::move(shared);
}

std::optional<std::pair<int32_t, int32_t>> Host::layer_size(int32_t layer_id) const {
    std::lock_guard lock(mutex_);
    auto it = layers_.find(layer_id);
    if (it == layers_.end()) {
        return std::nullopt;
    }
    return std::pair{it->second->layer.ref_width, it->second->layer.ref_height};
}

std::shared_ptr<const LayerPixels> Host::layer_pixels(int32_t layer_id,
                                                      const LayerRequest& request) {
    std::shared_ptr<LayerEntry> entry;
    {
        std::lock_guard lock(mutex_);
        auto it = layers_.find(layer_id);
        if (it == layers_.end()) {
            return nullptr;
        }
        entry = it->second;
    }
    const CacheKey key = cache_key(request.depth, request.downsample_x, request.downsample_y);
    {
        std::lock_guard lock(entry->mutex);
        auto it = entry->cache.find(key);
        if (it != entry->cache.end()) {
            return it->second;
        }
    }
    if (!entry->layer.produce) {
        return nullptr;
    }
    // Produced outside the lock: two threads may both produce, the first kept.
    auto produced = std::make_shared<const LayerPixels>(entry->layer.produce(request));
    std::lock_guard lock(entry->mutex);
    return entry->cache.emplace(key, std::move(produced)).first->second;
}

// ---- worlds ----

void Host::register_world(const PF_EffectWorld* world, PF_PixelFormat format) {
    std::lock_guard lock(mutex_);
    worlds_[world] = format;
}

void Host::unregister_world(const PF_EffectWorld* world) {
    std::lock_guard lock(mutex_);
    worlds_.erase(world);
}

std::optional<PF_PixelFormat> Host::world_format(const PF_EffectWorld* world) const {
    std::lock_guard lock(mutex_);
    auto it = worlds_.find(world);
    if (it == worlds_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void Host::adopt_new_world(PF_EffectWorld* target, std::unique_ptr<HostWorld> world) {
    *target = world->world;
    const PF_PixelFormat format = world->format;
    {
        std::lock_guard lock(mutex_);
        new_worlds_[target] = std::move(world);
        worlds_[target] = format;
    }
    note_resource(Resource::kWorld, 1, "new world");
}

bool Host::dispose_new_world(PF_EffectWorld* target) {
    std::unique_ptr<HostWorld> world;
    {
        std::lock_guard lock(mutex_);
        auto it = new_worlds_.find(target);
        if (it == new_worlds_.end()) {
            return false;
        }
        world = std::move(it->second);
        new_worlds_.erase(it);
        worlds_.erase(target);
    }
    std::memset(target, 0, sizeof(*target));
    note_resource(Resource::kWorld, -1, "new world");
    return true;
}

// ---- AEGP objects ----

namespace {

std::string stream_name(const StreamTarget& target) {
    return "parameter " + std::to_string(target.index);
}

} // namespace

AEGP_EffectRefH Host::new_effect_ref(Instance* instance) {
    AegpObject object;
    object.cell = std::make_unique<void*>(nullptr);
    object.kind = Resource::kEffectRef;
    object.target.instance = instance;
    void** cell = object.cell.get();
    {
        std::lock_guard lock(mutex_);
        aegp_objects_.emplace(cell, std::move(object));
    }
    note_resource(Resource::kEffectRef, 1, "effect reference");
    return reinterpret_cast<AEGP_EffectRefH>(cell);
}

Instance* Host::effect_ref_target(AEGP_EffectRefH effect) const {
    std::lock_guard lock(mutex_);
    auto it = aegp_objects_.find(effect);
    return it != aegp_objects_.end() && it->second.kind == Resource::kEffectRef
               ? it->second.target.instance
               : nullptr;
}

bool Host::dispose_effect_ref(AEGP_EffectRefH effect) {
    {
        std::lock_guard lock(mutex_);
        auto it = aegp_objects_.find(effect);
        if (it == aegp_objects_.end() || it->second.kind != Resource::kEffectRef) {
            return false;
        }
        aegp_objects_.erase(it);
    }
    note_resource(Resource::kEffectRef, -1, "effect reference");
    return true;
}

AEGP_StreamRefH Host::new_stream(Instance* instance, PF_ParamIndex index) {
    AegpObject object;
    object.cell = std::make_unique<void*>(nullptr);
    object.kind = Resource::kStream;
    object.target = StreamTarget{instance, index};
    void** cell = object.cell.get();
    {
        std::lock_guard lock(mutex_);
        aegp_objects_.emplace(cell, std::move(object));
    }
    note_resource(Resource::kStream, 1, stream_name(StreamTarget{instance, index}));
    return reinterpret_cast<AEGP_StreamRefH>(cell);
}

std::optional<StreamTarget> Host::stream_target(AEGP_StreamRefH stream) const {
    std::lock_guard lock(mutex_);
    auto it = aegp_objects_.find(stream);
    if (it == aegp_objects_.end() || it->second.kind != Resource::kStream) {
        return std::nullopt;
    }
    return it->second.target;
}

bool Host::dispose_stream(AEGP_StreamRefH stream) {
    StreamTarget target;
    {
        std::lock_guard lock(mutex_);
        auto it = aegp_objects_.find(stream);
        if (it == aegp_objects_.end() || it->second.kind != Resource::kStream) {
            return false;
        }
        target = it->second.target;
        aegp_objects_.erase(it);
    }
    note_resource(Resource::kStream, -1, stream_name(target));
    return true;
}

void Host::note_stream_value(AEGP_StreamRefH stream) {
    {
        std::lock_guard lock(mutex_);
        ++stream_values_[stream];
    }
    note_resource(Resource::kStreamValue, 1, "stream value");
}

bool Host::dispose_stream_value(AEGP_StreamRefH stream) {
    {
        std::lock_guard lock(mutex_);
        auto it = stream_values_.find(stream);
        if (it == stream_values_.end()) {
            return false;
        }
        if (--it->second == 0) {
            stream_values_.erase(it);
        }
    }
    note_resource(Resource::kStreamValue, -1, "stream value");
    return true;
}

// ---- what the module still holds ----

void Host::note_resource(Resource kind, int64_t delta, const std::string& what) {
    std::lock_guard lock(mutex_);
    std::map<std::string, int64_t>& counts = resources_[kind];
    if ((counts[what] += delta) == 0) {
        counts.erase(what);
    }
}

int64_t Host::outstanding(Resource kind) const {
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

int64_t Host::pre_render_deletions() const {
    std::lock_guard lock(mutex_);
    return pre_render_deletions_;
}

void Host::note_pre_render_deletion() {
    std::lock_guard lock(mutex_);
    ++pre_render_deletions_;
}

std::string Host::outstanding_report() const {
    static const std::pair<Resource, const char*> kKinds[] = {
        {Resource::kParam, "parameters"},
        {Resource::kLayerPixels, "layer pixels"},
        {Resource::kStream, "streams"},
        {Resource::kStreamValue, "stream values"},
        {Resource::kEffectRef, "effect references"},
        {Resource::kPreRenderData, "pre-render data"},
        {Resource::kWorld, "worlds"}};
    std::string text;
    const std::string suites = outstanding_suites();
    if (!suites.empty()) {
        text += "suites: " + suites + "; ";
    }
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
    return text.empty() ? "all clean" : text;
}

bool Host::all_clean() const {
    return outstanding_report() == "all clean";
}

} // namespace hostsim
