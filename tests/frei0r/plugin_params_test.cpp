// The plug-ins' parameter list and how an instance takes a host's values.

#include "frame/sequence.h"
#include "frame/settings_read.h"
#include "plugin_frame.h"
#include "plugin_params.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace pointillo::frei0r {
namespace {

int index_of(PluginKind kind, const std::string& name) {
    const auto params = plugin_params(kind);
    for (size_t i = 0; i < params.size(); ++i) {
        if (name == params[i].name) {
            return static_cast<int>(i);
        }
    }
    ADD_FAILURE() << "no parameter " << name;
    return -1;
}

TEST(Frei0rParams, OrderIsFirstParameterTimeUnitThenTheEffectsInItsOwnOrder) {
    for (const PluginKind kind : {PluginKind::kFilter, PluginKind::kTransition}) {
        const auto params = plugin_params(kind);
        EXPECT_STREQ(params[0].name,
                     kind == PluginKind::kFilter ? "Progress" : "Duration (seconds)");
        EXPECT_STREQ(params[1].name, "Time in Milliseconds");
        EXPECT_EQ(params[1].type, PluginParamType::kBool);
        // The effect's own parameters follow in the effect's order, each by
        // its own name, and none is missing.
        int32_t last_index = 0;
        size_t count = 0;
        for (size_t i = 2; i < params.size(); ++i) {
            ASSERT_NE(params[i].effect, nullptr);
            EXPECT_STREQ(params[i].name, params[i].effect->name);
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
        EXPECT_STREQ(params.back().name, "Particle Color");
    }
    // The sequence is the plug-ins' own; the slot count, buttons and slots
    // are no user settings.
    for (const char* hidden :
         {"Automatic", "Sequence Position", "Start (seconds)", "Hold (seconds)",
          "Transition (seconds)", "Loop", "Text Count", "Add Source", "Source 1"}) {
        for (const PluginParam& p : plugin_params(PluginKind::kTransition)) {
            EXPECT_STRNE(p.name, hidden);
        }
    }
}

TEST(Frei0rParams, ValuesAreCheckedWhereTheHostSetsThem) {
    const PluginKind kind = PluginKind::kTransition;
    struct Row {
        const char* name;
        double value;
        double stored; // as get_param_value reads it back
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        {"Dot Size", 9.25, 9.25},          // own units, unchanged
        {"Spacing", 0.0, 2.0},             // below the effect's valid range
        {"Scatter", 1e9, 4000.0},          // above it
        {"Scatter", nan, 180.0},           // ignored: the default stays
        {"Dot Shape", 2.6, 3.0},           // popups round to an item
        {"Dot Shape", 0.0, 1.0},           // and stay among the items
        {"Order", 99.0, 6.0},              //
        {"Loop", 1.0, 0.0},                // not a plug-in parameter: no such name
        {"Form Solid Source", 0.49, 0.0},  // bools are true from 0.5 on
        {"Match Source Colors", 0.5, 1.0}, //
        {"Duration (seconds)", 0.0,
         static_cast<double>(0.01f)},       // the range of "Transition (seconds)"
        {"Duration (seconds)", 2.5, 2.5},   //
        {"Time in Milliseconds", 1.0, 1.0}, //
        {"Random Seed", -3.0, 0.0},         //
    };
    for (const Row& row : rows) {
        PluginValues values = default_values(kind);
        const auto params = plugin_params(kind);
        int index = -1;
        for (size_t i = 0; i < params.size(); ++i) {
            if (std::string(params[i].name) == row.name) {
                index = static_cast<int>(i);
            }
        }
        if (index < 0) {
            EXPECT_STREQ(row.name, "Loop");
            continue;
        }
        if (params[static_cast<size_t>(index)].type == PluginParamType::kBool) {
            set_bool(values, index, row.value);
        } else {
            set_double(values, index, row.value);
        }
        EXPECT_EQ(get_number(values, index), row.stored) << row.name << " = " << row.value;
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
    {
        PluginValues values = default_values(PluginKind::kTransition);
        set_double(values, 0, 0.5);
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
    {
        PluginValues values = default_values(PluginKind::kFilter);
        set_double(values, 0, 0.375);
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
