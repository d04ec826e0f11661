// Stand-in for the effect bridge until the renderer drives the module through
// the emulated host: a fixed copy of the registered parameter list, and a
// "render" that shows the first source layer unchanged.

#include "cli/effect_bridge.h"

#include <algorithm>
#include <cmath>

namespace pointillo {

namespace {

constexpr uint32_t kSupervise = 0x40;
constexpr uint32_t kSkipReveal = 0x200;
constexpr uint32_t kStartCollapsed = 0x20;
constexpr uint32_t kInvisible = 0x200;

struct Row {
    int32_t id;
    const char* name;
    ParamKind kind;
    float valid_min, valid_max, slider_min, slider_max, default_value;
    const char* choices; // "|" between items
    uint32_t flags;
    uint32_t ui_flags;
};

// Indices follow from the order: the list starts at index 1.
constexpr Row kRows[] = {
    {1, "Sources", ParamKind::Group, 0, 0, 0, 0, 0, "", 0, 0},
    {2, "Text Count", ParamKind::Slider, 1, 16, 1, 16, 2, "", 0, kInvisible},
    {55, "Add Source", ParamKind::Button, 0, 0, 0, 0, 0, "+", kSupervise, 0},
    {56, "Remove Last Source", ParamKind::Button, 0, 0, 0, 0, 0, "-", kSupervise, 0},
    // Slots 1 to 16 are inserted here (ids 3 to 18).
    {19, "", ParamKind::GroupEnd, 0, 0, 0, 0, 0, "", 0, 0},
    {20, "Sequence", ParamKind::Group, 0, 0, 0, 0, 0, "", 0, 0},
    {21, "Automatic", ParamKind::Checkbox, 0, 1, 0, 1, 1, "", 0, 0},
    {22, "Sequence Position", ParamKind::Slider, 1, 16, 1, 16, 1, "", 0, 0},
    {23, "Start (seconds)", ParamKind::Slider, -36000, 36000, -36000, 30, 0, "", 0, 0},
    {24, "Hold (seconds)", ParamKind::Slider, 0, 3600, 0, 5, 0.8f, "", 0, 0},
    {25, "Transition (seconds)", ParamKind::Slider, 0.01f, 3600, 0.01f, 5, 1.2f, "", 0, 0},
    {26, "Loop", ParamKind::Checkbox, 0, 1, 0, 1, 0, "", 0, 0},
    {27, "", ParamKind::GroupEnd, 0, 0, 0, 0, 0, "", 0, 0},
    {28, "Dot Appearance", ParamKind::Group, 0, 0, 0, 0, 0, "", 0, 0},
    {29, "Distribution", ParamKind::Popup, 1, 3, 1, 3, 2, "Grid|Jittered Grid|Randomized", 0, 0},
    {30, "Spacing", ParamKind::Slider, 2, 200, 2, 40, 8, "", 0, 0},
    {31, "Dot Size", ParamKind::Slider, 0.5f, 300, 0.5f, 40, 7, "", 0, 0},
    {32, "Size Randomness (%)", ParamKind::Slider, 0, 95, 0, 95, 10, "", 0, 0},
    {33, "Grid Jitter (%)", ParamKind::Slider, 0, 100, 0, 100, 65, "", 0, 0},
    {34, "Dot Shape", ParamKind::Popup, 1, 4, 1, 4, 1, "Circle|Square|Diamond|Ring", 0, 0},
    {35, "Ring Thickness (%)", ParamKind::Slider, 2, 100, 2, 100, 30, "", 0, 0},
    {36, "Edge Softness", ParamKind::Slider, 0, 50, 0, 10, 0.4f, "", 0, 0},
    {57, "Match Source Colors", ParamKind::Checkbox, 0, 1, 0, 1, 1, "", kSupervise, 0},
    {37, "Dot Color", ParamKind::Color, 0, 0, 0, 0, 0, "", 0, 0},
    {38, "", ParamKind::GroupEnd, 0, 0, 0, 0, 0, "", 0, 0},
    {39, "Source Transition", ParamKind::Group, 0, 0, 0, 0, 0, "", 0, 0},
    {40, "Transition By", ParamKind::Popup, 1, 4, 1, 4, 1,
     "Entire Layer|Letters (auto-detect)|Words (auto-detect)|Individual Dots", 0, 0},
    {41, "Order", ParamKind::Popup, 1, 6, 1, 6, 1,
     "Left to Right|Right to Left|Top to Bottom|Bottom to Top|Center Out|Random", 0, 0},
    {42, "Stagger (%)", ParamKind::Slider, 0, 85, 0, 85, 35, "", 0, 0},
    {43, "Form Solid Source", ParamKind::Checkbox, 0, 1, 0, 1, 1, "", 0, 0},
    {44, "Break Apart / Settle (%)", ParamKind::Slider, 3, 40, 3, 40, 18, "", 0, 0},
    {45, "Source Overlap", ParamKind::Slider, 1.45f, 4, 1.45f, 3, 1.8f, "", 0, 0},
    {46, "", ParamKind::GroupEnd, 0, 0, 0, 0, 0, "", 0, 0},
    {47, "Particle Motion", ParamKind::Group, 0, 0, 0, 0, 0, "", 0, 0},
    {48, "Motion Style", ParamKind::Popup, 1, 5, 1, 5, 3, "Drift|Swirl|Chaos|Pop|Center Out", 0, 0},
    {49, "Scatter", ParamKind::Slider, 0, 4000, 0, 600, 180, "", 0, 0},
    {50, "Chaos Amount", ParamKind::Slider, 0, 2000, 0, 400, 60, "", 0, 0},
    {51, "Chaos Frequency", ParamKind::Slider, 0, 20, 0, 10, 2, "", 0, 0},
    {52, "Swirl Turns", ParamKind::Slider, -10, 10, -10, 3, 0.4f, "", 0, 0},
    {53, "Random Seed", ParamKind::Slider, 0, 1000000, 0, 1000, 42, "", 0, 0},
    {58, "Center Out Fan (%)", ParamKind::Slider, 0, 300, 0, 150, 65, "", 0, 0},
    {54, "", ParamKind::GroupEnd, 0, 0, 0, 0, 0, "", 0, 0},
    {59, "Additional Particles", ParamKind::Group, 0, 0, 0, 0, 0, "", kStartCollapsed, 0},
    {60, "Enable Additional Particles", ParamKind::Checkbox, 0, 1, 0, 1, 0, "", 0, 0},
    {61, "Emission Rate (per second)", ParamKind::Slider, 0, 20000, 0, 2000, 160, "", 0, 0},
    {62, "Inherit Velocity (%)", ParamKind::Slider, 0, 500, 0, 200, 70, "", 0, 0},
    {63, "Extra Spread (px/sec)", ParamKind::Slider, 0, 4000, 0, 500, 70, "", 0, 0},
    {64, "Velocity Falloff (drag)", ParamKind::Slider, 0, 30, 0, 10, 1.8f, "", 0, 0},
    {65, "Gravity (px/sec2)", ParamKind::Slider, -4000, 4000, -4000, 1000, 0, "", 0, 0},
    {66, "Life (seconds)", ParamKind::Slider, 0.05f, 5, 0.05f, 3, 0.7f, "", 0, 0},
    {67, "Life Randomness (%)", ParamKind::Slider, 0, 95, 0, 95, 20, "", 0, 0},
    {68, "Particle Size", ParamKind::Slider, 0.5f, 200, 0.5f, 40, 3, "", 0, 0},
    {69, "Particle Size Randomness (%)", ParamKind::Slider, 0, 95, 0, 95, 35, "", 0, 0},
    {70, "End Scale (%)", ParamKind::Slider, 0, 500, 0, 200, 0, "", 0, 0},
    {71, "Particle Opacity (%)", ParamKind::Slider, 0, 100, 0, 100, 70, "", 0, 0},
    {72, "Fade Over Life (%)", ParamKind::Slider, 0, 100, 0, 100, 60, "", 0, 0},
    {73, "Match Main Particle Color", ParamKind::Checkbox, 0, 1, 0, 1, 1, "", kSupervise, 0},
    {74, "Particle Color", ParamKind::Color, 0, 0, 0, 0, 0, "", 0, 0},
    {75, "", ParamKind::GroupEnd, 0, 0, 0, 0, 0, "", 0, 0},
};

std::vector<std::string> split_choices(const std::string& text) {
    std::vector<std::string> items;
    if (text.empty()) {
        return items;
    }
    size_t start = 0;
    for (;;) {
        const size_t bar = text.find('|', start);
        items.push_back(text.substr(start, bar - start));
        if (bar == std::string::npos) {
            return items;
        }
        start = bar + 1;
    }
}

EffectParam param_of(const Row& row, int32_t index) {
    EffectParam param;
    param.index = index;
    param.id = row.id;
    param.name = row.name;
    param.kind = row.kind;
    param.valid_min = static_cast<double>(row.valid_min);
    param.valid_max = static_cast<double>(row.valid_max);
    param.slider_min = static_cast<double>(row.slider_min);
    param.slider_max = static_cast<double>(row.slider_max);
    param.default_value = static_cast<double>(row.default_value);
    param.choices = split_choices(row.choices);
    param.flags = row.flags;
    param.ui_flags = row.ui_flags;
    if (row.kind == ParamKind::Color) {
        param.default_color = Rgb8{255, 255, 255};
    }
    return param;
}

} // namespace

std::vector<EffectParam> effect_parameters() {
    std::vector<EffectParam> params;
    int32_t index = 1;
    for (const Row& row : kRows) {
        params.push_back(param_of(row, index++));
        if (row.id == 56) {
            for (int32_t slot = 1; slot <= kSourceSlotCount; ++slot) {
                EffectParam layer;
                layer.index = index++;
                layer.id = slot + 2;
                layer.name = "Source " + std::to_string(slot);
                layer.kind = ParamKind::Layer;
                layer.flags = kSupervise | kSkipReveal;
                params.push_back(layer);
            }
        }
    }
    return params;
}

EffectInfo effect_info() {
    EffectInfo info;
    info.name = "Pointillo";
    info.match_name = "Brindlex Pointillo";
    info.category = "Brindlex";
    info.entry_point = "EffectMain";
    info.api_major = 13;
    info.api_minor = 29;
    info.version = 0x00088C01;
    info.out_flags = 0x06000006;
    info.out_flags2 = 0x08001488;
    info.support_url = "https://brindlex.example/pointillo/support";
    return info;
}

ArgbImage render_effect_frame(const PreparedScene& scene, int32_t /*frame*/,
                              const std::atomic<bool>& cancel) {
    // The effect sizes its output from the downsample factor as a float.
    const float factor = 1.0f / static_cast<float>(scene.downsample);
    const auto side = [factor](int32_t full) {
        return std::max(1, static_cast<int32_t>(std::ceil(factor * static_cast<float>(full))));
    };
    ArgbImage out = make_argb_image(side(scene.width), side(scene.height), scene.depth);

    const SourceLayer* first = nullptr;
    for (const auto& slot : scene.sources) {
        if (slot) {
            first = &*slot;
            break;
        }
    }
    if (first == nullptr) {
        return out;
    }
    const ArgbImage& in = first->pixels;
    const int32_t width = std::min(in.width, out.width);
    for (int32_t y = 0; y < std::min(in.height, out.height); ++y) {
        if (cancel.load(std::memory_order_relaxed)) {
            throw RenderCancelled();
        }
        const size_t from = static_cast<size_t>(y) * static_cast<size_t>(in.width) * 4;
        const size_t to = static_cast<size_t>(y) * static_cast<size_t>(out.width) * 4;
        const size_t count = static_cast<size_t>(width) * 4;
        switch (scene.depth) {
        case PixelDepth::k8:
            std::copy_n(in.samples8.begin() + from, count, out.samples8.begin() + to);
            break;
        case PixelDepth::k16:
            std::copy_n(in.samples16.begin() + from, count, out.samples16.begin() + to);
            break;
        case PixelDepth::k32:
            std::copy_n(in.samples32.begin() + from, count, out.samples32.begin() + to);
            break;
        }
    }
    return out;
}

} // namespace pointillo
