#include "frame/param_table.h"
#include "module_fixture.h"

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace pointillo::test {
namespace {

// The parameter list as the effect's users and saved projects know it.
struct Expected {
    int32_t index;
    int32_t id;
    std::string name;
    PF_ParamType type;
    float valid_min = 0, valid_max = 0, slider_min = 0, slider_max = 0;
    float dephault = 0; // slider value, popup choice, checkbox state
    std::string text;   // popup choices or button label
    int32_t num_choices = 0;
    PF_ParamFlags flags = 0;
    PF_ParamUIFlags ui_flags = 0;
};

Expected group(int32_t index, int32_t id, std::string name, PF_ParamFlags flags = 0) {
    return {index, id, std::move(name), PF_Param_GROUP_START, 0, 0, 0, 0, 0, "", 0, flags};
}
Expected end(int32_t index, int32_t id) {
    return {index, id, "", PF_Param_GROUP_END, 0, 0, 0, 0, 0, ""};
}
Expected slider(int32_t index, int32_t id, std::string name, float vmin, float vmax, float smin,
                float smax, float dephault, PF_ParamUIFlags ui_flags = 0) {
    return {index, id, std::move(name), PF_Param_FLOAT_SLIDER, vmin, vmax, smin, smax, dephault, "",
            0,     0,  ui_flags};
}
Expected popup(int32_t index, int32_t id, std::string name, int32_t choices, int32_t dephault,
               std::string text) {
    return {index,
            id,
            std::move(name),
            PF_Param_POPUP,
            0,
            0,
            0,
            0,
            static_cast<float>(dephault),
            std::move(text),
            choices};
}
Expected checkbox(int32_t index, int32_t id, std::string name, bool on, PF_ParamFlags flags = 0) {
    return {index, id,   std::move(name), PF_Param_CHECKBOX, 0, 0, 0, 0, on ? 1.0f : 0.0f, "",
            0,     flags};
}
Expected color(int32_t index, int32_t id, std::string name) {
    return {index, id, std::move(name), PF_Param_COLOR, 0, 0, 0, 0, 0, ""};
}
Expected button(int32_t index, int32_t id, std::string name, std::string label) {
    return {index, id, std::move(name), PF_Param_BUTTON, 0, 0, 0, 0, 0, std::move(label), 0, 0x40};
}

std::vector<Expected> expected_list() {
    std::vector<Expected> e = {
        group(1, 1, "Sources"),
        slider(2, 2, "Text Count", 1, 16, 1, 16, 2, 0x200),
        button(3, 55, "Add Source", "+"),
        button(4, 56, "Remove Last Source", "-"),
    };
    for (int32_t k = 1; k <= 16; ++k) {
        e.push_back({k + 4, k + 2, "Source " + std::to_string(k), PF_Param_LAYER, 0, 0, 0, 0, 0, "",
                     0, 0x240});
    }
    const std::vector<Expected> rest = {
        end(21, 19),
        group(22, 20, "Sequence"),
        checkbox(23, 21, "Automatic", true),
        slider(24, 22, "Sequence Position", 1, 16, 1, 16, 1),
        slider(25, 23, "Start (seconds)", -36000, 36000, -36000, 30, 0),
        slider(26, 24, "Hold (seconds)", 0, 3600, 0, 5, 0.8f),
        slider(27, 25, "Transition (seconds)", 0.01f, 3600, 0.01f, 5, 1.2f),
        checkbox(28, 26, "Loop", false),
        end(29, 27),
        group(30, 28, "Dot Appearance"),
        popup(31, 29, "Distribution", 3, 2, "Grid|Jittered Grid|Randomized"),
        slider(32, 30, "Spacing", 2, 200, 2, 40, 8),
        slider(33, 31, "Dot Size", 0.5f, 300, 0.5f, 40, 7),
        slider(34, 32, "Size Randomness (%)", 0, 95, 0, 95, 10),
        slider(35, 33, "Grid Jitter (%)", 0, 100, 0, 100, 65),
        popup(36, 34, "Dot Shape", 4, 1, "Circle|Square|Diamond|Ring"),
        slider(37, 35, "Ring Thickness (%)", 2, 100, 2, 100, 30),
        slider(38, 36, "Edge Softness", 0, 50, 0, 10, 0.4f),
        checkbox(39, 57, "Match Source Colors", true, 0x40),
        color(40, 37, "Dot Color"),
        end(41, 38),
        group(42, 39, "Source Transition"),
        popup(43, 40, "Transition By", 4, 1,
              "Entire Layer|Letters (auto-detect)|Words (auto-detect)|Individual Dots"),
        popup(44, 41, "Order", 6, 1,
              "Left to Right|Right to Left|Top to Bottom|Bottom to Top|Center Out|Random"),
        slider(45, 42, "Stagger (%)", 0, 85, 0, 85, 35),
        checkbox(46, 43, "Form Solid Source", true),
        slider(47, 44, "Break Apart / Settle (%)", 3, 40, 3, 40, 18),
        slider(48, 45, "Source Overlap", 1.45f, 4, 1.45f, 3, 1.8f),
        end(49, 46),
        group(50, 47, "Particle Motion"),
        popup(51, 48, "Motion Style", 5, 3, "Drift|Swirl|Chaos|Pop|Center Out"),
        slider(52, 49, "Scatter", 0, 4000, 0, 600, 180),
        slider(53, 50, "Chaos Amount", 0, 2000, 0, 400, 60),
        slider(54, 51, "Chaos Frequency", 0, 20, 0, 10, 2),
        slider(55, 52, "Swirl Turns", -10, 10, -10, 3, 0.4f),
        slider(56, 53, "Random Seed", 0, 1000000, 0, 1000, 42),
        slider(57, 58, "Center Out Fan (%)", 0, 300, 0, 150, 65),
        end(58, 54),
        group(59, 59, "Additional Particles", 0x20),
        checkbox(60, 60, "Enable Additional Particles", false),
        slider(61, 61, "Emission Rate (per second)", 0, 20000, 0, 2000, 160),
        slider(62, 62, "Inherit Velocity (%)", 0, 500, 0, 200, 70),
        slider(63, 63, "Extra Spread (px/sec)", 0, 4000, 0, 500, 70),
        slider(64, 64, "Velocity Falloff (drag)", 0, 30, 0, 10, 1.8f),
        slider(65, 65, "Gravity (px/sec2)", -4000, 4000, -4000, 1000, 0),
        slider(66, 66, "Life (seconds)", 0.05f, 5, 0.05f, 3, 0.7f),
        slider(67, 67, "Life Randomness (%)", 0, 95, 0, 95, 20),
        slider(68, 68, "Particle Size", 0.5f, 200, 0.5f, 40, 3),
        slider(69, 69, "Particle Size Randomness (%)", 0, 95, 0, 95, 35),
        slider(70, 70, "End Scale (%)", 0, 500, 0, 200, 0),
        slider(71, 71, "Particle Opacity (%)", 0, 100, 0, 100, 70),
        slider(72, 72, "Fade Over Life (%)", 0, 100, 0, 100, 60),
        checkbox(73, 73, "Match Main Particle Color", true, 0x40),
        color(74, 74, "Particle Color"),
        end(75, 75),
    };
    e.insert(e.end(), rest.begin(), rest.end());
    return e;
}

// True when every byte of `def` from `from` to its end is zero: the
// definition starts from zero bytes, so nothing past the type's own member
// may be set.
bool zero_from(const PF_ParamDef& def, std::size_t from) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&def);
    for (std::size_t i = from; i < sizeof(def); ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

std::size_t member_size(PF_ParamType type) {
    switch (type) {
    case PF_Param_FLOAT_SLIDER:
        return sizeof(PF_FloatSliderDef);
    case PF_Param_POPUP:
        return sizeof(PF_PopupDef);
    case PF_Param_CHECKBOX:
        return sizeof(PF_CheckBoxDef);
    case PF_Param_COLOR:
        return sizeof(PF_ColorDef);
    case PF_Param_BUTTON:
        return sizeof(PF_ButtonDef);
    default:
        return 0; // layers, group starts and ends set nothing in the union...
    }
}

void expect_definition(const PF_ParamDef& d, const Expected& e) {
    SCOPED_TRACE("index " + std::to_string(e.index) + " \"" + e.name + "\"");
    EXPECT_EQ(d.uu.id, e.id);
    EXPECT_EQ(d.param_type, e.type);
    EXPECT_STREQ(d.name, e.name.c_str());
    EXPECT_EQ(d.flags, e.flags);
    EXPECT_EQ(d.ui_flags, e.ui_flags);
    EXPECT_EQ(d.ui_width, 0);
    EXPECT_EQ(d.ui_height, 0);
    EXPECT_EQ(d.unused, 0);
    // ...except a layer's default, which is PF_LayerDefault_NONE, zero too.
    EXPECT_TRUE(zero_from(d, offsetof(PF_ParamDef, u) + member_size(e.type)));
    switch (e.type) {
    case PF_Param_FLOAT_SLIDER: {
        const PF_FloatSliderDef& s = d.u.fs_d;
        EXPECT_EQ(s.valid_min, e.valid_min);
        EXPECT_EQ(s.valid_max, e.valid_max);
        EXPECT_EQ(s.slider_min, e.slider_min);
        EXPECT_EQ(s.slider_max, e.slider_max);
        EXPECT_EQ(s.dephault, e.dephault);
        // The value is the 32-bit default widened, not the decimal in double.
        EXPECT_EQ(s.value, static_cast<double>(e.dephault));
        EXPECT_EQ(s.precision, 2);
        EXPECT_EQ(s.display_flags, PF_ValueDisplayFlag_NONE);
        EXPECT_EQ(s.fs_flags, 0u);
        EXPECT_EQ(s.curve_tolerance, 0.0f);
        EXPECT_EQ(s.useExponent, 0);
        EXPECT_EQ(s.exponent, 0.0f);
        EXPECT_EQ(s.phase, 0.0);
        EXPECT_STREQ(s.value_desc, "");
        break;
    }
    case PF_Param_POPUP:
        EXPECT_EQ(d.u.pd.value, static_cast<PF_ParamValue>(e.dephault));
        EXPECT_EQ(d.u.pd.dephault, static_cast<A_short>(e.dephault));
        EXPECT_EQ(d.u.pd.num_choices, e.num_choices);
        ASSERT_NE(d.u.pd.u.namesptr, nullptr);
        EXPECT_STREQ(d.u.pd.u.namesptr, e.text.c_str());
        break;
    case PF_Param_CHECKBOX:
        EXPECT_EQ(d.u.bd.value, static_cast<PF_ParamValue>(e.dephault));
        EXPECT_EQ(d.u.bd.dephault, static_cast<PF_Boolean>(e.dephault));
        ASSERT_NE(d.u.bd.u.nameptr, nullptr);
        EXPECT_STREQ(d.u.bd.u.nameptr, "");
        break;
    case PF_Param_COLOR:
        for (const PF_Pixel& p : {d.u.cd.value, d.u.cd.dephault}) {
            EXPECT_EQ(p.alpha, 255);
            EXPECT_EQ(p.red, 255);
            EXPECT_EQ(p.green, 255);
            EXPECT_EQ(p.blue, 255);
        }
        break;
    case PF_Param_BUTTON:
        EXPECT_EQ(d.u.button_d.value, 0);
        ASSERT_NE(d.u.button_d.u.namesptr, nullptr);
        EXPECT_STREQ(d.u.button_d.u.namesptr, e.text.c_str());
        break;
    default:
        break;
    }
}

class ParamsSetup : public ModuleTest {
  protected:
    hostsim::Instance instance;
};

TEST_F(ParamsSetup, RegistersTheListInOrder) {
    hostsim::CommandIo io;
    ASSERT_EQ(send(PF_Cmd_PARAMS_SETUP, io, &instance), PF_Err_NONE);
    EXPECT_EQ(io.out_data.num_params, 76);
    EXPECT_EQ(host.calls.count("add_param"), 75);
    const std::vector<Expected> expected = expected_list();
    ASSERT_EQ(expected.size(), 75u);
    ASSERT_EQ(instance.param_count(), 76);
    for (const Expected& e : expected) {
        expect_definition(instance.definition(e.index), e);
    }
    // Every add_param appended (index -1); the host's log shows them in order.
    int32_t n = 0;
    for (const hostsim::CallRecord& call : host.calls.log()) {
        if (call.function == "add_param") {
            EXPECT_EQ(call.detail.substr(0, 3), "-1 ") << "call " << n;
            ++n;
        }
    }
}

TEST_F(ParamsSetup, SliderValueIsTheFloatDefaultWidened) {
    hostsim::CommandIo io;
    ASSERT_EQ(send(PF_Cmd_PARAMS_SETUP, io, &instance), PF_Err_NONE);
    const PF_ParamIndex hold = param_index_by_name("Hold (seconds)");
    EXPECT_EQ(instance.definition(hold).u.fs_d.value, 0.800000011920928955078125);
    EXPECT_NE(instance.definition(hold).u.fs_d.value, 0.8);
}

TEST_F(ParamsSetup, IdsMapBackToTheirIndices) {
    hostsim::CommandIo io;
    ASSERT_EQ(send(PF_Cmd_PARAMS_SETUP, io, &instance), PF_Err_NONE);
    std::set<int32_t> ids;
    for (int32_t index = 1; index < instance.param_count(); ++index) {
        const int32_t id = instance.definition(index).uu.id;
        ids.insert(id);
        EXPECT_EQ(param_index_of(id), index) << "id " << id;
    }
    EXPECT_EQ(ids.size(), 75u);
    EXPECT_EQ(*ids.begin(), 1);
    EXPECT_EQ(*ids.rbegin(), 75);
}

TEST_F(ParamsSetup, StopsAtTheFirstFailingAddParam) {
    struct Case {
        int64_t failing_call;
        PF_Err code;
    };
    for (const Case c : {Case{1, PF_Err_OUT_OF_MEMORY}, Case{10, PF_Err_INTERNAL_STRUCT_DAMAGED},
                         Case{10, 1234}, Case{75, PF_Err_BAD_CALLBACK_PARAM}}) {
        hostsim::Host failing;
        failing.calls.fail_call("add_param", c.failing_call, c.code);
        hostsim::Instance fresh;
        hostsim::CommandIo io;
        io.out_data.num_params = -7;
        EXPECT_EQ(hostsim::send_command(failing, module, &fresh, PF_Cmd_PARAMS_SETUP, io), c.code)
            << "failing call " << c.failing_call;
        EXPECT_EQ(failing.calls.count("add_param"), c.failing_call);
        EXPECT_EQ(fresh.param_count(), c.failing_call) << "input layer plus the ones before";
        EXPECT_EQ(io.out_data.num_params, -7) << "num_params must not be written";
        EXPECT_STREQ(io.out_data.return_msg, "");
        EXPECT_EQ(io.out_data.out_flags, 0);
    }
}

TEST_F(ParamsSetup, FailureOnAnyHostCallIsReturned) {
    // Parameter set-up makes no other host call, so the k-th call of any
    // function is the k-th add_param.
    host.calls.fail_any_call(10, PF_Err_OUT_OF_MEMORY);
    hostsim::CommandIo io;
    EXPECT_EQ(send(PF_Cmd_PARAMS_SETUP, io, &instance), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host.calls.total(), 10);
}

TEST_F(ParamsSetup, MissingAddParamCallbackIsRefused) {
    PF_InData in_data = hostsim::default_in_data();
    PF_OutData out_data{};
    EXPECT_EQ(
        module.effect_main()(PF_Cmd_PARAMS_SETUP, &in_data, &out_data, nullptr, nullptr, nullptr),
        PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(out_data.num_params, 0);
}

} // namespace
} // namespace pointillo::test
