// The plug-ins' parameter list and how an instance takes a host's values.

#include "frame/sequence.h"
#include "frame/settings_read.h"
#include "plugin_frame.h"
#include "plugin_params.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <set>
#include <string>

namespace pointillo::frei0r {
namespace {

constexpr PluginKind kKinds[] = {PluginKind::kFilter, PluginKind::kTransition};

int index_of(PluginKind kind, const std::string& label) {
    const auto params = plugin_params(kind);
    for (size_t i = 0; i < params.size(); ++i) {
        if (label == params[i].label || label == params[i].name) {
            return static_cast<int>(i);
        }
    }
    ADD_FAILURE() << "no parameter " << label;
    return -1;
}

const PluginParam& param(PluginKind kind, const std::string& label) {
    return plugin_params(kind)[static_cast<size_t>(index_of(kind, label))];
}

TEST(Frei0rParams, OrderIsFirstParameterTimeUnitTheEffectsThenTheTransitionsTiming) {
    for (const PluginKind kind : kKinds) {
        const auto params = plugin_params(kind);
        const bool filter = kind == PluginKind::kFilter;
        EXPECT_STREQ(params[0].name, filter ? "Progress" : "Duration");
        EXPECT_STREQ(params[1].name, "Time in Milliseconds");
        EXPECT_EQ(params[1].type, PluginParamType::kBool);
        // The effect's own parameters follow in the effect's order, each
        // under its own label, and none is missing.
        int32_t last_index = 0;
        size_t count = 0;
        for (size_t i = 2; i < params.size() && params[i].role == PluginRole::kEffect; ++i) {
            ASSERT_NE(params[i].effect, nullptr);
            EXPECT_STREQ(params[i].label, params[i].effect->name);
            EXPECT_GT(params[i].effect->index, last_index);
            last_index = params[i].effect->index;
            ++count;
        }
        size_t settable = 0;
        for (const ParamSpec& spec : kParamTable) {
            settable += is_plugin_param(spec) ? 1 : 0;
        }
        EXPECT_EQ(count, settable);
        EXPECT_STREQ(params[2].name, "Distribution");
        EXPECT_STREQ(params[count + 1].name, "Particle Color");
        ASSERT_EQ(params.size(), count + (filter ? 2 : 5));
        if (!filter) {
            EXPECT_STREQ(params[count + 2].name, "Automatic");
            EXPECT_STREQ(params[count + 3].name, "Position");
            EXPECT_STREQ(params[count + 4].name, "Reverse");
        }
    }
    // The sequence is the plug-ins' own; the slot count, buttons and slots
    // are no user settings.
    for (const char* hidden :
         {"Sequence Position", "Start (seconds)", "Hold (seconds)", "Transition (seconds)", "Loop",
          "Text Count", "Add Source", "Source 1"}) {
        for (const PluginParam& p : plugin_params(PluginKind::kTransition)) {
            EXPECT_STRNE(p.label, hidden);
        }
    }
}

// GStreamer makes property names of them ("break-apart-settle"), MLT takes
// them as property names: letters, digits and single spaces, each once.
TEST(Frei0rParams, NamesAreLettersDigitsAndSpacesAndExplainTheirUnits) {
    for (const PluginKind kind : kKinds) {
        std::set<std::string> seen;
        for (const PluginParam& p : plugin_params(kind)) {
            const std::string name = p.name;
            EXPECT_TRUE(seen.insert(name).second) << name << " twice";
            ASSERT_FALSE(name.empty());
            EXPECT_NE(name.front(), ' ') << name;
            EXPECT_NE(name.back(), ' ') << name;
            EXPECT_EQ(name.find("  "), std::string::npos) << name;
            for (const char c : name) {
                EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == ' ')
                    << name << " holds '" << c << "'";
            }
            EXPECT_NE(std::string(p.help), "") << name;
            const std::string explanation = p.explanation;
            EXPECT_EQ(explanation.rfind(p.help, 0), 0u) << name;
            // A label's unit, "(%)" or "(px/sec)", is in the explanation.
            const std::string label = p.label;
            const size_t open = label.find('(');
            if (open != std::string::npos && p.mapping == ValueMapping::kLinear) {
                const std::string unit = label.substr(open + 1, label.size() - open - 2);
                EXPECT_NE(explanation.find(" " + unit), std::string::npos)
                    << explanation << " lacks " << unit;
            }
        }
    }
    EXPECT_STREQ(param(PluginKind::kTransition, "Break Apart / Settle (%)").name,
                 "Break Apart Settle");
    EXPECT_STREQ(param(PluginKind::kTransition, "Gravity (px/sec2)").explanation,
                 "Downward pull on the particles, negative pulls up; -4000 to 4000 px/sec2, "
                 "-4000 + x × 8000; default 0 px/sec2 (0.5)");
    EXPECT_STREQ(param(PluginKind::kFilter, "Order").explanation,
                 "Which dots leave first: 0 Left to Right, 0.2 Right to Left, 0.4 Top to Bottom, "
                 "0.6 Bottom to Top, 0.8 Center Out, 1 Random; default Left to Right");
}

// What a host reads before it sets anything lies in [0, 1] and stands for
// the default, to the last bit; and a value set in the effect's units
// through plugin_value is held exactly.
TEST(Frei0rParams, DefaultsAndEffectValuesSurviveTheMapping) {
    for (const PluginKind kind : kKinds) {
        const PluginValues defaults = default_values(kind);
        const auto params = plugin_params(kind);
        for (size_t i = 0; i < params.size(); ++i) {
            const PluginParam& p = params[i];
            const auto index = static_cast<int32_t>(i);
            if (p.type == PluginParamType::kColor) {
                continue;
            }
            const double x = get_number(defaults, index);
            EXPECT_GE(x, 0.0) << p.name;
            EXPECT_LE(x, 1.0) << p.name;
            if (p.mapping == ValueMapping::kNone) {
                continue;
            }
            // The defaults are the effect's floats.
            EXPECT_EQ(static_cast<float>(effect_value(p, plugin_value(p, p.default_value))),
                      static_cast<float>(p.default_value))
                << p.name;
            // Handing back what was read changes nothing.
            PluginValues values = defaults;
            set_double(values, index, x);
            EXPECT_EQ(effect_reading(values, p.effect != nullptr ? p.effect->index : 0).number,
                      effect_reading(defaults, p.effect != nullptr ? p.effect->index : 0).number)
                << p.name;
            // Both ends and awkward decimals exactly, and a walk over the
            // useful range in awkward steps at the effect's precision.
            for (const double v : {3.0, 0.7, 12.3456789, 0.05, 1.45}) {
                if (p.mapping == ValueMapping::kLinear && v >= p.min && v <= p.max) {
                    EXPECT_EQ(effect_value(p, plugin_value(p, v)), v) << p.name << " at " << v;
                }
            }
            for (const double v : {p.min, p.max, p.slider_min, p.slider_max}) {
                EXPECT_EQ(effect_value(p, plugin_value(p, v)), v) << p.name << " at " << v;
            }
            if (p.mapping == ValueMapping::kLinear) {
                const double step = (p.slider_max - p.slider_min) / 997.0;
                for (int k = 0; k <= 997; ++k) {
                    const double v = p.slider_min + step * k;
                    const float effect_float = static_cast<float>(v);
                    // The effect reads sliders as floats: equal there at least.
                    EXPECT_EQ(static_cast<float>(effect_value(p, plugin_value(p, v))), effect_float)
                        << p.name << " at " << v;
                }
            }
        }
    }
}

TEST(Frei0rParams, ValuesAreCheckedWhereTheHostSetsThem) {
    const PluginKind kind = PluginKind::kTransition;
    struct Row {
        const char* name;
        double value; // as the host passes it
        double held;  // in the effect's units
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        {"Spacing", 0.0, 2.0},              // x times 200, held to 2 and up
        {"Spacing", 1.0, 200.0},            //
        {"Spacing", 0.5, 100.0},            //
        {"Spacing", -3.0, 2.0},             // x held to [0, 1]
        {"Scatter", 1e9, 4000.0},           //
        {"Scatter", nan, 180.0},            // ignored: the default stays
        {"Gravity", 0.25, -2000.0},         //
        {"Dot Shape", 0.6, 3.0},            // popups: the nearest item wins
        {"Dot Shape", 0.5, 3.0},            // halfway rounds up
        {"Dot Shape", 0.49, 2.0},           //
        {"Dot Shape", 7.0, 4.0},            // and stay among the items
        {"Order", 0.2, 2.0},                // item k of n at (k - 1) / (n - 1)
        {"Form Solid Source", 0.49, 0.0},   // bools are true from 0.5 on
        {"Match Source Colors", 0.5, 1.0},  //
        {"Duration", 0.0, 0.01},            // the range of "Transition (seconds)"
        {"Duration", 1.0, 3600.0},          //
        {"Position", 0.375, 0.375},         // 0 to 1 as it is
        {"Random Seed", 0.000042, 42.0},    //
        {"Life", 0.5, 2.5},                 //
        {"Swirl Turns", 0.25, -5.0},        // -10 + x times 20
        {"Time in Milliseconds", 1.0, 1.0}, //
        {"Reverse", 1.0, 1.0},              //
    };
    for (const Row& row : rows) {
        PluginValues values = default_values(kind);
        const int index = index_of(kind, row.name);
        const PluginParam& p = plugin_params(kind)[static_cast<size_t>(index)];
        if (p.type == PluginParamType::kBool) {
            set_bool(values, index, row.value);
        } else {
            set_double(values, index, row.value);
        }
        const double read_back = get_number(values, index);
        const double held =
            p.mapping == ValueMapping::kNone ? read_back : effect_value(p, read_back);
        EXPECT_DOUBLE_EQ(held, row.held) << row.name << " = " << row.value;
    }

    PluginValues values = default_values(kind);
    const int color = index_of(kind, "Dot Color");
    EXPECT_EQ(get_color(values, color).green, 1.0f) << "colours start white";
    set_color(values, color, {1.5f, -0.25f, 0.5f});
    const ParamReading r = effect_reading(values, param_index_of(param_id::kDotColor));
    EXPECT_EQ(r.red, 255);
    EXPECT_EQ(r.green, 0);
    EXPECT_EQ(r.blue, 128);
    EXPECT_EQ(get_color(values, color).blue, 128.0f / 255.0f);
    // An index out of range is no parameter.
    set_double(values, 1000, 1.0);
    set_double(values, -1, 1.0);
    EXPECT_EQ(get_number(values, 1000), 0.0);
}

TEST(Frei0rParams, SnapshotStandsForTheEffectsTiming) {
    const auto read_of = [](const PluginValues& values) {
        return [&values](int32_t index, int32_t) { return effect_reading(values, index); };
    };
    const PluginKind transition = PluginKind::kTransition;
    {
        // Automatic: the morph runs Duration from the transition's start.
        PluginValues values = default_values(transition);
        set_double(values, 0, plugin_value(param(transition, "Duration"), 0.5));
        const auto read = read_of(values);
        const Settings s = read_settings(read, 0);
        EXPECT_TRUE(s.sequence.automatic);
        EXPECT_FALSE(s.sequence.loop);
        EXPECT_EQ(s.sequence.start, 0.0);
        EXPECT_EQ(s.sequence.hold, 0.0);
        EXPECT_EQ(s.sequence.transition, 0.5);
        // Halfway through the morph at 0.25 s, on the second input after it.
        const SequenceState mid = sequence_state_at(s, read, 2, host_units(0.25), kTimeScale);
        EXPECT_EQ(mid.from, 0);
        EXPECT_EQ(mid.to, 1);
        EXPECT_FLOAT_EQ(mid.progress, 0.5f);
        const SequenceState after = sequence_state_at(s, read, 2, host_units(3.0), kTimeScale);
        EXPECT_EQ(after.from, 1);
        EXPECT_EQ(after.progress, 0.0f);
    }
    // Automatic off: Position drives the morph whatever the time, as
    // Progress drives the filter.
    for (const PluginKind kind : kKinds) {
        PluginValues values = default_values(kind);
        if (kind == transition) {
            set_bool(values, index_of(kind, "Automatic"), 0.0);
        }
        set_double(values, index_of(kind, kind == transition ? "Position" : "Progress"), 0.375);
        const auto read = read_of(values);
        const Settings s = read_settings(read, 0);
        EXPECT_FALSE(s.sequence.automatic);
        const SequenceState state = sequence_state_at(s, read, 2, host_units(12.0), kTimeScale);
        EXPECT_EQ(state.from, 0);
        EXPECT_EQ(state.to, 1);
        EXPECT_EQ(state.progress, 0.375f);
    }
}

TEST(Frei0rParams, HostTimeBecomesWholeUnits) {
    PluginValues values = default_values(PluginKind::kTransition);
    struct Row {
        double host_time;
        bool milliseconds;
        int32_t units;
    };
    const Row rows[] = {
        {0.04, false, 4800},              // frame 1 at 25 fps, MLT's seconds
        {40.000000000000007, true, 4800}, // the same frame in ffmpeg's milliseconds
        {1.0 / 24.0, false, 5000},
        {-0.5, false, -60000},
        {1e12, false, std::numeric_limits<int32_t>::max()},
        {-1e12, false, std::numeric_limits<int32_t>::min()},
        {std::numeric_limits<double>::quiet_NaN(), false, 0},
    };
    for (const Row& row : rows) {
        set_bool(values, 1, row.milliseconds ? 1.0 : 0.0);
        EXPECT_EQ(host_units(plugin_seconds(values, row.host_time)), row.units) << row.host_time;
    }
}

TEST(Frei0rParams, InstancesRefuseSizesTheEffectCannotDraw) {
    EXPECT_EQ(make_instance(PluginKind::kFilter, 0, 10), nullptr);
    EXPECT_EQ(make_instance(PluginKind::kFilter, 10, 0), nullptr);
    EXPECT_EQ(make_instance(PluginKind::kTransition, 8193, 8192), nullptr);
    EXPECT_NE(make_instance(PluginKind::kTransition, 8192, 8192), nullptr);
}

} // namespace
} // namespace pointillo::frei0r
