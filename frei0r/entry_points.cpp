// The frei0r entry points. This file is built into both plug-ins, with
// POINTILLO_FREI0R_TRANSITION 1 for the transition and 0 for the filter; no
// exception ever crosses into the host, which has no way to hear of one.

#include "plugin_frame.h"
#include "plugin_params.h"
#include "render/set_down.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

// frei0r.h is a C header without its own linkage block.
extern "C" {
#include <frei0r.h>
}

#ifndef POINTILLO_FREI0R_TRANSITION
#error "POINTILLO_FREI0R_TRANSITION must be 0 or 1"
#endif

#define POINTILLO_FREI0R_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using pointillo::frei0r::PluginInstance;
using pointillo::frei0r::PluginKind;
using pointillo::frei0r::PluginParamType;

constexpr PluginKind kKind =
    POINTILLO_FREI0R_TRANSITION ? PluginKind::kTransition : PluginKind::kFilter;

PluginInstance* instance_of(f0r_instance_t instance) {
    return static_cast<PluginInstance*>(instance);
}

int frei0r_type(PluginParamType type) {
    switch (type) {
    case PluginParamType::kBool:
        return F0R_PARAM_BOOL;
    case PluginParamType::kColor:
        return F0R_PARAM_COLOR;
    case PluginParamType::kDouble:
        break;
    }
    return F0R_PARAM_DOUBLE;
}

const pointillo::frei0r::PluginParam* param_at(int index) {
    const auto params = pointillo::frei0r::plugin_params(kKind);
    return index >= 0 && static_cast<std::size_t>(index) < params.size()
               ? &params[static_cast<std::size_t>(index)]
               : nullptr;
}

// Services holding the plug-in: MLT calls f0r_init as it makes a filter
// but not a transition, and f0r_deinit as it closes either, possibly while
// other services of the same plug-in still draw.
std::atomic<int> g_users{0};

// A frame that could not be drawn (memory ran out) comes out transparent.
void clear_frame(const PluginInstance& instance, uint32_t* output) {
    std::memset(output, 0,
                static_cast<std::size_t>(instance.width) *
                    static_cast<std::size_t>(instance.height) * 4);
}

void update(f0r_instance_t instance, double time, const uint32_t* input1, const uint32_t* input2,
            uint32_t* output) {
    PluginInstance* self = instance_of(instance);
    if (self == nullptr || input1 == nullptr || output == nullptr ||
        (kKind == PluginKind::kTransition && input2 == nullptr)) {
        return;
    }
    try {
        pointillo::frei0r::render_plugin_frame(*self, time, input1, input2, output);
    } catch (...) {
        clear_frame(*self, output);
    }
}

} // namespace

POINTILLO_FREI0R_EXPORT int f0r_init() {
    g_users.fetch_add(1, std::memory_order_relaxed);
    return 1;
}

// The last user gone (or one more set-down than set-ups), the core lets go
// of its caches; doing so early only costs another instance a rebuild.
POINTILLO_FREI0R_EXPORT void f0r_deinit() {
    int users = g_users.load(std::memory_order_relaxed);
    while (users > 0 &&
           !g_users.compare_exchange_weak(users, users - 1, std::memory_order_relaxed)) {
    }
    if (users <= 1) {
        pointillo::set_down_core();
    }
}

POINTILLO_FREI0R_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    if (info == nullptr) {
        return;
    }
    if (kKind == PluginKind::kTransition) {
        info->name = "pointillo_transition";
        info->plugin_type = F0R_PLUGIN_TYPE_MIXER2;
        info->explanation = "The first clip turns into dots that fly and settle into the second";
    } else {
        info->name = "pointillo";
        info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
        info->explanation = "The picture as dots that break apart and re-form with Progress";
    }
    info->author = "Pointillo";
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = POINTILLO_VERSION_MAJOR;
    info->minor_version = POINTILLO_VERSION_MINOR;
    info->num_params = static_cast<int>(pointillo::frei0r::plugin_params(kKind).size());
}

POINTILLO_FREI0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
    const auto* param = param_at(param_index);
    if (info == nullptr || param == nullptr) {
        return;
    }
    info->name = param->name;
    info->type = frei0r_type(param->type);
    info->explanation = param->explanation;
}

POINTILLO_FREI0R_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    try {
        return pointillo::frei0r::make_instance(kKind, width, height).release();
    } catch (...) {
        return nullptr;
    }
}

POINTILLO_FREI0R_EXPORT void f0r_destruct(f0r_instance_t instance) {
    delete instance_of(instance);
}

POINTILLO_FREI0R_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param,
                                                 int param_index) {
    PluginInstance* self = instance_of(instance);
    const auto* info = param_at(param_index);
    if (self == nullptr || param == nullptr || info == nullptr) {
        return;
    }
    switch (info->type) {
    case PluginParamType::kBool:
        pointillo::frei0r::set_bool(self->values, param_index,
                                    *static_cast<const f0r_param_bool*>(param));
        break;
    case PluginParamType::kDouble:
        pointillo::frei0r::set_double(self->values, param_index,
                                      *static_cast<const f0r_param_double*>(param));
        break;
    case PluginParamType::kColor: {
        const auto* color = static_cast<const f0r_param_color_t*>(param);
        pointillo::frei0r::set_color(self->values, param_index, {color->r, color->g, color->b});
        break;
    }
    }
}

POINTILLO_FREI0R_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param,
                                                 int param_index) {
    const PluginInstance* self = instance_of(instance);
    const auto* info = param_at(param_index);
    if (self == nullptr || param == nullptr || info == nullptr) {
        return;
    }
    if (info->type == PluginParamType::kColor) {
        const pointillo::frei0r::PluginColor color =
            pointillo::frei0r::get_color(self->values, param_index);
        *static_cast<f0r_param_color_t*>(param) = {color.red, color.green, color.blue};
    } else {
        *static_cast<double*>(param) = pointillo::frei0r::get_number(self->values, param_index);
    }
}

#if POINTILLO_FREI0R_TRANSITION
POINTILLO_FREI0R_EXPORT void f0r_update2(f0r_instance_t instance, double time,
                                         const uint32_t* inframe1, const uint32_t* inframe2,
                                         const uint32_t* /*inframe3*/, uint32_t* outframe) {
    update(instance, time, inframe1, inframe2, outframe);
}
#else
POINTILLO_FREI0R_EXPORT void f0r_update(f0r_instance_t instance, double time,
                                        const uint32_t* inframe, uint32_t* outframe) {
    update(instance, time, inframe, nullptr, outframe);
}
#endif
