#pragma once

// One instance of a plug-in in one context, and the actions it answers.
// Each action reads what it needs through the host's suites and raises on a
// failed call; the entry guard turns that into the action's status.

#include "frame/param_table.h"
#include "ofx_api.h"
#include "plugin_params.h"

#include <array>
#include <vector>

namespace pointillo::ofx {

struct InstanceClip {
    OfxImageClipHandle handle = nullptr;
    OfxPropertySetHandle props = nullptr;
};

struct Instance {
    PluginKind kind = PluginKind::kTransition;
    Context context = Context::kTransition;
    OfxImageEffectHandle handle = nullptr;
    InstanceClip output;
    std::array<InstanceClip, 2> inputs{}; // the filter's one input is both
    // The host's "Transition" or the filter's "Progress"; none in the general
    // transition, which has its own timing.
    const OfxParamDesc* first = nullptr;
    OfxParamHandle first_handle = nullptr;
    // The effect's parameters by their index, null where the context does not
    // show one.
    std::array<const OfxParamDesc*, kParamCount> descs{};
    std::array<OfxParamHandle, kParamCount> handles{};
};

// Defines the clips and parameters of `kind` in `context` on a context
// descriptor.
void describe_in_context(PluginKind kind, Context context, OfxImageEffectHandle descriptor);

// The instance's handles, fetched once.
Instance make_instance(PluginKind kind, OfxImageEffectHandle handle);

void clip_preferences(const Instance& self, OfxPropertySetHandle out_args);
void region_of_definition(const Instance& self, OfxPropertySetHandle in_args,
                          OfxPropertySetHandle out_args);
void regions_of_interest(const Instance& self, OfxPropertySetHandle in_args,
                         OfxPropertySetHandle out_args);
void frames_needed(const Instance& self, OfxPropertySetHandle in_args,
                   OfxPropertySetHandle out_args);

// Draws the frame at the render action's time into the output image.
void render(const Instance& self, OfxPropertySetHandle in_args);

} // namespace pointillo::ofx
