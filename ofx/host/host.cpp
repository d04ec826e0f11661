#include "host.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace pointillo::ofxhost {
namespace {

#if defined(_WIN32)
constexpr const char* kArchitecture = "Win64";
#else
constexpr const char* kArchitecture = "Linux-x86-64";
#endif

struct ShortContext {
    const char* name;
    const char* ofx;
};
constexpr ShortContext kContexts[] = {
    {"transition", kOfxImageEffectContextTransition},
    {"filter", kOfxImageEffectContextFilter},
    {"general", kOfxImageEffectContextGeneral},
};

std::string short_context(const std::string& ofx) {
    for (const ShortContext& c : kContexts) {
        if (ofx == c.ofx) {
            return c.name;
        }
    }
    return ofx;
}

std::string ofx_context(const std::string& name) {
    for (const ShortContext& c : kContexts) {
        if (name == c.name) {
            return c.ofx;
        }
    }
    throw std::runtime_error("unknown context " + name + " (transition, filter or general)");
}

const char* depth_name(PixelDepth depth) {
    switch (depth) {
    case PixelDepth::k8:
        return kOfxBitDepthByte;
    case PixelDepth::k16:
        return kOfxBitDepthShort;
    case PixelDepth::k32:
        break;
    }
    return kOfxBitDepthFloat;
}

std::ptrdiff_t sample_bytes(PixelDepth depth) {
    return depth == PixelDepth::k8 ? 1 : (depth == PixelDepth::k16 ? 2 : 4);
}

// ---- the objects behind the handles ----

struct Param {
    std::string name;
    std::string type;
    PropertySet props;
    std::vector<ParamKey> keys; // none: the default
};

struct ParamSet {
    PropertySet props;
    std::vector<std::unique_ptr<Param>> params;

    Param* find(const std::string& name) {
        for (auto& p : params) {
            if (p->name == name) {
                return p.get();
            }
        }
        return nullptr;
    }
};

struct Clip {
    std::string name;
    PropertySet props;
    bool output = false;
    ClipFrames frames; // inputs; empty when not connected
    int32_t width = 0; // full-resolution pixels
    int32_t height = 0;
};

struct Effect {
    PropertySet props;
    ParamSet params;
    std::vector<std::unique_ptr<Clip>> clips;

    Clip* clip(const std::string& name) {
        for (auto& c : clips) {
            if (c->name == name) {
                return c.get();
            }
        }
        return nullptr;
    }
};

struct Image {
    PropertySet props;
    std::vector<std::byte> storage; // inputs own their pixels; the output's are the render's
};

struct HostMutex {
    std::recursive_mutex mutex;
};

// One render on one thread (and the threads it spawns).
struct RenderContext {
    Effect* effect = nullptr;
    double scale = 1.0;
    PixelDepth depth = PixelDepth::k8;
    bool refuse_output = false;
    CallContext calls;
    OfxRectI output_bounds{};
    std::vector<std::byte> output; // the output image's storage
    std::byte* output_data = nullptr;
    std::ptrdiff_t output_rowbytes = 0;
    std::string message;
};

thread_local RenderContext* t_render = nullptr;
thread_local bool t_spawned = false;
thread_local unsigned int t_thread_index = 0;
thread_local CallContext* t_calls = nullptr;
CallContext g_host_calls;

struct Registry {
    std::mutex mutex;
    std::set<Image*> images;
    std::set<void*> memory;
    HostOptions options;
    unsigned int cpus = 1;
};
Registry g_registry;

Effect* effect_of(OfxImageEffectHandle h) {
    return reinterpret_cast<Effect*>(h);
}
Clip* clip_of(OfxImageClipHandle h) {
    return reinterpret_cast<Clip*>(h);
}
Param* param_of(OfxParamHandle h) {
    return reinterpret_cast<Param*>(h);
}
ParamSet* param_set_of(OfxParamSetHandle h) {
    return reinterpret_cast<ParamSet*>(h);
}

std::string time_text(double t) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", t);
    return text;
}

// ---- pixel rectangles at the render scale ----

OfxRectI pixel_rect(const OfxRectD& r, double scale) {
    return {static_cast<int>(std::floor(r.x1 * scale)), static_cast<int>(std::floor(r.y1 * scale)),
            static_cast<int>(std::ceil(r.x2 * scale)), static_cast<int>(std::ceil(r.y2 * scale))};
}

OfxRectD clip_rod(const Clip& clip) {
    const ImageLayout& l = g_registry.options.layout;
    if (clip.output || !clip.frames || clip.width <= 0) {
        return {0, 0, 0, 0};
    }
    return {static_cast<double>(l.origin_x), static_cast<double>(l.origin_y),
            static_cast<double>(l.origin_x + clip.width),
            static_cast<double>(l.origin_y + clip.height)};
}

// Storage for an image of `bounds` at `depth` with the host's layout; the
// data pointer addresses the bottom-left pixel.
void lay_out(const OfxRectI& bounds, PixelDepth depth, std::vector<std::byte>& storage,
             std::byte*& data, std::ptrdiff_t& rowbytes) {
    const ImageLayout& l = g_registry.options.layout;
    const std::ptrdiff_t width = bounds.x2 - bounds.x1;
    const std::ptrdiff_t height = bounds.y2 - bounds.y1;
    const std::ptrdiff_t row = width * 4 * sample_bytes(depth) + l.padding;
    storage.assign(static_cast<std::size_t>(row * height), std::byte{0});
    if (l.top_down && height > 0) {
        data = storage.data() + (height - 1) * row;
        rowbytes = -row;
    } else {
        data = storage.data();
        rowbytes = row;
    }
}

// Core order a, r, g, b (shorts 0..32768) to r, g, b, a (shorts 0..65535).
void to_ofx_pixel(const std::byte* in, PixelDepth depth, std::byte* out) {
    constexpr int kCore[4] = {1, 2, 3, 0};
    for (int c = 0; c < 4; ++c) {
        switch (depth) {
        case PixelDepth::k8:
            out[c] = in[kCore[c]];
            break;
        case PixelDepth::k16: {
            uint16_t v = 0;
            std::memcpy(&v, in + kCore[c] * 2, 2);
            const auto w =
                static_cast<uint16_t>(std::min((uint32_t{v} * 65535u + 16384u) / 32768u, 65535u));
            std::memcpy(out + c * 2, &w, 2);
            break;
        }
        case PixelDepth::k32:
            std::memcpy(out + c * 4, in + kCore[c] * 4, 4);
            break;
        }
    }
}

void set_image_props(Image& image, const OfxRectI& bounds, PixelDepth depth, double scale,
                     std::byte* data, std::ptrdiff_t rowbytes, int serial) {
    PropertySet& p = image.props;
    p.set_string(kOfxPropType, {kOfxTypeImage});
    p.set_string(kOfxImageEffectPropPixelDepth, {depth_name(depth)});
    p.set_string(kOfxImageEffectPropComponents, {kOfxImageComponentRGBA});
    p.set_string(kOfxImageEffectPropPreMultiplication, {kOfxImagePreMultiplied});
    p.set_double(kOfxImageEffectPropRenderScale, {scale, scale});
    p.set_double(kOfxImagePropPixelAspectRatio, {1.0});
    p.set_pointer(kOfxImagePropData, {data});
    p.set_int(kOfxImagePropBounds, {bounds.x1, bounds.y1, bounds.x2, bounds.y2});
    p.set_int(kOfxImagePropRegionOfDefinition, {bounds.x1, bounds.y1, bounds.x2, bounds.y2});
    p.set_int(kOfxImagePropRowBytes, {static_cast<int>(rowbytes)});
    p.set_string(kOfxImagePropField, {kOfxImageFieldNone});
    p.set_string("OfxImagePropUniqueIdentifier", {std::to_string(serial)});
}

std::atomic<int> g_image_serial{0};

Image* new_image() {
    auto* image = new Image;
    std::lock_guard<std::mutex> lock(g_registry.mutex);
    g_registry.images.insert(image);
    return image;
}

// ---- the image effect suite ----

OfxStatus get_property_set(OfxImageEffectHandle h, OfxPropertySetHandle* props) {
    if (suite_call("getPropertySet")) {
        return kOfxStatErrBadHandle;
    }
    if (h == nullptr || props == nullptr) {
        return kOfxStatErrBadHandle;
    }
    *props = effect_of(h)->props.handle();
    return kOfxStatOK;
}

OfxStatus get_param_set(OfxImageEffectHandle h, OfxParamSetHandle* set) {
    if (suite_call("getParamSet")) {
        return kOfxStatErrBadHandle;
    }
    if (h == nullptr || set == nullptr) {
        return kOfxStatErrBadHandle;
    }
    *set = reinterpret_cast<OfxParamSetHandle>(&effect_of(h)->params);
    return kOfxStatOK;
}

OfxStatus clip_define(OfxImageEffectHandle h, const char* name, OfxPropertySetHandle* props) {
    if (suite_call("clipDefine", [&] { return std::string(name != nullptr ? name : ""); })) {
        return kOfxStatErrUnknown;
    }
    if (h == nullptr || name == nullptr || props == nullptr) {
        return kOfxStatErrBadHandle;
    }
    Effect* e = effect_of(h);
    if (e->clip(name) != nullptr) {
        return kOfxStatErrExists;
    }
    auto clip = std::make_unique<Clip>();
    clip->name = name;
    clip->output = clip->name == kOfxImageEffectOutputClipName;
    clip->props.open = true;
    clip->props.set_string(kOfxPropType, {kOfxTypeClip});
    clip->props.set_string(kOfxPropName, {name});
    clip->props.set_string(kOfxPropLabel, {name});
    clip->props.set_int(kOfxImageClipPropOptional, {0});
    clip->props.set_int(kOfxImageEffectPropSupportsTiles, {1});
    clip->props.set_int(kOfxImageEffectPropTemporalClipAccess, {0});
    *props = clip->props.handle();
    e->clips.push_back(std::move(clip));
    return kOfxStatOK;
}

OfxStatus clip_get_handle(OfxImageEffectHandle h, const char* name, OfxImageClipHandle* clip,
                          OfxPropertySetHandle* props) {
    if (suite_call("clipGetHandle", [&] { return std::string(name != nullptr ? name : ""); })) {
        return kOfxStatErrBadHandle;
    }
    if (h == nullptr || name == nullptr || clip == nullptr) {
        return kOfxStatErrBadHandle;
    }
    Clip* c = effect_of(h)->clip(name);
    if (c == nullptr) {
        return kOfxStatErrUnknown;
    }
    *clip = reinterpret_cast<OfxImageClipHandle>(c);
    if (props != nullptr) {
        *props = c->props.handle();
    }
    return kOfxStatOK;
}

OfxStatus clip_get_property_set(OfxImageClipHandle clip, OfxPropertySetHandle* props) {
    if (suite_call("clipGetPropertySet")) {
        return kOfxStatErrBadHandle;
    }
    if (clip == nullptr || props == nullptr) {
        return kOfxStatErrBadHandle;
    }
    *props = clip_of(clip)->props.handle();
    return kOfxStatOK;
}

OfxStatus clip_get_image(OfxImageClipHandle handle, OfxTime time, const OfxRectD* /*region*/,
                         OfxPropertySetHandle* out) {
    Clip* clip = clip_of(handle);
    if (suite_call("clipGetImage", [&] {
            return (clip != nullptr ? clip->name : std::string("(null)")) + " " + time_text(time);
        })) {
        return kOfxStatErrMemory;
    }
    if (clip == nullptr || out == nullptr) {
        return kOfxStatErrBadHandle;
    }
    *out = nullptr;
    RenderContext* render = t_render;
    if (render == nullptr) {
        return kOfxStatFailed; // images exist only inside a render
    }
    const int serial = ++g_image_serial;
    if (clip->output) {
        if (render->refuse_output) {
            return kOfxStatFailed;
        }
        Image* image = new_image();
        set_image_props(*image, render->output_bounds, render->depth, render->scale,
                        render->output_data, render->output_rowbytes, serial);
        *out = image->props.handle();
        return kOfxStatOK;
    }
    if (!clip->frames) {
        return kOfxStatFailed;
    }
    const auto factor = static_cast<int32_t>(std::lround(1.0 / render->scale));
    std::shared_ptr<const HostFrame> frame = clip->frames(time, render->depth, factor);
    if (frame == nullptr) {
        return kOfxStatFailed;
    }
    const OfxRectI bounds = pixel_rect(clip_rod(*clip), render->scale);
    if (frame->width != bounds.x2 - bounds.x1 || frame->height != bounds.y2 - bounds.y1 ||
        frame->depth != render->depth) {
        return kOfxStatErrFormat;
    }
    Image* image = new_image();
    std::byte* data = nullptr;
    std::ptrdiff_t rowbytes = 0;
    lay_out(bounds, render->depth, image->storage, data, rowbytes);
    const std::ptrdiff_t px = 4 * sample_bytes(render->depth);
    for (int32_t j = 0; j < frame->height; ++j) {
        // OpenFX row j counts from the bottom; the frame's rows from the top.
        const std::byte* in =
            frame->pixels.data() +
            static_cast<std::ptrdiff_t>(frame->height - 1 - j) * frame->width * px;
        std::byte* row = data + static_cast<std::ptrdiff_t>(j) * rowbytes;
        for (int32_t x = 0; x < frame->width; ++x) {
            to_ofx_pixel(in + x * px, render->depth, row + x * px);
        }
    }
    set_image_props(*image, bounds, render->depth, render->scale, data, rowbytes, serial);
    *out = image->props.handle();
    return kOfxStatOK;
}

// A failed release still releases: the plug-in has nothing else it could do.
OfxStatus clip_release_image(OfxPropertySetHandle handle) {
    const bool fail = suite_call("clipReleaseImage");
    Image* image = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_registry.mutex);
        for (Image* i : g_registry.images) {
            if (i->props.handle() == handle) {
                image = i;
                break;
            }
        }
        if (image == nullptr) {
            return kOfxStatErrBadHandle;
        }
        g_registry.images.erase(image);
    }
    delete image;
    return fail ? kOfxStatFailed : kOfxStatOK;
}

OfxStatus clip_get_region_of_definition(OfxImageClipHandle handle, OfxTime time, OfxRectD* bounds) {
    Clip* clip = clip_of(handle);
    if (suite_call("clipGetRegionOfDefinition", [&] {
            return (clip != nullptr ? clip->name : std::string("(null)")) + " " + time_text(time);
        })) {
        return kOfxStatErrBadHandle;
    }
    if (clip == nullptr || bounds == nullptr) {
        return kOfxStatErrBadHandle;
    }
    *bounds = clip_rod(*clip);
    return kOfxStatOK;
}

int abort_render(OfxImageEffectHandle) {
    return suite_call("abort") ? 1 : 0;
}

OfxStatus image_memory_alloc(OfxImageEffectHandle, size_t bytes, OfxImageMemoryHandle* handle) {
    if (suite_call("imageMemoryAlloc")) {
        return kOfxStatErrMemory;
    }
    if (handle == nullptr) {
        return kOfxStatErrBadHandle;
    }
    void* p = std::malloc(bytes > 0 ? bytes : 1);
    if (p == nullptr) {
        return kOfxStatErrMemory;
    }
    std::lock_guard<std::mutex> lock(g_registry.mutex);
    g_registry.memory.insert(p);
    *handle = static_cast<OfxImageMemoryHandle>(p);
    return kOfxStatOK;
}

OfxStatus image_memory_free(OfxImageMemoryHandle handle) {
    const bool fail = suite_call("imageMemoryFree");
    {
        std::lock_guard<std::mutex> lock(g_registry.mutex);
        if (g_registry.memory.erase(handle) == 0) {
            return kOfxStatErrBadHandle;
        }
    }
    std::free(handle);
    return fail ? kOfxStatFailed : kOfxStatOK;
}

OfxStatus image_memory_lock(OfxImageMemoryHandle handle, void** data) {
    if (suite_call("imageMemoryLock")) {
        return kOfxStatErrMemory;
    }
    if (data == nullptr) {
        return kOfxStatErrBadHandle;
    }
    *data = handle;
    return kOfxStatOK;
}

OfxStatus image_memory_unlock(OfxImageMemoryHandle) {
    if (suite_call("imageMemoryUnlock")) {
        return kOfxStatFailed;
    }
    return kOfxStatOK;
}

const OfxImageEffectSuiteV1 kEffectSuite = {
    get_property_set,      get_param_set,      clip_define,        clip_get_handle,
    clip_get_property_set, clip_get_image,     clip_release_image, clip_get_region_of_definition,
    abort_render,          image_memory_alloc, image_memory_free,  image_memory_lock,
    image_memory_unlock};

// ---- the parameter suite ----

OfxStatus param_define(OfxParamSetHandle set, const char* type, const char* name,
                       OfxPropertySetHandle* props) {
    if (suite_call("paramDefine", [&] { return std::string(name != nullptr ? name : ""); })) {
        return kOfxStatErrUnknown;
    }
    if (set == nullptr || type == nullptr || name == nullptr) {
        return kOfxStatErrBadHandle;
    }
    ParamSet* s = param_set_of(set);
    if (s->find(name) != nullptr) {
        return kOfxStatErrExists;
    }
    auto p = std::make_unique<Param>();
    p->name = name;
    p->type = type;
    p->props.open = true;
    p->props.set_string(kOfxPropType, {kOfxTypeParameter});
    p->props.set_string(kOfxPropName, {name});
    p->props.set_string(kOfxParamPropType, {type});
    p->props.set_string(kOfxPropLabel, {name});
    p->props.set_string(kOfxParamPropParent, {""});
    if (props != nullptr) {
        *props = p->props.handle();
    }
    s->params.push_back(std::move(p));
    return kOfxStatOK;
}

OfxStatus param_get_handle(OfxParamSetHandle set, const char* name, OfxParamHandle* param,
                           OfxPropertySetHandle* props) {
    if (suite_call("paramGetHandle", [&] { return std::string(name != nullptr ? name : ""); })) {
        return kOfxStatErrUnknown;
    }
    if (set == nullptr || name == nullptr || param == nullptr) {
        return kOfxStatErrBadHandle;
    }
    Param* p = param_set_of(set)->find(name);
    if (p == nullptr) {
        return kOfxStatErrUnknown;
    }
    *param = reinterpret_cast<OfxParamHandle>(p);
    if (props != nullptr) {
        *props = p->props.handle();
    }
    return kOfxStatOK;
}

OfxStatus param_set_get_property_set(OfxParamSetHandle set, OfxPropertySetHandle* props) {
    if (suite_call("paramSetGetPropertySet")) {
        return kOfxStatErrBadHandle;
    }
    if (set == nullptr || props == nullptr) {
        return kOfxStatErrBadHandle;
    }
    *props = param_set_of(set)->props.handle();
    return kOfxStatOK;
}

OfxStatus param_get_property_set(OfxParamHandle param, OfxPropertySetHandle* props) {
    if (suite_call("paramGetPropertySet")) {
        return kOfxStatErrBadHandle;
    }
    if (param == nullptr || props == nullptr) {
        return kOfxStatErrBadHandle;
    }
    *props = param_of(param)->props.handle();
    return kOfxStatOK;
}

int components_of(const std::string& type) {
    if (type == kOfxParamTypeRGB) {
        return 3;
    }
    return 1;
}

bool interpolates(const std::string& type) {
    return type == kOfxParamTypeDouble || type == kOfxParamTypeRGB;
}

// Linear between keys for doubles and colours, each key held for the rest;
// the default without keys.
void value_at(const Param& p, double time, double out[3]) {
    const int n = components_of(p.type);
    if (p.keys.empty()) {
        for (int c = 0; c < n; ++c) {
            out[c] =
                p.props.get_double(kOfxParamPropDefault, c,
                                   static_cast<double>(p.props.get_int(kOfxParamPropDefault, c)));
        }
        return;
    }
    if (!(time > p.keys.front().time)) {
        std::copy_n(p.keys.front().values, n, out);
        return;
    }
    if (time >= p.keys.back().time) {
        std::copy_n(p.keys.back().values, n, out);
        return;
    }
    std::size_t k = 1;
    while (p.keys[k].time <= time) {
        ++k;
    }
    const ParamKey& k0 = p.keys[k - 1];
    const ParamKey& k1 = p.keys[k];
    for (int c = 0; c < n; ++c) {
        out[c] = interpolates(p.type) ? k0.values[c] + (k1.values[c] - k0.values[c]) *
                                                           ((time - k0.time) / (k1.time - k0.time))
                                      : k0.values[c];
    }
}

OfxStatus get_value(const char* fn, OfxParamHandle handle, double time, va_list args) {
    Param* p = param_of(handle);
    if (suite_call(fn, [&] {
            return (p != nullptr ? p->name : std::string("(null)")) + " " + time_text(time);
        })) {
        return kOfxStatErrBadHandle;
    }
    if (p == nullptr) {
        return kOfxStatErrBadHandle;
    }
    double v[3] = {0, 0, 0};
    value_at(*p, time, v);
    if (p->type == kOfxParamTypeDouble) {
        *va_arg(args, double*) = v[0];
    } else if (p->type == kOfxParamTypeRGB) {
        for (double c : v) {
            *va_arg(args, double*) = c;
        }
    } else if (p->type == kOfxParamTypeInteger || p->type == kOfxParamTypeBoolean ||
               p->type == kOfxParamTypeChoice) {
        *va_arg(args, int*) = static_cast<int>(std::lround(v[0]));
    } else {
        return kOfxStatErrUnsupported;
    }
    return kOfxStatOK;
}

OfxStatus param_get_value(OfxParamHandle handle, ...) {
    va_list args;
    va_start(args, handle);
    const OfxStatus s = get_value("paramGetValue", handle, 0.0, args);
    va_end(args);
    return s;
}

OfxStatus param_get_value_at_time(OfxParamHandle handle, OfxTime time, ...) {
    va_list args;
    va_start(args, time);
    const OfxStatus s = get_value("paramGetValueAtTime", handle, time, args);
    va_end(args);
    return s;
}

OfxStatus param_unsupported(OfxParamHandle, ...) {
    suite_call("paramSetValue");
    return kOfxStatErrUnsupported;
}
OfxStatus param_unsupported_at(OfxParamHandle, OfxTime, ...) {
    suite_call("paramAtTime");
    return kOfxStatErrUnsupported;
}
OfxStatus param_unsupported_integral(OfxParamHandle, OfxTime, OfxTime, ...) {
    suite_call("paramGetIntegral");
    return kOfxStatErrUnsupported;
}
OfxStatus param_get_num_keys(OfxParamHandle handle, unsigned int* n) {
    if (suite_call("paramGetNumKeys")) {
        return kOfxStatErrBadHandle;
    }
    if (handle == nullptr || n == nullptr) {
        return kOfxStatErrBadHandle;
    }
    *n = static_cast<unsigned int>(param_of(handle)->keys.size());
    return kOfxStatOK;
}
OfxStatus param_get_key_time(OfxParamHandle handle, unsigned int nth, OfxTime* time) {
    if (suite_call("paramGetKeyTime")) {
        return kOfxStatErrBadHandle;
    }
    if (handle == nullptr || time == nullptr) {
        return kOfxStatErrBadHandle;
    }
    const auto& keys = param_of(handle)->keys;
    if (nth >= keys.size()) {
        return kOfxStatErrBadIndex;
    }
    *time = keys[nth].time;
    return kOfxStatOK;
}
OfxStatus param_get_key_index(OfxParamHandle, OfxTime, int, int* index) {
    suite_call("paramGetKeyIndex");
    if (index != nullptr) {
        *index = -1;
    }
    return kOfxStatFailed;
}
OfxStatus param_delete_key(OfxParamHandle, OfxTime) {
    suite_call("paramDeleteKey");
    return kOfxStatErrUnsupported;
}
OfxStatus param_delete_all_keys(OfxParamHandle) {
    suite_call("paramDeleteAllKeys");
    return kOfxStatErrUnsupported;
}
OfxStatus param_copy(OfxParamHandle, OfxParamHandle, OfxTime, const OfxRangeD*) {
    suite_call("paramCopy");
    return kOfxStatErrUnsupported;
}
OfxStatus param_edit_begin(OfxParamSetHandle, const char*) {
    suite_call("paramEditBegin");
    return kOfxStatOK;
}
OfxStatus param_edit_end(OfxParamSetHandle) {
    suite_call("paramEditEnd");
    return kOfxStatOK;
}

const OfxParameterSuiteV1 kParamSuite = {param_define,
                                         param_get_handle,
                                         param_set_get_property_set,
                                         param_get_property_set,
                                         param_get_value,
                                         param_get_value_at_time,
                                         param_unsupported_at,
                                         param_unsupported_integral,
                                         param_unsupported,
                                         param_unsupported_at,
                                         param_get_num_keys,
                                         param_get_key_time,
                                         param_get_key_index,
                                         param_delete_key,
                                         param_delete_all_keys,
                                         param_copy,
                                         param_edit_begin,
                                         param_edit_end};

// ---- memory, threads, messages ----

OfxStatus memory_alloc(void*, size_t bytes, void** data) {
    if (suite_call("memoryAlloc", [&] { return std::to_string(bytes); })) {
        return kOfxStatErrMemory;
    }
    if (data == nullptr) {
        return kOfxStatErrBadHandle;
    }
    void* p = std::malloc(bytes > 0 ? bytes : 1);
    if (p == nullptr) {
        return kOfxStatErrMemory;
    }
    std::lock_guard<std::mutex> lock(g_registry.mutex);
    g_registry.memory.insert(p);
    *data = p;
    return kOfxStatOK;
}

// As with images, a failed free still frees.
OfxStatus memory_free(void* data) {
    const bool fail = suite_call("memoryFree");
    {
        std::lock_guard<std::mutex> lock(g_registry.mutex);
        if (g_registry.memory.erase(data) == 0) {
            return kOfxStatErrBadHandle;
        }
    }
    std::free(data);
    return fail ? kOfxStatErrBadHandle : kOfxStatOK;
}

const OfxMemorySuiteV1 kMemorySuite = {memory_alloc, memory_free};

OfxStatus multi_thread(OfxThreadFunctionV1 func, unsigned int n, void* arg) {
    if (suite_call("multiThread", [&] { return std::to_string(n); })) {
        return kOfxStatFailed;
    }
    if (func == nullptr) {
        return kOfxStatErrBadHandle;
    }
    if (t_spawned) {
        return kOfxStatErrExists;
    }
    const unsigned int count = std::max(1u, std::min(n, g_registry.cpus));
    RenderContext* render = t_render;
    CallContext* calls = t_calls;
    std::vector<std::thread> threads;
    for (unsigned int i = 0; i < count; ++i) {
        threads.emplace_back([=] {
            t_spawned = true;
            t_thread_index = i;
            t_render = render;
            t_calls = calls;
            func(i, count, arg);
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    return kOfxStatOK;
}

OfxStatus multi_thread_num_cpus(unsigned int* n) {
    if (suite_call("multiThreadNumCPUs")) {
        return kOfxStatFailed;
    }
    if (n == nullptr) {
        return kOfxStatErrBadHandle;
    }
    *n = g_registry.cpus;
    return kOfxStatOK;
}

OfxStatus multi_thread_index(unsigned int* index) {
    if (suite_call("multiThreadIndex")) {
        return kOfxStatFailed;
    }
    if (index == nullptr) {
        return kOfxStatErrBadHandle;
    }
    *index = t_spawned ? t_thread_index : 0;
    return kOfxStatOK;
}

int multi_thread_is_spawned() {
    suite_call("multiThreadIsSpawnedThread");
    return t_spawned ? 1 : 0;
}

OfxStatus mutex_create(OfxMutexHandle* mutex, int lock_count) {
    if (suite_call("mutexCreate")) {
        return kOfxStatErrMemory;
    }
    if (mutex == nullptr) {
        return kOfxStatErrBadHandle;
    }
    auto* m = new HostMutex;
    for (int i = 0; i < lock_count; ++i) {
        m->mutex.lock();
    }
    *mutex = reinterpret_cast<OfxMutexHandle>(m);
    return kOfxStatOK;
}
OfxStatus mutex_destroy(const OfxMutexHandle mutex) {
    if (suite_call("mutexDestroy")) {
        return kOfxStatErrBadHandle;
    }
    delete reinterpret_cast<HostMutex*>(mutex);
    return kOfxStatOK;
}
OfxStatus mutex_lock(const OfxMutexHandle mutex) {
    if (suite_call("mutexLock")) {
        return kOfxStatErrBadHandle;
    }
    reinterpret_cast<HostMutex*>(mutex)->mutex.lock();
    return kOfxStatOK;
}
OfxStatus mutex_unlock(const OfxMutexHandle mutex) {
    if (suite_call("mutexUnLock")) {
        return kOfxStatErrBadHandle;
    }
    reinterpret_cast<HostMutex*>(mutex)->mutex.unlock();
    return kOfxStatOK;
}
OfxStatus mutex_try_lock(const OfxMutexHandle mutex) {
    if (suite_call("mutexTryLock")) {
        return kOfxStatFailed;
    }
    return reinterpret_cast<HostMutex*>(mutex)->mutex.try_lock() ? kOfxStatOK : kOfxStatFailed;
}

const OfxMultiThreadSuiteV1 kThreadSuite = {
    multi_thread,  multi_thread_num_cpus, multi_thread_index, multi_thread_is_spawned,
    mutex_create,  mutex_destroy,         mutex_lock,         mutex_unlock,
    mutex_try_lock};

std::string format_message(const char* format, va_list args) {
    if (format == nullptr) {
        return "";
    }
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    return text;
}

OfxStatus message(void* handle, const char* type, const char*, const char* format, ...) {
    if (suite_call("message", [&] { return std::string(type != nullptr ? type : ""); })) {
        return kOfxStatFailed;
    }
    va_list args;
    va_start(args, format);
    const std::string text = format_message(format, args);
    va_end(args);
    if (t_render != nullptr && handle == t_render->effect) {
        t_render->message = text;
    } else {
        std::fprintf(stderr, "pointillo-ofx-host: plug-in message: %s\n", text.c_str());
    }
    return kOfxStatOK;
}

OfxStatus set_persistent_message(void* handle, const char* type, const char*, const char* format,
                                 ...) {
    if (suite_call("setPersistentMessage",
                   [&] { return std::string(type != nullptr ? type : ""); })) {
        return kOfxStatFailed;
    }
    if (handle == nullptr) {
        return kOfxStatErrBadHandle;
    }
    va_list args;
    va_start(args, format);
    const std::string text = format_message(format, args);
    va_end(args);
    if (t_render != nullptr && handle == t_render->effect) {
        t_render->message = text;
    } else {
        std::fprintf(stderr, "pointillo-ofx-host: plug-in message: %s\n", text.c_str());
    }
    return kOfxStatOK;
}

OfxStatus clear_persistent_message(void* handle) {
    if (suite_call("clearPersistentMessage")) {
        return kOfxStatFailed;
    }
    if (handle == nullptr) {
        return kOfxStatErrBadHandle;
    }
    if (t_render != nullptr && handle == t_render->effect) {
        t_render->message.clear();
    }
    return kOfxStatOK;
}

const OfxMessageSuiteV2 kMessageSuite = {message, set_persistent_message, clear_persistent_message};

const void* fetch_suite(OfxPropertySetHandle, const char* name, int version) {
    if (name == nullptr) {
        return nullptr;
    }
    const std::string n = name;
    if (n == kOfxPropertySuite && version == 1) {
        return property_suite();
    }
    if (n == kOfxImageEffectSuite && version == 1) {
        return &kEffectSuite;
    }
    if (n == kOfxParameterSuite && version == 1) {
        return &kParamSuite;
    }
    if (n == kOfxMemorySuite && version == 1) {
        return &kMemorySuite;
    }
    if (n == kOfxMultiThreadSuite && version == 1) {
        return &kThreadSuite;
    }
    if (n == kOfxMessageSuite && (version == 1 || version == 2)) {
        return &kMessageSuite;
    }
    return nullptr;
}

// ---- the library ----

struct Library {
    void* handle = nullptr;

    explicit Library(const std::string& path) {
#if defined(_WIN32)
        handle = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
        if (handle == nullptr) {
            throw std::runtime_error("cannot load " + path);
        }
#else
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            throw std::runtime_error("cannot load " + path + ": " + dlerror());
        }
#endif
    }
    ~Library() {
#if defined(_WIN32)
        FreeLibrary(reinterpret_cast<HMODULE>(handle));
#else
        dlclose(handle);
#endif
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    void* symbol(const char* name) const {
#if defined(_WIN32)
        return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
#else
        return dlsym(handle, name);
#endif
    }
};

struct LoadedPlugin {
    OfxPlugin* plugin = nullptr;
    std::unique_ptr<Effect> descriptor;
    std::map<std::string, std::unique_ptr<Effect>> contexts; // by OpenFX context name
    PluginEntry entry;
    bool loaded = false;
};

OfxStatus call(const LoadedPlugin& p, const char* action, const void* handle, PropertySet* in_args,
               PropertySet* out_args) {
    return p.plugin->mainEntry(action, handle, in_args != nullptr ? in_args->handle() : nullptr,
                               out_args != nullptr ? out_args->handle() : nullptr);
}

} // namespace

CallContext& current_calls() {
    return t_calls != nullptr ? *t_calls : g_host_calls;
}

void set_current_calls(CallContext* context) {
    t_calls = context;
}

struct Host::State {
    std::string bundle;
    std::unique_ptr<Library> library;
    PropertySet host_props;
    OfxHost ofx_host{};
    std::vector<std::unique_ptr<LoadedPlugin>> plugins;
    std::vector<PluginEntry> entries;
};

struct Instance::State {
    Host::State* host = nullptr;
    LoadedPlugin* plugin = nullptr;
    std::unique_ptr<Effect> effect;
    RenderSetup setup;
    std::string context;
    bool temporal = false;
};

Host::Host(const std::string& bundle, HostOptions options) : state_(std::make_unique<State>()) {
    g_registry.options = options;
    g_registry.cpus =
        options.cpus != 0 ? options.cpus : std::max(1u, std::thread::hardware_concurrency());
    const std::filesystem::path dir = std::filesystem::absolute(bundle);
    std::string name = dir.filename().string();
    const std::string suffix = ".ofx.bundle";
    if (name.empty()) {
        name = dir.parent_path().filename().string();
    }
    if (name.size() <= suffix.size() || name.substr(name.size() - suffix.size()) != suffix) {
        throw std::runtime_error(bundle + " is not a bundle folder (NAME.ofx.bundle)");
    }
    const std::string base = name.substr(0, name.size() - suffix.size());
    const std::filesystem::path binary = dir / "Contents" / kArchitecture / (base + ".ofx");
    state_->bundle = dir.string();
    state_->library = std::make_unique<Library>(binary.string());

    PropertySet& h = state_->host_props;
    h.set_string(kOfxPropType, {kOfxTypeImageEffectHost});
    h.set_string(kOfxPropName, {"org.pointillo.ofx-test-host"});
    h.set_string(kOfxPropLabel, {"Pointillo OpenFX test host"});
    h.set_int(kOfxPropAPIVersion, {1, 4});
    h.set_int(kOfxPropVersion, {1, 0});
    h.set_string(kOfxPropVersionLabel, {"1.0"});
    h.set_int("OfxImageEffectHostPropIsBackground", {1});
    h.set_int("OfxImageEffectPropSupportsOverlays", {0});
    h.set_int(kOfxImageEffectPropSupportsMultiResolution, {1});
    h.set_int(kOfxImageEffectPropSupportsTiles, {0});
    h.set_int(kOfxImageEffectPropTemporalClipAccess, {options.temporal ? 1 : 0});
    h.set_string(kOfxImageEffectPropSupportedComponents, {kOfxImageComponentRGBA});
    h.set_string(kOfxImageEffectPropSupportedContexts,
                 {kOfxImageEffectContextFilter, kOfxImageEffectContextTransition,
                  kOfxImageEffectContextGeneral});
    h.set_string(kOfxImageEffectPropSupportedPixelDepths,
                 {kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat});
    h.set_int(kOfxImageEffectPropSupportsMultipleClipDepths, {0});
    h.set_int(kOfxImageEffectPropSupportsMultipleClipPARs, {0});
    h.set_int("OfxImageEffectPropSetableFrameRate", {0});
    h.set_int("OfxImageEffectPropSetableFielding", {0});
    h.set_int(kOfxParamHostPropSupportsBooleanAnimation, {1});
    h.set_int(kOfxParamHostPropSupportsChoiceAnimation, {1});
    h.set_int("OfxParamHostPropSupportsStringAnimation", {0});
    h.set_int("OfxParamHostPropSupportsCustomAnimation", {0});
    h.set_int("OfxParamHostPropSupportsCustomInteract", {0});
    h.set_int("OfxParamHostPropMaxParameters", {-1});
    h.set_int("OfxParamHostPropMaxPages", {0});
    h.set_int("OfxParamHostPropPageRowColumnCount", {0, 0});
    h.set_int("OfxImageEffectInstancePropSequentialRender", {0});
    h.set_string("OfxImageEffectHostPropNativeOrigin",
                 {"kOfxImageEffectHostPropNativeOriginBottomLeft"});
    state_->ofx_host.host = h.handle();
    state_->ofx_host.fetchSuite = fetch_suite;

    using GetCount = int (*)();
    using GetPlugin = OfxPlugin* (*)(int);
    auto* count = reinterpret_cast<GetCount>(state_->library->symbol("OfxGetNumberOfPlugins"));
    auto* get = reinterpret_cast<GetPlugin>(state_->library->symbol("OfxGetPlugin"));
    if (count == nullptr || get == nullptr) {
        throw std::runtime_error(binary.string() + " lacks the OpenFX entry points");
    }
    using SetHost = OfxStatus (*)(const OfxHost*);
    if (auto* set_host = reinterpret_cast<SetHost>(state_->library->symbol("OfxSetHost"))) {
        if (set_host(&state_->ofx_host) == kOfxStatFailed) {
            return;
        }
    }
    const int n = count();
    for (int i = 0; i < n; ++i) {
        OfxPlugin* plugin = get(i);
        if (plugin == nullptr || plugin->pluginApi == nullptr ||
            std::string(plugin->pluginApi) != kOfxImageEffectPluginApi || plugin->apiVersion != 1) {
            continue;
        }
        auto p = std::make_unique<LoadedPlugin>();
        p->plugin = plugin;
        p->entry.id = plugin->pluginIdentifier;
        plugin->setHost(&state_->ofx_host);
        if (call(*p, kOfxActionLoad, nullptr, nullptr, nullptr) != kOfxStatOK) {
            continue;
        }
        p->loaded = true;
        p->descriptor = std::make_unique<Effect>();
        PropertySet& d = p->descriptor->props;
        d.open = true;
        d.set_string(kOfxPropType, {kOfxTypeImageEffect});
        d.set_string(kOfxPluginPropFilePath, {state_->bundle});
        d.set_string(kOfxImageEffectPluginRenderThreadSafety, {"OfxImageEffectRenderInstanceSafe"});
        d.set_int(kOfxImageEffectPluginPropHostFrameThreading, {1});
        d.set_int(kOfxImageEffectPropSupportsMultiResolution, {1});
        d.set_int(kOfxImageEffectPropSupportsTiles, {1});
        d.set_int(kOfxImageEffectPropTemporalClipAccess, {0});
        if (call(*p, kOfxActionDescribe, p->descriptor.get(), nullptr, nullptr) != kOfxStatOK) {
            call(*p, kOfxActionUnload, nullptr, nullptr, nullptr);
            continue;
        }
        for (const std::string& c : d.get_strings(kOfxImageEffectPropSupportedContexts)) {
            p->entry.contexts.push_back(short_context(c));
        }
        state_->entries.push_back(p->entry);
        state_->plugins.push_back(std::move(p));
    }
}

Host::~Host() {
    for (auto& p : state_->plugins) {
        if (p->loaded) {
            call(*p, kOfxActionUnload, nullptr, nullptr, nullptr);
        }
    }
    state_->plugins.clear();
    state_->library.reset();
}

const std::vector<PluginEntry>& Host::plugins() const {
    return state_->entries;
}

int64_t Host::live_images() const {
    std::lock_guard<std::mutex> lock(g_registry.mutex);
    return static_cast<int64_t>(g_registry.images.size());
}

int64_t Host::live_allocations() const {
    std::lock_guard<std::mutex> lock(g_registry.mutex);
    return static_cast<int64_t>(g_registry.memory.size());
}

namespace {

void check_mandated(const Effect& ctx, const std::string& context) {
    const auto need_clip = [&](const char* name) {
        if (const_cast<Effect&>(ctx).clip(name) == nullptr) {
            throw std::runtime_error(std::string("the plug-in defines no clip ") + name + " in " +
                                     short_context(context));
        }
    };
    need_clip(kOfxImageEffectOutputClipName);
    if (context == kOfxImageEffectContextTransition) {
        need_clip(kOfxImageEffectTransitionSourceFromClipName);
        need_clip(kOfxImageEffectTransitionSourceToClipName);
        if (const_cast<Effect&>(ctx).params.find(kOfxImageEffectTransitionParamName) == nullptr) {
            throw std::runtime_error("the transition defines no Transition parameter");
        }
    }
    if (context == kOfxImageEffectContextFilter) {
        need_clip(kOfxImageEffectSimpleSourceClipName);
    }
}

} // namespace

std::unique_ptr<Instance> Host::instantiate(const RenderSetup& setup) {
    LoadedPlugin* plugin = nullptr;
    for (auto& p : state_->plugins) {
        if (p->entry.id == setup.plugin) {
            plugin = p.get();
        }
    }
    if (plugin == nullptr) {
        throw std::runtime_error("the bundle has no plug-in " + setup.plugin);
    }
    const std::string context = ofx_context(setup.context);
    if (std::find(plugin->entry.contexts.begin(), plugin->entry.contexts.end(), setup.context) ==
        plugin->entry.contexts.end()) {
        throw std::runtime_error(setup.plugin + " has no " + setup.context + " context");
    }
    if (!(setup.fps > 0.0) || setup.frames < 1) {
        throw std::runtime_error("the frame rate and frame count must be positive");
    }
    const double inverse = 1.0 / setup.render_scale;
    if (!(setup.render_scale > 0.0 && setup.render_scale <= 1.0) ||
        std::abs(inverse - std::round(inverse)) > 1e-9 || std::round(inverse) > 8) {
        throw std::runtime_error("the render scale must be 1, 1/2, ... or 1/8");
    }

    auto& described = plugin->contexts[context];
    if (described == nullptr) {
        auto ctx = std::make_unique<Effect>();
        ctx->props = PropertySet(plugin->descriptor->props);
        ctx->props.open = true;
        ctx->props.set_string(kOfxImageEffectPropContext, {context});
        PropertySet in_args;
        in_args.set_string(kOfxImageEffectPropContext, {context});
        const OfxStatus s =
            call(*plugin, kOfxImageEffectActionDescribeInContext, ctx.get(), &in_args, nullptr);
        if (s != kOfxStatOK) {
            throw std::runtime_error("the plug-in refused to describe " + setup.context +
                                     " (status " + std::to_string(s) + ")");
        }
        check_mandated(*ctx, context);
        described = std::move(ctx);
    }
    const Effect& desc = *described;

    auto state = std::make_unique<Instance::State>();
    state->host = state_.get();
    state->plugin = plugin;
    state->setup = setup;
    state->context = context;
    state->temporal = state_->host_props.get_int(kOfxImageEffectPropTemporalClipAccess) != 0 &&
                      plugin->descriptor->props.get_int(kOfxImageEffectPropTemporalClipAccess) != 0;
    state->effect = std::make_unique<Effect>();
    Effect& e = *state->effect;

    // Inputs connect in the order the plug-in defined its clips.
    std::size_t next_input = 0;
    for (const auto& dc : desc.clips) {
        auto c = std::make_unique<Clip>();
        c->name = dc->name;
        c->output = dc->output;
        c->props = PropertySet(dc->props);
        c->props.open = false;
        if (!c->output && next_input < setup.inputs.size()) {
            c->frames = setup.inputs[next_input++];
            const auto first = c->frames(0.0, PixelDepth::k8, 1);
            if (first == nullptr) {
                throw std::runtime_error("input " + c->name + " has no frame at time 0");
            }
            // Full-resolution size: the frames asked at scale 1 are that big.
            c->width = first->width;
            c->height = first->height;
        }
        const bool connected = c->output || c->frames != nullptr;
        c->props.set_int(kOfxImageClipPropConnected, {connected ? 1 : 0});
        c->props.set_string(kOfxImageEffectPropPixelDepth,
                            {connected ? depth_name(setup.depth) : kOfxBitDepthNone});
        c->props.set_string(kOfxImageEffectPropComponents,
                            {connected ? kOfxImageComponentRGBA : kOfxImageComponentNone});
        c->props.set_string("OfxImageClipPropUnmappedPixelDepth", {depth_name(setup.depth)});
        c->props.set_string("OfxImageClipPropUnmappedComponents", {kOfxImageComponentRGBA});
        c->props.set_string(kOfxImageEffectPropPreMultiplication, {kOfxImagePreMultiplied});
        c->props.set_double(kOfxImagePropPixelAspectRatio, {1.0});
        c->props.set_double(kOfxImageEffectPropFrameRate, {setup.fps});
        c->props.set_double("OfxImageEffectPropUnmappedFrameRate", {setup.fps});
        c->props.set_double(kOfxImageEffectPropFrameRange,
                            {0.0, static_cast<double>(setup.frames - 1)});
        c->props.set_double("OfxImageEffectPropUnmappedFrameRange",
                            {0.0, static_cast<double>(setup.frames - 1)});
        c->props.set_string(kOfxImageClipPropFieldOrder, {kOfxImageFieldNone});
        c->props.set_int("OfxImageClipPropContinuousSamples", {0});
        c->props.set_int(
            kOfxImageEffectPropTemporalClipAccess,
            {state->temporal && dc->props.get_int(kOfxImageEffectPropTemporalClipAccess) != 0 ? 1
                                                                                              : 0});
        e.clips.push_back(std::move(c));
    }
    if (next_input < setup.inputs.size()) {
        throw std::runtime_error("the " + setup.context + " context takes " +
                                 std::to_string(next_input) + " inputs");
    }

    for (const auto& dp : desc.params.params) {
        auto p = std::make_unique<Param>();
        p->name = dp->name;
        p->type = dp->type;
        p->props = PropertySet(dp->props);
        p->props.open = false;
        p->props.set_string(kOfxPropType, {kOfxTypeParameterInstance});
        p->props.set_int("OfxParamPropIsAnimating", {0});
        p->props.set_int("OfxParamPropIsAutoKeying", {0});
        e.params.params.push_back(std::move(p));
    }
    if (context == kOfxImageEffectContextTransition) {
        // The host's own timing: t / (N - 1), held to 0..1.
        Param* t = e.params.find(kOfxImageEffectTransitionParamName);
        ParamKey k0;
        ParamKey k1;
        k1.time = static_cast<double>(std::max(setup.frames - 1, 1));
        k1.values[0] = 1.0;
        t->keys = {k0, k1};
    }
    for (const auto& [name, keys] : setup.params) {
        Param* p = e.params.find(name);
        if (p == nullptr || p->type == kOfxParamTypeGroup ||
            (context == kOfxImageEffectContextTransition &&
             name == kOfxImageEffectTransitionParamName)) {
            throw std::runtime_error("the plug-in has no parameter \"" + name + "\" in " +
                                     setup.context);
        }
        std::vector<ParamKey> k = keys;
        std::sort(k.begin(), k.end(),
                  [](const ParamKey& a, const ParamKey& b) { return a.time < b.time; });
        if (p->type == kOfxParamTypeChoice) {
            // Items are numbered from 1 on the command line, from 0 here.
            for (ParamKey& key : k) {
                key.values[0] -= 1.0;
            }
        }
        p->keys = std::move(k);
        p->props.set_int("OfxParamPropIsAnimating", {p->keys.size() > 1 ? 1 : 0});
    }

    PropertySet& ip = e.props;
    ip = PropertySet(plugin->descriptor->props);
    ip.open = false;
    ip.set_string(kOfxPropType, {kOfxTypeImageEffectInstance});
    ip.set_string(kOfxImageEffectPropContext, {context});
    ip.set_pointer(kOfxPropInstanceData, {nullptr});
    ip.set_pointer(kOfxImageEffectPropPluginHandle, {plugin->descriptor.get()});
    double width = 0.0;
    double height = 0.0;
    for (const auto& c : e.clips) {
        width = std::max(width, static_cast<double>(c->width));
        height = std::max(height, static_cast<double>(c->height));
    }
    const ImageLayout& l = g_registry.options.layout;
    ip.set_double(kOfxImageEffectPropProjectSize, {width, height});
    ip.set_double(kOfxImageEffectPropProjectExtent, {l.origin_x + width, l.origin_y + height});
    ip.set_double(kOfxImageEffectPropProjectOffset,
                  {static_cast<double>(l.origin_x), static_cast<double>(l.origin_y)});
    ip.set_double(kOfxImageEffectPropProjectPixelAspectRatio, {1.0});
    ip.set_double("OfxImageEffectInstancePropEffectDuration", {static_cast<double>(setup.frames)});
    ip.set_double(kOfxImageEffectPropFrameRate, {setup.fps});
    ip.set_int(kOfxPropIsInteractive, {0});
    ip.set_int("OfxImageEffectInstancePropSequentialRender", {0});

    const OfxStatus created =
        call(*plugin, kOfxActionCreateInstance, state->effect.get(), nullptr, nullptr);
    if (created != kOfxStatOK) {
        throw std::runtime_error("the plug-in refused the instance (status " +
                                 std::to_string(created) + ")");
    }

    // The preferences are asked for and kept as the host's own defaults:
    // every clip is RGBA, premultiplied, at the one depth.
    PropertySet prefs;
    prefs.open = true;
    for (const auto& c : e.clips) {
        prefs.set_string("OfxImageClipPropComponents_" + c->name, {kOfxImageComponentRGBA});
        prefs.set_string("OfxImageClipPropDepth_" + c->name, {depth_name(setup.depth)});
        prefs.set_double("OfxImageClipPropPAR_" + c->name, {1.0});
    }
    prefs.set_double(kOfxImageEffectPropFrameRate, {setup.fps});
    prefs.set_string(kOfxImageClipPropFieldOrder, {kOfxImageFieldNone});
    prefs.set_string(kOfxImageEffectPropPreMultiplication, {kOfxImagePreMultiplied});
    prefs.set_int("OfxImageClipPropContinuousSamples", {0});
    prefs.set_int(kOfxImageEffectFrameVarying, {0});
    call(*plugin, kOfxImageEffectActionGetClipPreferences, state->effect.get(), nullptr, &prefs);
    return std::make_unique<Instance>(std::move(state));
}

Instance::Instance(std::unique_ptr<State> state) : state_(std::move(state)) {}

Instance::~Instance() {
    call(*state_->plugin, kOfxActionDestroyInstance, state_->effect.get(), nullptr, nullptr);
}

void Instance::begin_sequence() {
    PropertySet in_args;
    in_args.set_double(kOfxImageEffectPropFrameRange,
                       {0.0, static_cast<double>(state_->setup.frames - 1)});
    in_args.set_double(kOfxImageEffectPropFrameStep, {1.0});
    in_args.set_int(kOfxPropIsInteractive, {0});
    in_args.set_double(kOfxImageEffectPropRenderScale,
                       {state_->setup.render_scale, state_->setup.render_scale});
    in_args.set_int(kOfxImageEffectPropSequentialRenderStatus, {0});
    in_args.set_int(kOfxImageEffectPropInteractiveRenderStatus, {0});
    call(*state_->plugin, kOfxImageEffectActionBeginSequenceRender, state_->effect.get(), &in_args,
         nullptr);
}

void Instance::end_sequence() {
    PropertySet in_args;
    in_args.set_double(kOfxImageEffectPropFrameRange,
                       {0.0, static_cast<double>(state_->setup.frames - 1)});
    in_args.set_double(kOfxImageEffectPropFrameStep, {1.0});
    in_args.set_int(kOfxPropIsInteractive, {0});
    in_args.set_double(kOfxImageEffectPropRenderScale,
                       {state_->setup.render_scale, state_->setup.render_scale});
    in_args.set_int(kOfxImageEffectPropSequentialRenderStatus, {0});
    in_args.set_int(kOfxImageEffectPropInteractiveRenderStatus, {0});
    call(*state_->plugin, kOfxImageEffectActionEndSequenceRender, state_->effect.get(), &in_args,
         nullptr);
}

RenderedFrame Instance::render(int32_t frame, const RenderFaults& faults) {
    const RenderSetup& setup = state_->setup;
    Effect& e = *state_->effect;
    const LoadedPlugin& plugin = *state_->plugin;
    const double time = frame;
    const double scale = setup.render_scale;

    RenderContext ctx;
    ctx.effect = &e;
    ctx.scale = scale;
    ctx.depth = setup.depth;
    ctx.refuse_output = faults.refuse_output;
    ctx.calls.fail_at = faults.fail_call;
    ctx.calls.record = faults.record;
    RenderContext* previous = t_render;
    CallContext* previous_calls = t_calls;
    t_render = &ctx;
    t_calls = &ctx.calls;

    RenderedFrame out;
    out.depth = setup.depth;
    const auto done = [&](OfxStatus status) {
        out.status = status;
        out.message = ctx.message;
        out.calls = ctx.calls.count.load();
        out.failed_call = ctx.calls.failed_call;
        out.failed_name = ctx.calls.failed_name;
        {
            std::lock_guard<std::mutex> lock(ctx.calls.mutex);
            out.log = ctx.calls.log;
        }
        t_render = previous;
        t_calls = previous_calls;
        return out;
    };
    const auto failed = [](OfxStatus s) { return s != kOfxStatOK && s != kOfxStatReplyDefault; };

    // The default region: the union of the connected inputs.
    OfxRectD rod{0, 0, 0, 0};
    bool any = false;
    for (const auto& c : e.clips) {
        if (c->output || !c->frames) {
            continue;
        }
        const OfxRectD r = clip_rod(*c);
        rod = any ? OfxRectD{std::min(rod.x1, r.x1), std::min(rod.y1, r.y1), std::max(rod.x2, r.x2),
                             std::max(rod.y2, r.y2)}
                  : r;
        any = true;
    }
    {
        PropertySet in_args;
        in_args.set_double(kOfxPropTime, {time});
        in_args.set_double(kOfxImageEffectPropRenderScale, {scale, scale});
        PropertySet out_args;
        out_args.set_double(kOfxImageEffectPropRegionOfDefinition,
                            {rod.x1, rod.y1, rod.x2, rod.y2});
        const OfxStatus s =
            call(plugin, kOfxImageEffectActionGetRegionOfDefinition, &e, &in_args, &out_args);
        if (failed(s)) {
            return done(s);
        }
        rod = {out_args.get_double(kOfxImageEffectPropRegionOfDefinition, 0),
               out_args.get_double(kOfxImageEffectPropRegionOfDefinition, 1),
               out_args.get_double(kOfxImageEffectPropRegionOfDefinition, 2),
               out_args.get_double(kOfxImageEffectPropRegionOfDefinition, 3)};
    }
    {
        PropertySet in_args;
        in_args.set_double(kOfxPropTime, {time});
        in_args.set_double(kOfxImageEffectPropRenderScale, {scale, scale});
        in_args.set_double(kOfxImageEffectPropRegionOfInterest, {rod.x1, rod.y1, rod.x2, rod.y2});
        PropertySet out_args;
        for (const auto& c : e.clips) {
            if (!c->output) {
                out_args.set_double("OfxImageClipPropRoI_" + c->name,
                                    {rod.x1, rod.y1, rod.x2, rod.y2});
            }
        }
        const OfxStatus s =
            call(plugin, kOfxImageEffectActionGetRegionsOfInterest, &e, &in_args, &out_args);
        if (failed(s)) {
            return done(s);
        }
    }
    if (state_->temporal) {
        PropertySet in_args;
        in_args.set_double(kOfxPropTime, {time});
        PropertySet out_args;
        for (const auto& c : e.clips) {
            if (!c->output) {
                out_args.set_double("OfxImageClipPropFrameRange_" + c->name, {time, time});
            }
        }
        const OfxStatus s =
            call(plugin, kOfxImageEffectActionGetFramesNeeded, &e, &in_args, &out_args);
        if (failed(s)) {
            return done(s);
        }
    }
    const OfxRectI bounds = pixel_rect(rod, scale);
    ctx.output_bounds = bounds;
    lay_out(bounds, setup.depth, ctx.output, ctx.output_data, ctx.output_rowbytes);
    {
        PropertySet in_args;
        in_args.set_double(kOfxPropTime, {time});
        in_args.set_string(kOfxImageEffectPropFieldToRender, {kOfxImageFieldNone});
        in_args.set_int(kOfxImageEffectPropRenderWindow,
                        {bounds.x1, bounds.y1, bounds.x2, bounds.y2});
        in_args.set_double(kOfxImageEffectPropRenderScale, {scale, scale});
        PropertySet out_args;
        out_args.set_string(kOfxPropName, {""});
        out_args.set_double(kOfxPropTime, {time});
        const OfxStatus s = call(plugin, kOfxImageEffectActionIsIdentity, &e, &in_args, &out_args);
        if (failed(s)) {
            return done(s);
        }
        if (s == kOfxStatOK && !out_args.get_string(kOfxPropName).empty()) {
            throw std::runtime_error("the plug-in answered identity, which the host does not copy");
        }
    }
    {
        PropertySet in_args;
        in_args.set_double(kOfxPropTime, {time});
        in_args.set_string(kOfxImageEffectPropFieldToRender, {kOfxImageFieldNone});
        in_args.set_int(kOfxImageEffectPropRenderWindow,
                        {bounds.x1, bounds.y1, bounds.x2, bounds.y2});
        in_args.set_double(kOfxImageEffectPropRenderScale, {scale, scale});
        in_args.set_int(kOfxImageEffectPropSequentialRenderStatus, {0});
        in_args.set_int(kOfxImageEffectPropInteractiveRenderStatus, {0});
        in_args.set_int("OfxImageEffectPropRenderQualityDraft", {0});
        const OfxStatus s = call(plugin, kOfxImageEffectActionRender, &e, &in_args, nullptr);
        if (s != kOfxStatOK) {
            return done(s);
        }
    }
    // The output in the core's layout, top row first, OpenFX sample ranges.
    out.width = bounds.x2 - bounds.x1;
    out.height = bounds.y2 - bounds.y1;
    const std::ptrdiff_t px = 4 * sample_bytes(setup.depth);
    out.pixels.resize(static_cast<std::size_t>(out.width * out.height * px));
    for (int32_t r = 0; r < out.height; ++r) {
        const std::byte* row =
            ctx.output_data + static_cast<std::ptrdiff_t>(out.height - 1 - r) * ctx.output_rowbytes;
        std::byte* to = out.pixels.data() + static_cast<std::ptrdiff_t>(r) * out.width * px;
        const std::ptrdiff_t s = sample_bytes(setup.depth);
        for (int32_t x = 0; x < out.width; ++x) {
            const std::byte* in = row + x * px;
            std::byte* o = to + x * px;
            // r, g, b, a to a, r, g, b
            std::memcpy(o, in + 3 * s, static_cast<std::size_t>(s));
            std::memcpy(o + s, in, static_cast<std::size_t>(3 * s));
        }
    }
    return done(kOfxStatOK);
}

} // namespace pointillo::ofxhost
