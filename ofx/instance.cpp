#include "instance.h"

#include "frame/emission.h"
#include "suites.h"

#include <cmath>
#include <string>

namespace pointillo::ofx {
namespace {

const OfxPropertySuiteV1& props() {
    return *suites().property;
}

void set_string(OfxPropertySetHandle set, const char* name, int index, const char* value) {
    check(props().propSetString(set, name, index, value), name);
}
void set_int(OfxPropertySetHandle set, const char* name, int index, int value) {
    check(props().propSetInt(set, name, index, value), name);
}
void set_double(OfxPropertySetHandle set, const char* name, int index, double value) {
    check(props().propSetDouble(set, name, index, value), name);
}

void define_clip(OfxImageEffectHandle descriptor, const char* name, bool input) {
    OfxPropertySetHandle clip = nullptr;
    check(suites().effect->clipDefine(descriptor, name, &clip), "clipDefine");
    set_string(clip, kOfxImageEffectPropSupportedComponents, 0, kOfxImageComponentRGBA);
    if (input) {
        set_string(clip, kOfxImageEffectPropSupportedComponents, 1, kOfxImageComponentRGB);
        // Every emission step fetches its own time's frame.
        set_int(clip, kOfxImageEffectPropTemporalClipAccess, 0, 1);
    }
    set_int(clip, kOfxImageEffectPropSupportsTiles, 0, 0);
}

const char* param_type(OfxParamKind kind) {
    switch (kind) {
    case OfxParamKind::kGroup:
        return kOfxParamTypeGroup;
    case OfxParamKind::kChoice:
        return kOfxParamTypeChoice;
    case OfxParamKind::kBoolean:
        return kOfxParamTypeBoolean;
    case OfxParamKind::kColour:
        return kOfxParamTypeRGB;
    case OfxParamKind::kDouble:
        break;
    }
    return kOfxParamTypeDouble;
}

void define_param(OfxParamSetHandle set, const OfxParamDesc& d) {
    OfxPropertySetHandle p = nullptr;
    check(suites().param->paramDefine(set, param_type(d.kind), d.name, &p), "paramDefine");
    // The host draws the transition context's own parameter: no label, no
    // group.
    if (!d.host_transition) {
        set_string(p, kOfxPropLabel, 0, d.name);
        set_string(p, kOfxParamPropParent, 0, d.parent);
    }
    switch (d.kind) {
    case OfxParamKind::kGroup:
        set_int(p, kOfxParamPropGroupOpen, 0, d.group_open ? 1 : 0);
        return;
    case OfxParamKind::kDouble:
        set_string(p, kOfxParamPropDoubleType, 0, kOfxParamDoubleTypePlain);
        set_double(p, kOfxParamPropDefault, 0, d.default_value);
        set_double(p, kOfxParamPropMin, 0, d.min);
        set_double(p, kOfxParamPropMax, 0, d.max);
        set_double(p, kOfxParamPropDisplayMin, 0, d.display_min);
        set_double(p, kOfxParamPropDisplayMax, 0, d.display_max);
        set_int(p, kOfxParamPropDigits, 0, 2);
        break;
    case OfxParamKind::kChoice: {
        // The popup's items, "|"-separated in the effect's table.
        const std::string items = d.effect->text;
        std::size_t start = 0;
        for (int i = 0; i < d.effect->num_choices; ++i) {
            const std::size_t end = items.find('|', start);
            const std::string item = items.substr(start, end - start);
            set_string(p, kOfxParamPropChoiceOption, i, item.c_str());
            start = end == std::string::npos ? items.size() : end + 1;
        }
        set_int(p, kOfxParamPropDefault, 0, static_cast<int>(d.default_value));
        break;
    }
    case OfxParamKind::kBoolean:
        set_int(p, kOfxParamPropDefault, 0, d.default_value >= 0.5 ? 1 : 0);
        break;
    case OfxParamKind::kColour:
        for (int c = 0; c < 3; ++c) {
            set_double(p, kOfxParamPropDefault, c, 1.0);
        }
        break;
    }
    set_int(p, kOfxParamPropAnimates, 0, 1);
}

double frame_rate(const Instance& self) {
    double fps = 0.0;
    check(props().propGetDouble(self.output.props, kOfxImageEffectPropFrameRate, 0, &fps),
          kOfxImageEffectPropFrameRate);
    return fps;
}

OfxRectD clip_rod(const InstanceClip& clip, double time) {
    OfxRectD rod{};
    check(suites().effect->clipGetRegionOfDefinition(clip.handle, time, &rod),
          "clipGetRegionOfDefinition");
    return rod;
}

int input_count(const Instance& self) {
    return self.kind == PluginKind::kFilter ? 1 : 2;
}

const char* input_name(const Instance& self, int i) {
    return input_clip_names(self.kind, self.context)[static_cast<std::size_t>(i)];
}

double action_time(OfxPropertySetHandle in_args) {
    double time = 0.0;
    check(props().propGetDouble(in_args, kOfxPropTime, 0, &time), kOfxPropTime);
    return time;
}

} // namespace

void describe_in_context(PluginKind kind, Context context, OfxImageEffectHandle descriptor) {
    define_clip(descriptor, kOfxImageEffectOutputClipName, false);
    for (const char* name : input_clip_names(kind, context)) {
        define_clip(descriptor, name, true);
    }
    OfxParamSetHandle set = nullptr;
    check(suites().effect->getParamSet(descriptor, &set), "getParamSet");
    for (const OfxParamDesc& d : plugin_params(kind, context)) {
        define_param(set, d);
    }
}

Instance make_instance(PluginKind kind, OfxImageEffectHandle handle) {
    Instance self;
    self.kind = kind;
    self.handle = handle;
    OfxPropertySetHandle effect = nullptr;
    check(suites().effect->getPropertySet(handle, &effect), "getPropertySet");
    char* context = nullptr;
    check(props().propGetString(effect, kOfxImageEffectPropContext, 0, &context),
          kOfxImageEffectPropContext);
    if (context == nullptr || !context_from_name(context, self.context)) {
        throw OfxFailure(kOfxStatErrUnsupported, "The host asked for an unknown context");
    }
    const auto clip = [&](const char* name) {
        InstanceClip c;
        check(suites().effect->clipGetHandle(handle, name, &c.handle, &c.props), "clipGetHandle");
        return c;
    };
    self.output = clip(kOfxImageEffectOutputClipName);
    for (int i = 0; i < input_count(self); ++i) {
        self.inputs[static_cast<std::size_t>(i)] = clip(input_name(self, i));
    }
    if (kind == PluginKind::kFilter) {
        self.inputs[1] = self.inputs[0];
    }
    OfxParamSetHandle set = nullptr;
    check(suites().effect->getParamSet(handle, &set), "getParamSet");
    for (const OfxParamDesc& d : plugin_params(kind, self.context)) {
        if (d.kind == OfxParamKind::kGroup) {
            continue;
        }
        OfxParamHandle h = nullptr;
        check(suites().param->paramGetHandle(set, d.name, &h, nullptr), "paramGetHandle");
        if (d.effect != nullptr) {
            self.descs[static_cast<std::size_t>(d.effect->index)] = &d;
            self.handles[static_cast<std::size_t>(d.effect->index)] = h;
        } else {
            self.first = &d;
            self.first_handle = h;
        }
    }
    return self;
}

void clip_preferences(const Instance& self, OfxPropertySetHandle out_args) {
    // A transition may change no clip preference.
    if (self.context == Context::kTransition) {
        return;
    }
    const auto prefer = [&](const char* clip) {
        const std::string name = std::string("OfxImageClipPropComponents_") + clip;
        set_string(out_args, name.c_str(), 0, kOfxImageComponentRGBA);
    };
    prefer(kOfxImageEffectOutputClipName);
    for (int i = 0; i < input_count(self); ++i) {
        prefer(input_name(self, i));
    }
    set_string(out_args, kOfxImageEffectPropPreMultiplication, 0, kOfxImagePreMultiplied);
}

void region_of_definition(const Instance& self, OfxPropertySetHandle in_args,
                          OfxPropertySetHandle out_args) {
    // The output is the first input's frame, as the effect's layer is.
    const OfxRectD rod = clip_rod(self.inputs[0], action_time(in_args));
    const double values[4] = {rod.x1, rod.y1, rod.x2, rod.y2};
    check(props().propSetDoubleN(out_args, kOfxImageEffectPropRegionOfDefinition, 4, values),
          kOfxImageEffectPropRegionOfDefinition);
}

void regions_of_interest(const Instance& self, OfxPropertySetHandle in_args,
                         OfxPropertySetHandle out_args) {
    // Dots and particles come from anywhere in an input: each is needed whole.
    const double time = action_time(in_args);
    for (int i = 0; i < input_count(self); ++i) {
        const OfxRectD rod = clip_rod(self.inputs[static_cast<std::size_t>(i)], time);
        const double values[4] = {rod.x1, rod.y1, rod.x2, rod.y2};
        const std::string name = std::string("OfxImageClipPropRoI_") + input_name(self, i);
        check(props().propSetDoubleN(out_args, name.c_str(), 4, values), "propSetDoubleN");
    }
}

void frames_needed(const Instance& self, OfxPropertySetHandle in_args,
                   OfxPropertySetHandle out_args) {
    // Particles of every emission step back to the longest life, and one
    // velocity step before the oldest.
    const double time = action_time(in_args);
    const double fps = frame_rate(self);
    const double back =
        std::isfinite(fps) && fps > 0.0
            ? std::ceil((kLongestParticleLife + 2.0 * static_cast<double>(kEmissionStepSeconds)) *
                        fps) +
                  1.0
            : 0.0;
    const double range[2] = {time - back, time};
    for (int i = 0; i < input_count(self); ++i) {
        const std::string name = std::string("OfxImageClipPropFrameRange_") + input_name(self, i);
        check(props().propSetDoubleN(out_args, name.c_str(), 2, range), "propSetDoubleN");
    }
}

} // namespace pointillo::ofx
