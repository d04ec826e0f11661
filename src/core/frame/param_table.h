#pragma once

// The effect's parameter list as data: what setup_parameters registers, and
// what the emulated host, the renderer and the tests look names, ids, types
// and ranges up in.
//
// Index: position in the host's list (0 is the layer the effect is applied
// to and has no entry here). Id: the stable identity written into `uu.id` and
// saved in projects. The two differ: ids 55 to 58 were added later and sit
// among lower ids.

#include <array>
#include <cstdint>
#include <string_view>

namespace pointillo {

namespace param_id {
inline constexpr int32_t kSourcesGroup = 1;
inline constexpr int32_t kTextCount = 2;
inline constexpr int32_t kAddSource = 55;
inline constexpr int32_t kRemoveLastSource = 56;
inline constexpr int32_t kFirstSource = 3; // "Source %d" slot k has id k + 2
inline constexpr int32_t kLastSource = 18;
inline constexpr int32_t kSourcesEnd = 19;
inline constexpr int32_t kSequenceGroup = 20;
inline constexpr int32_t kAutomatic = 21;
inline constexpr int32_t kSequencePosition = 22;
inline constexpr int32_t kStart = 23;
inline constexpr int32_t kHold = 24;
inline constexpr int32_t kTransition = 25;
inline constexpr int32_t kLoop = 26;
inline constexpr int32_t kSequenceEnd = 27;
inline constexpr int32_t kDotAppearanceGroup = 28;
inline constexpr int32_t kDistribution = 29;
inline constexpr int32_t kSpacing = 30;
inline constexpr int32_t kDotSize = 31;
inline constexpr int32_t kSizeRandomness = 32;
inline constexpr int32_t kGridJitter = 33;
inline constexpr int32_t kDotShape = 34;
inline constexpr int32_t kRingThickness = 35;
inline constexpr int32_t kEdgeSoftness = 36;
inline constexpr int32_t kMatchSourceColors = 57;
inline constexpr int32_t kDotColor = 37;
inline constexpr int32_t kDotAppearanceEnd = 38;
inline constexpr int32_t kSourceTransitionGroup = 39;
inline constexpr int32_t kTransitionBy = 40;
inline constexpr int32_t kOrder = 41;
inline constexpr int32_t kStagger = 42;
inline constexpr int32_t kFormSolidSource = 43;
inline constexpr int32_t kBreakApartSettle = 44;
inline constexpr int32_t kSourceOverlap = 45;
inline constexpr int32_t kSourceTransitionEnd = 46;
inline constexpr int32_t kParticleMotionGroup = 47;
inline constexpr int32_t kMotionStyle = 48;
inline constexpr int32_t kScatter = 49;
inline constexpr int32_t kChaosAmount = 50;
inline constexpr int32_t kChaosFrequency = 51;
inline constexpr int32_t kSwirlTurns = 52;
inline constexpr int32_t kRandomSeed = 53;
inline constexpr int32_t kCenterOutFan = 58;
inline constexpr int32_t kParticleMotionEnd = 54;
inline constexpr int32_t kAdditionalParticlesGroup = 59;
inline constexpr int32_t kEnableAdditionalParticles = 60;
inline constexpr int32_t kEmissionRate = 61;
inline constexpr int32_t kInheritVelocity = 62;
inline constexpr int32_t kExtraSpread = 63;
inline constexpr int32_t kVelocityFalloff = 64;
inline constexpr int32_t kGravity = 65;
inline constexpr int32_t kLife = 66;
inline constexpr int32_t kLifeRandomness = 67;
inline constexpr int32_t kParticleSize = 68;
inline constexpr int32_t kParticleSizeRandomness = 69;
inline constexpr int32_t kEndScale = 70;
inline constexpr int32_t kParticleOpacity = 71;
inline constexpr int32_t kFadeOverLife = 72;
inline constexpr int32_t kMatchMainParticleColor = 73;
inline constexpr int32_t kParticleColor = 74;
inline constexpr int32_t kAdditionalParticlesEnd = 75;
} // namespace param_id

inline constexpr int32_t kSourceSlotCount = 16;

// Entries in the host's list, the input layer at index 0 included.
inline constexpr int32_t kParamCount = 76;

constexpr int32_t source_slot_id(int32_t slot) {
    return slot + 2;
}

// What kind of control a parameter is. The host glue maps each to the
// host's own parameter type.
enum class ParamType {
    kGroupStart,
    kGroupEnd,
    kSlider,
    kPopup,
    kCheckbox,
    kColor,
    kButton,
    kLayer
};

// One registered parameter. Unused fields keep their zero defaults.
struct ParamSpec {
    int32_t index = 0;
    int32_t id = 0;
    const char* name = ""; // the UI name; "Source %d" for the slots, see `slot`
    ParamType type = ParamType::kGroupStart;
    int32_t slot = 0; // 1 to 16 for a "Source %d" layer, else 0
    // Float sliders, in 32-bit floats as registered.
    float valid_min = 0.0f;
    float valid_max = 0.0f;
    float slider_min = 0.0f;
    float slider_max = 0.0f;
    // Slider value, popup choice (1-based) or checkbox state (0 or 1).
    float default_value = 0.0f;
    int32_t num_choices = 0;                // popups
    const char* text = nullptr;             // popup choices joined by "|", or a button's label
    bool supervised = false;                // changes are reported to the effect
    bool start_collapsed = false;           // a group shown closed
    bool skip_reveal_when_unhidden = false; // the source slots
    bool invisible = false;                 // never shown in the controls
};

// The id-to-index mapping:
//   ids 55, 56, 57, 58 -> indices 3, 4, 39, 57;
//   ids 3 to 54 -> id + 2, one more from id 37 on ("Match Source Colors" sits
//   before "Dot Color"), one more again for id 54 ("Center Out Fan (%)" sits
//   before the group's end);
//   every other id maps to itself.
constexpr int32_t param_index_of(int32_t id) {
    constexpr int32_t kLateIds[4][2] = {{55, 3}, {56, 4}, {57, 39}, {58, 57}};
    for (const auto& late : kLateIds) {
        if (late[0] == id) {
            return late[1];
        }
    }
    if (id >= 3 && id <= 54) {
        return id + 2 + (id >= 37 ? 1 : 0) + (id == 54 ? 1 : 0);
    }
    return id;
}

namespace param_table_detail {

constexpr ParamSpec group_start(int32_t index, int32_t id, const char* name,
                                bool collapsed = false) {
    return {.index = index,
            .id = id,
            .name = name,
            .type = ParamType::kGroupStart,
            .start_collapsed = collapsed};
}

constexpr ParamSpec group_end(int32_t index, int32_t id) {
    return {.index = index, .id = id, .name = "", .type = ParamType::kGroupEnd};
}

constexpr ParamSpec slider(int32_t index, int32_t id, const char* name, float valid_min,
                           float valid_max, float slider_min, float slider_max, float dephault,
                           bool invisible = false) {
    return {.index = index,
            .id = id,
            .name = name,
            .type = ParamType::kSlider,
            .valid_min = valid_min,
            .valid_max = valid_max,
            .slider_min = slider_min,
            .slider_max = slider_max,
            .default_value = dephault,
            .invisible = invisible};
}

constexpr ParamSpec popup(int32_t index, int32_t id, const char* name, int32_t num_choices,
                          int32_t dephault, const char* choices) {
    return {.index = index,
            .id = id,
            .name = name,
            .type = ParamType::kPopup,
            .default_value = static_cast<float>(dephault),
            .num_choices = num_choices,
            .text = choices};
}

constexpr ParamSpec checkbox(int32_t index, int32_t id, const char* name, bool dephault,
                             bool supervised = false) {
    return {.index = index,
            .id = id,
            .name = name,
            .type = ParamType::kCheckbox,
            .default_value = dephault ? 1.0f : 0.0f,
            .supervised = supervised};
}

constexpr ParamSpec color(int32_t index, int32_t id, const char* name) {
    return {.index = index, .id = id, .name = name, .type = ParamType::kColor};
}

constexpr ParamSpec button(int32_t index, int32_t id, const char* name, const char* label) {
    return {.index = index,
            .id = id,
            .name = name,
            .type = ParamType::kButton,
            .text = label,
            .supervised = true};
}

constexpr ParamSpec source_slot(int32_t slot) {
    return {.index = slot + 4,
            .id = source_slot_id(slot),
            .name = "Source %d",
            .type = ParamType::kLayer,
            .slot = slot,
            .supervised = true,
            .skip_reveal_when_unhidden = true};
}

constexpr std::array<ParamSpec, kParamCount - 1> make_param_table() {
    std::array<ParamSpec, kParamCount - 1> t{};
    int32_t n = 0;
    t[n++] = group_start(1, 1, "Sources");
    t[n++] = slider(2, 2, "Text Count", 1, 16, 1, 16, 2, true);
    t[n++] = button(3, 55, "Add Source", "+");
    t[n++] = button(4, 56, "Remove Last Source", "-");
    for (int32_t slot = 1; slot <= kSourceSlotCount; ++slot) {
        t[n++] = source_slot(slot);
    }
    t[n++] = group_end(21, 19);

    t[n++] = group_start(22, 20, "Sequence");
    t[n++] = checkbox(23, 21, "Automatic", true);
    t[n++] = slider(24, 22, "Sequence Position", 1, 16, 1, 16, 1);
    t[n++] = slider(25, 23, "Start (seconds)", -36000, 36000, -36000, 30, 0);
    t[n++] = slider(26, 24, "Hold (seconds)", 0, 3600, 0, 5, 0.8f);
    t[n++] = slider(27, 25, "Transition (seconds)", 0.01f, 3600, 0.01f, 5, 1.2f);
    t[n++] = checkbox(28, 26, "Loop", false);
    t[n++] = group_end(29, 27);

    t[n++] = group_start(30, 28, "Dot Appearance");
    t[n++] = popup(31, 29, "Distribution", 3, 2, "Grid|Jittered Grid|Randomized");
    t[n++] = slider(32, 30, "Spacing", 2, 200, 2, 40, 8);
    t[n++] = slider(33, 31, "Dot Size", 0.5f, 300, 0.5f, 40, 7);
    t[n++] = slider(34, 32, "Size Randomness (%)", 0, 95, 0, 95, 10);
    t[n++] = slider(35, 33, "Grid Jitter (%)", 0, 100, 0, 100, 65);
    t[n++] = popup(36, 34, "Dot Shape", 4, 1, "Circle|Square|Diamond|Ring");
    t[n++] = slider(37, 35, "Ring Thickness (%)", 2, 100, 2, 100, 30);
    t[n++] = slider(38, 36, "Edge Softness", 0, 50, 0, 10, 0.4f);
    t[n++] = checkbox(39, 57, "Match Source Colors", true, true);
    t[n++] = color(40, 37, "Dot Color");
    t[n++] = group_end(41, 38);

    t[n++] = group_start(42, 39, "Source Transition");
    t[n++] = popup(43, 40, "Transition By", 4, 1,
                   "Entire Layer|Letters (auto-detect)|Words (auto-detect)|Individual Dots");
    t[n++] = popup(44, 41, "Order", 6, 1,
                   "Left to Right|Right to Left|Top to Bottom|Bottom to Top|Center Out|Random");
    t[n++] = slider(45, 42, "Stagger (%)", 0, 85, 0, 85, 35);
    t[n++] = checkbox(46, 43, "Form Solid Source", true);
    t[n++] = slider(47, 44, "Break Apart / Settle (%)", 3, 40, 3, 40, 18);
    t[n++] = slider(48, 45, "Source Overlap", 1.45f, 4, 1.45f, 3, 1.8f);
    t[n++] = group_end(49, 46);

    t[n++] = group_start(50, 47, "Particle Motion");
    t[n++] = popup(51, 48, "Motion Style", 5, 3, "Drift|Swirl|Chaos|Pop|Center Out");
    t[n++] = slider(52, 49, "Scatter", 0, 4000, 0, 600, 180);
    t[n++] = slider(53, 50, "Chaos Amount", 0, 2000, 0, 400, 60);
    t[n++] = slider(54, 51, "Chaos Frequency", 0, 20, 0, 10, 2);
    t[n++] = slider(55, 52, "Swirl Turns", -10, 10, -10, 3, 0.4f);
    t[n++] = slider(56, 53, "Random Seed", 0, 1000000, 0, 1000, 42);
    t[n++] = slider(57, 58, "Center Out Fan (%)", 0, 300, 0, 150, 65);
    t[n++] = group_end(58, 54);

    t[n++] = group_start(59, 59, "Additional Particles", true);
    t[n++] = checkbox(60, 60, "Enable Additional Particles", false);
    t[n++] = slider(61, 61, "Emission Rate (per second)", 0, 20000, 0, 2000, 160);
    t[n++] = slider(62, 62, "Inherit Velocity (%)", 0, 500, 0, 200, 70);
    t[n++] = slider(63, 63, "Extra Spread (px/sec)", 0, 4000, 0, 500, 70);
    t[n++] = slider(64, 64, "Velocity Falloff (drag)", 0, 30, 0, 10, 1.8f);
    t[n++] = slider(65, 65, "Gravity (px/sec2)", -4000, 4000, -4000, 1000, 0);
    t[n++] = slider(66, 66, "Life (seconds)", 0.05f, 5, 0.05f, 3, 0.7f);
    t[n++] = slider(67, 67, "Life Randomness (%)", 0, 95, 0, 95, 20);
    t[n++] = slider(68, 68, "Particle Size", 0.5f, 200, 0.5f, 40, 3);
    t[n++] = slider(69, 69, "Particle Size Randomness (%)", 0, 95, 0, 95, 35);
    t[n++] = slider(70, 70, "End Scale (%)", 0, 500, 0, 200, 0);
    t[n++] = slider(71, 71, "Particle Opacity (%)", 0, 100, 0, 100, 70);
    t[n++] = slider(72, 72, "Fade Over Life (%)", 0, 100, 0, 100, 60);
    t[n++] = checkbox(73, 73, "Match Main Particle Color", true, true);
    t[n++] = color(74, 74, "Particle Color");
    t[n++] = group_end(75, 75);
    return t;
}

// Every row sits at its index, every id is used once and maps back to it.
constexpr bool table_is_consistent(const std::array<ParamSpec, kParamCount - 1>& table) {
    bool id_seen[kParamCount] = {};
    for (std::size_t i = 0; i < table.size(); ++i) {
        const ParamSpec& p = table[i];
        if (p.index != static_cast<int32_t>(i) + 1 || p.id < 1 || p.id >= kParamCount ||
            id_seen[p.id] || param_index_of(p.id) != p.index) {
            return false;
        }
        id_seen[p.id] = true;
    }
    return true;
}

} // namespace param_table_detail

// Indices 1 to 75, in registration order: kParamTable[i - 1] has index i.
inline constexpr std::array<ParamSpec, kParamCount - 1> kParamTable =
    param_table_detail::make_param_table();

static_assert(param_table_detail::table_is_consistent(kParamTable));

// The entry at `index` (1 to 75), or null.
constexpr const ParamSpec* param_at(int32_t index) {
    return index >= 1 && index < kParamCount ? &kParamTable[static_cast<std::size_t>(index - 1)]
                                             : nullptr;
}

// The entry with id `id`, or null.
constexpr const ParamSpec* param_by_id(int32_t id) {
    const ParamSpec* p = param_at(param_index_of(id));
    return p != nullptr && p->id == id ? p : nullptr;
}

// The index of the parameter named `name` as the effect controls show it
// ("Dot Size", "Source 3"), or -1. Group ends have no name and are not found.
constexpr int32_t param_index_by_name(std::string_view name) {
    if (name.empty()) {
        return -1;
    }
    constexpr std::string_view kSlotPrefix = "Source ";
    if (name.substr(0, kSlotPrefix.size()) == kSlotPrefix && name.size() > kSlotPrefix.size() &&
        name.size() <= kSlotPrefix.size() + 2 && name[kSlotPrefix.size()] != '0') {
        int32_t slot = 0;
        for (char c : name.substr(kSlotPrefix.size())) {
            if (c < '0' || c > '9') {
                return -1;
            }
            slot = slot * 10 + (c - '0');
        }
        return slot <= kSourceSlotCount ? param_index_of(source_slot_id(slot)) : -1;
    }
    for (const ParamSpec& p : kParamTable) {
        if (p.slot == 0 && name == p.name) {
            return p.index;
        }
    }
    return -1;
}

} // namespace pointillo
