// The bundle's exports and the action dispatch of its two plug-ins. Every
// action runs inside one guard: nothing thrown crosses into the host, and a
// failed render leaves a message naming its cause.

#include "instance.h"
#include "ofx_api.h"
#include "plugin_params.h"
#include "render/set_down.h"
#include "suites.h"

#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>

#if defined(_WIN32)
#define POINTILLO_OFX_EXPORT extern "C" __declspec(dllexport)
#else
#define POINTILLO_OFX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace pointillo::ofx {

namespace {

OfxHost* g_host = nullptr;
int g_loaded = 0; // plug-ins loaded; the suites and caches are shared

const OfxPropertySuiteV1& props() {
    return *suites().property;
}

template <typename Suite> const Suite* fetch(const char* name, int version) {
    return static_cast<const Suite*>(g_host->fetchSuite(g_host->host, name, version));
}

void load() {
    if (g_host == nullptr) {
        throw OfxFailure(kOfxStatErrMissingHostFeature, "No host was set");
    }
    if (g_loaded++ > 0) {
        return;
    }
    HostSuites& s = suites();
    s.property = fetch<OfxPropertySuiteV1>(kOfxPropertySuite, 1);
    s.effect = fetch<OfxImageEffectSuiteV1>(kOfxImageEffectSuite, 1);
    s.param = fetch<OfxParameterSuiteV1>(kOfxParameterSuite, 1);
    s.memory = fetch<OfxMemorySuiteV1>(kOfxMemorySuite, 1);
    s.thread = fetch<OfxMultiThreadSuiteV1>(kOfxMultiThreadSuite, 1);
    s.message = fetch<OfxMessageSuiteV2>(kOfxMessageSuite, 2);
    s.message_v2 = s.message != nullptr;
    if (s.message == nullptr) {
        s.message = fetch<OfxMessageSuiteV2>(kOfxMessageSuite, 1);
    }
    if (s.property == nullptr || s.effect == nullptr || s.param == nullptr || s.memory == nullptr ||
        s.thread == nullptr) {
        --g_loaded;
        s = HostSuites{};
        throw OfxFailure(kOfxStatErrMissingHostFeature, "The host lacks a suite the effect needs");
    }
    int temporal = 0;
    s.host_temporal_access =
        s.property->propGetInt(g_host->host, kOfxImageEffectPropTemporalClipAccess, 0, &temporal) ==
            kOfxStatOK &&
        temporal != 0;
}

// The core's shared caches go when the last plug-in of the bundle unloads.
void unload() {
    if (g_loaded > 0 && --g_loaded == 0) {
        set_down_core();
        suites() = HostSuites{};
    }
}

void describe(const PluginInfo& info, OfxImageEffectHandle descriptor) {
    OfxPropertySetHandle p = nullptr;
    check(suites().effect->getPropertySet(descriptor, &p), "getPropertySet");
    const auto set_string = [&](const char* name, int index, const char* value) {
        check(props().propSetString(p, name, index, value), name);
    };
    const auto set_int = [&](const char* name, int value) {
        check(props().propSetInt(p, name, 0, value), name);
    };
    set_string(kOfxPropLabel, 0, info.label);
    set_string(kOfxPropPluginDescription, 0, info.description);
    set_string(kOfxImageEffectPluginPropGrouping, 0, "Pointillo");
    int i = 0;
    for (Context c : plugin_contexts(info.kind)) {
        set_string(kOfxImageEffectPropSupportedContexts, i++, context_name(c));
    }
    set_string(kOfxImageEffectPropSupportedPixelDepths, 0, kOfxBitDepthByte);
    set_string(kOfxImageEffectPropSupportedPixelDepths, 1, kOfxBitDepthShort);
    set_string(kOfxImageEffectPropSupportedPixelDepths, 2, kOfxBitDepthFloat);
    // Instances share only the core's caches, which lock themselves.
    set_string(kOfxImageEffectPluginRenderThreadSafety, 0, kOfxImageEffectRenderFullySafe);
    set_int(kOfxImageEffectPluginPropHostFrameThreading, 0);
    set_int(kOfxImageEffectPluginPropSingleInstance, 0);
    set_int(kOfxImageEffectPropSupportsTiles, 0);
    set_int(kOfxImageEffectPropSupportsMultiResolution, 1);
    set_int(kOfxImageEffectPropTemporalClipAccess, 1);
    set_int(kOfxImageEffectPropSupportsMultipleClipDepths, 0);
    set_int(kOfxImageEffectPropSupportsMultipleClipPARs, 0);
}

Instance* instance_of(OfxImageEffectHandle handle) {
    OfxPropertySetHandle p = nullptr;
    check(suites().effect->getPropertySet(handle, &p), "getPropertySet");
    void* data = nullptr;
    check(props().propGetPointer(p, kOfxPropInstanceData, 0, &data), kOfxPropInstanceData);
    if (data == nullptr) {
        throw OfxFailure(kOfxStatErrBadHandle, "The instance has no data");
    }
    return static_cast<Instance*>(data);
}

void create_instance(PluginKind kind, OfxImageEffectHandle handle) {
    auto self = std::make_unique<Instance>(make_instance(kind, handle));
    OfxPropertySetHandle p = nullptr;
    check(suites().effect->getPropertySet(handle, &p), "getPropertySet");
    check(props().propSetPointer(p, kOfxPropInstanceData, 0, self.get()), kOfxPropInstanceData);
    self.release();
}

void destroy_instance(OfxImageEffectHandle handle) {
    OfxPropertySetHandle p = nullptr;
    check(suites().effect->getPropertySet(handle, &p), "getPropertySet");
    void* data = nullptr;
    check(props().propGetPointer(p, kOfxPropInstanceData, 0, &data), kOfxPropInstanceData);
    delete static_cast<Instance*>(data);
    props().propSetPointer(p, kOfxPropInstanceData, 0, nullptr);
}

// The message a user sees on an instance; the host may refuse it, which
// changes nothing.
void post_error(OfxImageEffectHandle instance, const char* text) {
    const HostSuites& s = suites();
    if (instance == nullptr || s.message == nullptr) {
        return;
    }
    if (s.message_v2) {
        s.message->setPersistentMessage(instance, kOfxMessageError, "", "%s", text);
    } else {
        s.message->message(instance, kOfxMessageError, "", "%s", text);
    }
}

void clear_error(OfxImageEffectHandle instance) {
    const HostSuites& s = suites();
    if (s.message != nullptr && s.message_v2) {
        s.message->clearPersistentMessage(instance);
    }
}

OfxStatus dispatch(PluginKind kind, const std::string& action, OfxImageEffectHandle handle,
                   OfxPropertySetHandle in_args, OfxPropertySetHandle out_args) {
    if (action == kOfxActionLoad) {
        load();
        return kOfxStatOK;
    }
    if (action == kOfxActionUnload) {
        unload();
        return kOfxStatOK;
    }
    if (action == kOfxActionDescribe) {
        for (const PluginInfo& info : plugin_infos()) {
            if (info.kind == kind) {
                describe(info, handle);
            }
        }
        return kOfxStatOK;
    }
    if (action == kOfxImageEffectActionDescribeInContext) {
        char* name = nullptr;
        check(props().propGetString(in_args, kOfxImageEffectPropContext, 0, &name),
              kOfxImageEffectPropContext);
        Context context = Context::kGeneral;
        if (name == nullptr || !context_from_name(name, context)) {
            return kOfxStatErrMissingHostFeature;
        }
        describe_in_context(kind, context, handle);
        return kOfxStatOK;
    }
    if (action == kOfxActionCreateInstance) {
        create_instance(kind, handle);
        return kOfxStatOK;
    }
    if (action == kOfxActionDestroyInstance) {
        destroy_instance(handle);
        return kOfxStatOK;
    }
    if (action == kOfxImageEffectActionRender) {
        render(*instance_of(handle), in_args);
        clear_error(handle);
        return kOfxStatOK;
    }
    if (action == kOfxImageEffectActionGetRegionOfDefinition) {
        region_of_definition(*instance_of(handle), in_args, out_args);
        return kOfxStatOK;
    }
    if (action == kOfxImageEffectActionGetRegionsOfInterest) {
        regions_of_interest(*instance_of(handle), in_args, out_args);
        return kOfxStatOK;
    }
    if (action == kOfxImageEffectActionGetFramesNeeded) {
        frames_needed(*instance_of(handle), in_args, out_args);
        return kOfxStatOK;
    }
    if (action == kOfxImageEffectActionGetClipPreferences) {
        const Instance& self = *instance_of(handle);
        if (self.context == Context::kTransition) {
            return kOfxStatReplyDefault;
        }
        clip_preferences(self, out_args);
        return kOfxStatOK;
    }
    if (action == kOfxActionPurgeCaches) {
        // Frames rendering meanwhile keep what they hold.
        set_down_core();
        return kOfxStatOK;
    }
    return kOfxStatReplyDefault;
}

bool is_instance_action(const std::string& action) {
    return action != kOfxActionLoad && action != kOfxActionUnload && action != kOfxActionDescribe &&
           action != kOfxImageEffectActionDescribeInContext;
}

// The one translation of a failure into a status: the host's own status
// comes back (memory as memory, anything else as a failure), the core's
// memory exhaustion as memory, any other error as a failure with its text.
OfxStatus guarded(PluginKind kind, const char* action, const void* handle,
                  OfxPropertySetHandle in_args, OfxPropertySetHandle out_args) {
    if (action == nullptr) {
        return kOfxStatErrBadHandle;
    }
    const std::string name = action;
    auto* effect = static_cast<OfxImageEffectHandle>(const_cast<void*>(handle));
    OfxImageEffectHandle instance = is_instance_action(name) ? effect : nullptr;
    try {
        return dispatch(kind, name, effect, in_args, out_args);
    } catch (const OfxFailure& e) {
        post_error(instance, e.what());
        if (e.status == kOfxStatErrMemory || e.status == kOfxStatErrMissingHostFeature) {
            return e.status;
        }
        return kOfxStatFailed;
    } catch (const std::bad_alloc&) {
        post_error(instance, "Out of memory");
        return kOfxStatErrMemory;
    } catch (const std::exception& e) {
        post_error(instance, e.what());
        return kOfxStatFailed;
    } catch (...) {
        post_error(instance, "Internal error");
        return kOfxStatFailed;
    }
}

OfxStatus transition_entry(const char* action, const void* handle, OfxPropertySetHandle in_args,
                           OfxPropertySetHandle out_args) {
    return guarded(PluginKind::kTransition, action, handle, in_args, out_args);
}

OfxStatus filter_entry(const char* action, const void* handle, OfxPropertySetHandle in_args,
                       OfxPropertySetHandle out_args) {
    return guarded(PluginKind::kFilter, action, handle, in_args, out_args);
}

void set_host(OfxHost* host) {
    g_host = host;
}

OfxPlugin g_plugins[] = {
    {kOfxImageEffectPluginApi, kOfxImageEffectPluginApiVersion, "", POINTILLO_VERSION_MAJOR,
     POINTILLO_VERSION_MINOR, set_host, transition_entry},
    {kOfxImageEffectPluginApi, kOfxImageEffectPluginApiVersion, "", POINTILLO_VERSION_MAJOR,
     POINTILLO_VERSION_MINOR, set_host, filter_entry},
};

} // namespace
} // namespace pointillo::ofx

POINTILLO_OFX_EXPORT int OfxGetNumberOfPlugins(void) {
    return 2;
}

POINTILLO_OFX_EXPORT OfxPlugin* OfxGetPlugin(int nth) {
    using namespace pointillo::ofx;
    if (nth < 0 || nth >= 2) {
        return nullptr;
    }
    OfxPlugin& plugin = g_plugins[nth];
    plugin.pluginIdentifier = plugin_infos()[static_cast<std::size_t>(nth)].identifier;
    return &plugin;
}
