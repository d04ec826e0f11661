// Parameter values over time: constants, keyframes, interpolation and hold.

#include "hostsim/instance.h"

#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace hostsim {
namespace {

PF_ParamDef definition(PF_ParamType type, const char* name) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    def.param_type = type;
    std::strcpy(def.name, name);
    return def;
}

// One parameter of each kind: slider 1, popup 2, checkbox 3, colour 4,
// layer 5, group start 6.
class Values : public ::testing::Test {
  protected:
    void SetUp() override {
        PF_ParamDef slider = definition(PF_Param_FLOAT_SLIDER, "Slider");
        slider.u.fs_d.value = static_cast<double>(0.8f);
        PF_ParamDef popup = definition(PF_Param_POPUP, "Popup");
        popup.u.pd.value = 2;
        PF_ParamDef checkbox = definition(PF_Param_CHECKBOX, "Checkbox");
        checkbox.u.bd.value = 1;
        PF_ParamDef color = definition(PF_Param_COLOR, "Colour");
        color.u.cd.value = PF_Pixel{255, 10, 20, 30};
        for (const PF_ParamDef& def :
             {slider, popup, checkbox, color, definition(PF_Param_LAYER, "Layer"),
              definition(PF_Param_GROUP_START, "Group")}) {
            ASSERT_EQ(instance.add_param(-1, def), PF_Err_NONE);
        }
    }

    Instance instance;
};

TEST_F(Values, DefaultsAreTheRegisteredValues) {
    EXPECT_EQ(instance.value_at(1, 0, 30).number, static_cast<double>(0.8f));
    EXPECT_EQ(instance.value_at(2, 0, 30).number, 2.0);
    EXPECT_EQ(instance.value_at(3, 0, 30).number, 1.0);
    EXPECT_EQ(instance.value_at(4, 0, 30).color.blue, 30);
    EXPECT_EQ(instance.value_at(5, 0, 30).number, 0.0) << "a layer parameter starts empty";
    EXPECT_EQ(instance.index_of("Popup"), 2);
    EXPECT_EQ(instance.index_of("Nothing"), -1);
    EXPECT_THROW(instance.index_checked("Nothing"), std::out_of_range);
}

TEST_F(Values, SlidersInterpolateLinearlyAndHoldOutsideTheKeys) {
    instance.set_keyframes("Slider", {{1.0, {10.0, {}}}, {3.0, {20.0, {}}}, {4.0, {-5.0, {}}}});
    struct Row {
        A_long time;
        A_u_long scale;
        double expected;
    };
    const Row rows[] = {
        {0, 30, 10.0},  // before the first key: its value
        {30, 30, 10.0}, // on it
        {60, 30, 15.0}, // halfway
        {1, 1, 10.0},   // another time scale, same second
        {70, 30, 10.0 + (20.0 - 10.0) * ((70.0 / 30.0 - 1.0) / (3.0 - 1.0))},
        {105, 30, 20.0 + (-5.0 - 20.0) * ((3.5 - 3.0) / (4.0 - 3.0))},
        {120, 30, -5.0}, // on the last key
        {9000, 30, -5.0} // after it
    };
    for (const Row& row : rows) {
        const double v = instance.value_at(1, row.time, row.scale).number;
        EXPECT_EQ(v, row.expected) << "at " << row.time << "/" << row.scale;
        // The record handed out carries the same double.
        EXPECT_EQ(instance.param_at(1, row.time, row.scale).u.fs_d.value, row.expected)
            << "at " << row.time << "/" << row.scale;
    }
    // A time scale of 0 counts as 1.
    EXPECT_EQ(instance.value_at(1, 2, 0).number, 15.0);
}

TEST_F(Values, OtherKindsHoldEachKeyUntilTheNext) {
    instance.set_keyframes("Popup", {{1.0, {1.0, {}}}, {2.0, {3.0, {}}}});
    instance.set_keyframes("Checkbox", {{1.0, {0.0, {}}}, {2.0, {1.0, {}}}});
    instance.set_keyframes("Colour",
                           {{1.0, {0.0, {255, 0, 0, 0}}}, {2.0, {0.0, {255, 200, 0, 0}}}});
    instance.set_keyframes("Layer", {{1.0, {4.0, {}}}, {2.0, {0.0, {}}}});
    struct Row {
        A_long time; // at 10 a second
        int32_t popup, checkbox, red, layer;
    };
    for (const Row row : {Row{0, 1, 0, 0, 4}, Row{10, 1, 0, 0, 4}, Row{19, 1, 0, 0, 4},
                          Row{20, 3, 1, 200, 0}, Row{50, 3, 1, 200, 0}}) {
        EXPECT_EQ(instance.param_at(2, row.time, 10).u.pd.value, row.popup) << "at " << row.time;
        EXPECT_EQ(instance.param_at(3, row.time, 10).u.bd.value, row.checkbox) << "at " << row.time;
        EXPECT_EQ(instance.param_at(4, row.time, 10).u.cd.value.red, row.red) << "at " << row.time;
        EXPECT_EQ(instance.value_at(5, row.time, 10).number, row.layer) << "at " << row.time;
    }
}

TEST_F(Values, ConstantsReplaceKeyframes) {
    instance.set_keyframes("Slider", {{0.0, {1.0, {}}}, {1.0, {2.0, {}}}});
    EXPECT_TRUE(instance.keyframed(1));
    instance.set_value("Slider", 9.0);
    EXPECT_FALSE(instance.keyframed(1));
    EXPECT_EQ(instance.value_at(1, 15, 30).number, 9.0);
    EXPECT_EQ(instance.value(1).u.fs_d.value, 9.0);
    instance.set_color(4, PF_Pixel{1, 2, 3, 4});
    EXPECT_EQ(instance.param_at(4, 0, 30).u.cd.value.green, 3);
}

TEST_F(Values, EditsAtATimeKeyAKeyframedParameter) {
    instance.set_keyframes("Slider", {{0.0, {1.0, {}}}, {2.0, {3.0, {}}}});
    ParamValue value;
    value.number = 10.0;
    instance.set_value_at(1, 30, 30, value); // a new key at 1 s
    EXPECT_EQ(instance.value_at(1, 30, 30).number, 10.0);
    EXPECT_EQ(instance.value_at(1, 15, 30).number, 5.5);
    value.number = 4.0;
    instance.set_value_at(1, 60, 30, value); // replaces the key at 2 s
    EXPECT_EQ(instance.value_at(1, 90, 30).number, 4.0);
    instance.set_value_at(2, 0, 30, ParamValue{3.0, {}}); // a constant just changes
    EXPECT_EQ(instance.value_at(2, 100, 30).number, 3.0);
}

TEST_F(Values, RefusesWhatHoldsNoValue) {
    EXPECT_THROW(instance.set_value("Group", 1.0), std::invalid_argument);
    EXPECT_THROW(instance.set_value("Colour", 1.0), std::invalid_argument);
    EXPECT_THROW(instance.set_color("Slider", PF_Pixel{}), std::invalid_argument);
    EXPECT_THROW(instance.set_keyframes("Group", {{0.0, {}}}), std::invalid_argument);
    EXPECT_THROW(instance.set_keyframes("Slider", {{1.0, {}}, {1.0, {}}}), std::invalid_argument)
        << "keys at one time";
    EXPECT_THROW(instance.set_keyframes("Slider", {{2.0, {}}, {1.0, {}}}), std::invalid_argument);
    EXPECT_THROW(instance.set_value("Nothing", 1.0), std::out_of_range);
}

TEST_F(Values, StreamFlagsArePerParameter) {
    EXPECT_FALSE(instance.hidden(3));
    instance.set_stream_flags(3, AEGP_DynStreamFlag_HIDDEN);
    EXPECT_TRUE(instance.hidden(3));
    EXPECT_FALSE(instance.hidden(2));
}

} // namespace
} // namespace hostsim
