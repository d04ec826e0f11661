// Every parameter a user sets in the effect is in each context with its
// name, range, default and group; the contexts add only their own timing.

#include "plugin_params.h"

#include <cmath>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace pointillo::test {
namespace {

using ofx::Context;
using ofx::OfxParamDesc;
using ofx::OfxParamKind;
using ofx::PluginKind;

bool is_sequence(const ParamSpec& spec) {
    return spec.id >= param_id::kAutomatic && spec.id <= param_id::kLoop;
}

bool user_sets(const ParamSpec& spec) {
    return !spec.invisible && (spec.type == ParamType::kSlider || spec.type == ParamType::kPopup ||
                               spec.type == ParamType::kCheckbox || spec.type == ParamType::kColor);
}

// The group each effect parameter sits in, by the table's own nesting.
std::string group_of(const ParamSpec& target) {
    std::string group;
    for (const ParamSpec& spec : kParamTable) {
        if (spec.type == ParamType::kGroupStart) {
            group = spec.name;
        } else if (spec.type == ParamType::kGroupEnd) {
            group.clear();
        } else if (&spec == &target) {
            return group;
        }
    }
    return "";
}

TEST(OfxParams, EveryContextShowsTheEffectsParametersAsTheEffectDoes) {
    struct Row {
        PluginKind kind;
        Context context;
        std::set<std::string> own; // the context's timing
    };
    const Row rows[] = {
        {PluginKind::kTransition, Context::kTransition, {"Transition"}},
        {PluginKind::kTransition,
         Context::kGeneral,
         {"Automatic", "Sequence Position", "Start (seconds)", "Hold (seconds)",
          "Transition (seconds)"}},
        {PluginKind::kFilter, Context::kFilter, {"Progress"}},
        {PluginKind::kFilter, Context::kGeneral, {"Progress"}},
    };
    for (const Row& row : rows) {
        const auto& params = ofx::plugin_params(row.kind, row.context);
        const std::string what = ofx::context_name(row.context);
        std::set<std::string> groups;
        std::set<std::string> seen_own;
        std::set<int32_t> seen_effect;
        for (const OfxParamDesc& d : params) {
            if (d.kind == OfxParamKind::kGroup) {
                groups.insert(d.name);
                continue;
            }
            EXPECT_TRUE(std::string(d.parent).empty() || groups.count(d.parent) != 0)
                << what << ": " << d.name << " comes before its group";
            const bool timing = row.own.count(d.name) != 0;
            if (d.effect == nullptr || timing) {
                EXPECT_TRUE(timing) << what << ": " << d.name << " is not the context's";
                seen_own.insert(d.name);
                if (d.effect == nullptr) {
                    EXPECT_EQ(d.min, 0.0);
                    EXPECT_EQ(d.max, 1.0);
                }
                continue;
            }
            const ParamSpec& spec = *d.effect;
            seen_effect.insert(spec.index);
            EXPECT_STREQ(d.name, spec.name);
            EXPECT_EQ(std::string(d.parent), group_of(spec)) << what << ": " << d.name;
            switch (spec.type) {
            case ParamType::kSlider:
                EXPECT_EQ(d.kind, OfxParamKind::kDouble) << d.name;
                EXPECT_EQ(d.min, static_cast<double>(spec.valid_min)) << d.name;
                EXPECT_EQ(d.max, static_cast<double>(spec.valid_max)) << d.name;
                EXPECT_EQ(d.display_min, static_cast<double>(spec.slider_min)) << d.name;
                EXPECT_EQ(d.display_max, static_cast<double>(spec.slider_max)) << d.name;
                EXPECT_EQ(d.default_value, static_cast<double>(spec.default_value)) << d.name;
                break;
            case ParamType::kPopup:
                EXPECT_EQ(d.kind, OfxParamKind::kChoice) << d.name;
                EXPECT_EQ(d.default_value + 1.0, static_cast<double>(spec.default_value)) << d.name;
                break;
            case ParamType::kCheckbox:
                EXPECT_EQ(d.kind, OfxParamKind::kBoolean) << d.name;
                EXPECT_EQ(d.default_value, static_cast<double>(spec.default_value)) << d.name;
                break;
            default:
                EXPECT_EQ(d.kind, OfxParamKind::kColour) << d.name;
                break;
            }
        }
        EXPECT_EQ(seen_own, row.own) << what;
        for (const ParamSpec& spec : kParamTable) {
            if (user_sets(spec) && !is_sequence(spec)) {
                EXPECT_EQ(seen_effect.count(spec.index), 1u) << what << ": " << spec.name;
            }
        }
    }
}

TEST(OfxParams, ValuesAreCheckedAsTheEffectReadsThem) {
    const auto& params = ofx::plugin_params(PluginKind::kFilter, Context::kFilter);
    const auto find = [&](const char* name) -> const OfxParamDesc& {
        for (const OfxParamDesc& d : params) {
            if (std::string(d.name) == name) {
                return d;
            }
        }
        throw std::runtime_error(name);
    };
    struct Row {
        const char* name;
        double given;
        double read;
    };
    const Row rows[] = {
        {"Spacing", 1.0, 2.0},           // below the valid range
        {"Spacing", 300.0, 200.0},       // above it
        {"Spacing", std::nan(""), 8.0},  // not a number: the default
        {"Dot Shape", 0.0, 1.0},         // choices are 0-based, popups 1-based
        {"Dot Shape", 3.0, 4.0},         //
        {"Dot Shape", 9.0, 4.0},         // past the last item
        {"Form Solid Source", 1.0, 1.0}, //
        {"Form Solid Source", 0.0, 0.0},
    };
    for (const Row& row : rows) {
        ofx::HostValue v;
        v.number = row.given;
        EXPECT_EQ(ofx::effect_value(find(row.name), v).number, row.read)
            << row.name << " given " << row.given;
    }
    ofx::HostValue colour;
    colour.red = 1.0;
    colour.green = 136.0 / 255.0;
    colour.blue = -0.5;
    const ParamReading c = ofx::effect_value(find("Dot Color"), colour);
    EXPECT_EQ(c.red, 255);
    EXPECT_EQ(c.green, 136);
    EXPECT_EQ(c.blue, 0);
}

} // namespace
} // namespace pointillo::test
