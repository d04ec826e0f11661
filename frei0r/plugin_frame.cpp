#include "plugin_frame.h"

#include "common/limits.h"
#include "common/pixel_view.h"
#include "frame/frame_plan.h"
#include "frame/sequence.h"
#include "frame/settings_read.h"
#include "plugin_pixels.h"
#include "render/render_frame.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pointillo::frei0r {

std::unique_ptr<PluginInstance> make_instance(PluginKind kind, uint32_t width, uint32_t height) {
    if (!pixel_count_ok(width, height)) {
        return nullptr;
    }
    auto instance = std::make_unique<PluginInstance>();
    instance->width = static_cast<int32_t>(width);
    instance->height = static_cast<int32_t>(height);
    instance->values = default_values(kind);
    return instance;
}

int32_t host_units(double seconds) {
    const double units = std::round(seconds * static_cast<double>(kTimeScale));
    if (std::isnan(units)) {
        return 0;
    }
    constexpr auto kLow = static_cast<double>(std::numeric_limits<int32_t>::min());
    constexpr auto kHigh = static_cast<double>(std::numeric_limits<int32_t>::max());
    return static_cast<int32_t>(std::clamp(units, kLow, kHigh));
}

void render_plugin_frame(PluginInstance& instance, double host_time, const uint32_t* input1,
                         const uint32_t* input2, uint32_t* output) {
    const PluginValues& values = instance.values;
    const bool transition = values.kind == PluginKind::kTransition;
    const std::size_t pixels =
        static_cast<std::size_t>(instance.width) * static_cast<std::size_t>(instance.height);
    // Both inputs are read before anything is written, so the output may
    // be an input.
    // "Reverse" turns input 2 into input 1: the inputs change places.
    const bool reverse = transition && values.reverse;
    premultiply_frame(reverse ? input2 : input1, pixels, instance.layers[0]);
    if (transition) {
        premultiply_frame(reverse ? input1 : input2, pixels, instance.layers[1]);
    }

    PlanRequest request;
    request.time = host_units(plugin_seconds(values, host_time));
    const double now = host_seconds(request.time, kTimeScale);
    const auto read = [&values, now](int32_t index, int32_t time) {
        return effect_reading(values, index, host_seconds(time, kTimeScale), now);
    };
    request.time_scale = kTimeScale;
    request.output = {instance.width, instance.height};
    request.active_count = 2;
    // A source's key is its input: the filter's two sources are its one
    // input, and every past emission step sees the current inputs.
    const auto checkout = [&](int32_t position, int32_t) {
        const int32_t key = transition ? position : 0;
        return SourceRef{
            key, instance.width, instance.height, {0, 0, instance.width, instance.height}};
    };
    const FramePlan plan = plan_frame(request, PlanHost{read, checkout});

    const auto sources = [&](const SourceRef& source, PixelsUse use) {
        const std::vector<std::byte>& layer = instance.layers[source.key == 1 ? 1 : 0];
        use(ConstPixelView{layer.data(), instance.width, instance.height,
                           static_cast<std::ptrdiff_t>(instance.width) * 4, PixelDepth::k8});
    };
    render_frame(plan, sources, CancelCheck{}, instance.canvas);
    convert_canvas(instance.canvas,
                   PixelView{reinterpret_cast<std::byte*>(output), instance.width, instance.height,
                             static_cast<std::ptrdiff_t>(instance.width) * 4, PixelDepth::k8},
                   CancelCheck{});
    to_frei0r_order(output, pixels);
}

} // namespace pointillo::frei0r
