#include "plugin_frame.h"

#include "common/limits.h"
#include "common/pixel_view.h"
#include "frame/frame_plan.h"
#include "frame/settings_read.h"
#include "render/render_frame.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace pointillo::frei0r {
namespace {

// frei0r's byte order is red, green, blue, alpha; the core's is alpha, red,
// green, blue, premultiplied.
constexpr int kRed = 0;
constexpr int kGreen = 1;
constexpr int kBlue = 2;
constexpr int kAlpha = 3;

// The renderer's layer rule at 8 bits: each colour becomes (c x a + 127) / 255.
void premultiply(const uint32_t* frame, std::size_t pixels, std::vector<std::byte>& layer) {
    layer.resize(pixels * 4);
    const auto* in = reinterpret_cast<const uint8_t*>(frame);
    auto* out = reinterpret_cast<uint8_t*>(layer.data());
    for (std::size_t p = 0; p < pixels; ++p, in += 4, out += 4) {
        const uint32_t a = in[kAlpha];
        out[0] = static_cast<uint8_t>(a);
        out[1] = static_cast<uint8_t>((in[kRed] * a + 127) / 255);
        out[2] = static_cast<uint8_t>((in[kGreen] * a + 127) / 255);
        out[3] = static_cast<uint8_t>((in[kBlue] * a + 127) / 255);
    }
}

// The renderer's file rule at 8 bits: min(255, (c x 510 + a) / (2 x a)), 0
// where alpha is 0.
uint8_t unpremultiply(uint32_t color, uint32_t alpha) {
    if (alpha == 0) {
        return 0;
    }
    return static_cast<uint8_t>(std::min<uint32_t>(255, (color * 510 + alpha) / (2 * alpha)));
}

// In place: premultiplied alpha, red, green, blue to straight red, green,
// blue, alpha.
void to_frei0r_order(uint32_t* frame, std::size_t pixels) {
    auto* px = reinterpret_cast<uint8_t*>(frame);
    for (std::size_t p = 0; p < pixels; ++p, px += 4) {
        const uint32_t a = px[0];
        const uint8_t r = unpremultiply(px[1], a);
        const uint8_t g = unpremultiply(px[2], a);
        const uint8_t b = unpremultiply(px[3], a);
        px[kRed] = r;
        px[kGreen] = g;
        px[kBlue] = b;
        px[kAlpha] = static_cast<uint8_t>(a);
    }
}

} // namespace

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
    premultiply(input1, pixels, instance.layers[0]);
    if (transition) {
        premultiply(input2, pixels, instance.layers[1]);
    }

    const auto read = [&values](int32_t index, int32_t) { return effect_reading(values, index); };
    FrameRequest request;
    request.time = host_units(plugin_seconds(values, host_time));
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
    const Settings settings = read_settings(read, request.time);
    const FramePlan plan = plan_frame(settings, request, PlanHost{read, checkout});

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
