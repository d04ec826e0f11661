// The AEGP suites over the host's parameter streams, called as a module would.

#include "hostsim/host.h"
#include "hostsim/instance.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace hostsim {
namespace {

template <typename Suite> const Suite* acquire(Host& host, const char* name, int32_t version) {
    const void* suite = nullptr;
    EXPECT_EQ(host.basic_suite()->AcquireSuite(name, version, &suite), 0) << name;
    return static_cast<const Suite*>(suite);
}

PF_ParamDef definition(PF_ParamType type, const char* name) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    def.param_type = type;
    std::strcpy(def.name, name);
    return def;
}

// Slider 1, colour 2, layer 3, group 4, inside a UI command.
class Aegp : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const PF_ParamType type :
             {PF_Param_FLOAT_SLIDER, PF_Param_COLOR, PF_Param_LAYER, PF_Param_GROUP_START}) {
            ASSERT_EQ(instance.add_param(-1, definition(type, "P")), PF_Err_NONE);
        }
        pf = acquire<AEGP_PFInterfaceSuite1>(host, kAEGPPFInterfaceSuite, 1);
        streams = acquire<AEGP_StreamSuite6>(host, kAEGPStreamSuite, 11);
        effects = acquire<AEGP_EffectSuite5>(host, kAEGPEffectSuite, 5);
        dynamic = acquire<AEGP_DynamicStreamSuite4>(host, kAEGPDynamicStreamSuite, 5);
        ASSERT_EQ(pf->AEGP_GetNewEffectForEffect(17, scope.effect_ref(), &effect), 0);
    }

    void TearDown() override {
        EXPECT_EQ(effects->AEGP_DisposeEffect(effect), 0);
        for (const auto& [name, version] :
             {std::pair{kAEGPPFInterfaceSuite, 1}, std::pair{kAEGPStreamSuite, 11},
              std::pair{kAEGPEffectSuite, 5}, std::pair{kAEGPDynamicStreamSuite, 5}}) {
            host.basic_suite()->ReleaseSuite(name, version);
        }
        EXPECT_EQ(host.outstanding_report(), "all clean");
    }

    AEGP_StreamRefH stream(PF_ParamIndex index) {
        AEGP_StreamRefH s = nullptr;
        EXPECT_EQ(streams->AEGP_GetNewEffectStreamByIndex(17, effect, index, &s), 0);
        return s;
    }

    Host host;
    Instance instance;
    CommandScope scope{host, &instance, PF_Cmd_UPDATE_PARAMS_UI};
    const AEGP_PFInterfaceSuite1* pf = nullptr;
    const AEGP_StreamSuite6* streams = nullptr;
    const AEGP_EffectSuite5* effects = nullptr;
    const AEGP_DynamicStreamSuite4* dynamic = nullptr;
    AEGP_EffectRefH effect = nullptr;
};

TEST_F(Aegp, EffectReferencesAndStreamsAreCountedUntilDisposed) {
    EXPECT_EQ(host.ledger.outstanding(Resource::kEffectRef), 1);
    const AEGP_StreamRefH layer = stream(3);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(host.ledger.outstanding(Resource::kStream), 1);
    EXPECT_NE(host.outstanding_report().find("streams: parameter 3 x1"), std::string::npos)
        << host.outstanding_report();
    EXPECT_EQ(streams->AEGP_DisposeStream(layer), 0);
    EXPECT_EQ(streams->AEGP_DisposeStream(layer), PF_Err_BAD_CALLBACK_PARAM) << "twice";
    EXPECT_EQ(host.ledger.outstanding(Resource::kStream), 0);

    AEGP_StreamRefH s = nullptr;
    EXPECT_EQ(streams->AEGP_GetNewEffectStreamByIndex(17, effect, 5, &s), PF_Err_INVALID_INDEX);
    EXPECT_EQ(streams->AEGP_GetNewEffectStreamByIndex(17, effect, -1, &s), PF_Err_INVALID_INDEX);
    auto* bogus = reinterpret_cast<AEGP_EffectRefH>(&s);
    EXPECT_EQ(streams->AEGP_GetNewEffectStreamByIndex(17, bogus, 1, &s), PF_Err_BAD_CALLBACK_PARAM);
    AEGP_EffectRefH other = nullptr;
    CommandScope inner(host, &instance, PF_Cmd_UPDATE_PARAMS_UI);
    EXPECT_EQ(pf->AEGP_GetNewEffectForEffect(17, scope.effect_ref(), &other),
              PF_Err_BAD_CALLBACK_PARAM)
        << "an effect_ref of a command not running on this thread";
}

TEST_F(Aegp, StreamValuesAtATime) {
    instance.set_keyframes(3, {{0.0, {5.0, {}}}, {1.0, {0.0, {}}}});
    instance.set_keyframes(1, {{0.0, {0.0, {}}}, {2.0, {4.0, {}}}});
    instance.set_color(2, PF_Pixel{255, 51, 0, 255});
    const AEGP_StreamRefH layer = stream(3);
    const AEGP_StreamRefH slider = stream(1);
    const AEGP_StreamRefH color = stream(2);
    const AEGP_StreamRefH group = stream(4);

    AEGP_StreamValue2 value;
    const A_Time early{15, 30};
    const A_Time late{30, 30};
    ASSERT_EQ(
        streams->AEGP_GetNewStreamValue(17, layer, AEGP_LTimeMode_LayerTime, &early, false, &value),
        0);
    EXPECT_EQ(value.val.layer_id, 5);
    EXPECT_EQ(value.streamH, layer);
    EXPECT_EQ(host.ledger.outstanding(Resource::kStreamValue), 1);
    EXPECT_EQ(streams->AEGP_DisposeStreamValue(&value), 0);
    EXPECT_EQ(streams->AEGP_DisposeStreamValue(&value), PF_Err_BAD_CALLBACK_PARAM) << "twice";
    ASSERT_EQ(
        streams->AEGP_GetNewStreamValue(17, layer, AEGP_LTimeMode_CompTime, &late, false, &value),
        0);
    EXPECT_EQ(value.val.layer_id, 0);
    streams->AEGP_DisposeStreamValue(&value);

    ASSERT_EQ(streams->AEGP_GetNewStreamValue(17, slider, 0, &late, false, &value), 0);
    EXPECT_EQ(value.val.one_d, 2.0);
    streams->AEGP_DisposeStreamValue(&value);
    ASSERT_EQ(streams->AEGP_GetNewStreamValue(17, color, 0, &late, false, &value), 0);
    EXPECT_EQ(value.val.color.redF, 51.0 / 255.0);
    EXPECT_EQ(value.val.color.greenF, 0.0);
    EXPECT_EQ(value.val.color.blueF, 1.0);
    streams->AEGP_DisposeStreamValue(&value);

    EXPECT_EQ(streams->AEGP_GetNewStreamValue(17, group, 0, &late, false, &value),
              PF_Err_UNRECOGNIZED_PARAM_TYPE);
    EXPECT_EQ(streams->AEGP_GetNewStreamValue(17, slider, 7, &late, false, &value),
              PF_Err_BAD_CALLBACK_PARAM)
        << "an unknown time mode";
    EXPECT_EQ(host.ledger.outstanding(Resource::kStreamValue), 0);
    for (const AEGP_StreamRefH s : {layer, slider, color, group}) {
        streams->AEGP_DisposeStream(s);
    }
}

TEST_F(Aegp, SettingAValueReplacesItsKeyframes) {
    instance.set_keyframes(3, {{0.0, {5.0, {}}}, {1.0, {6.0, {}}}});
    const AEGP_StreamRefH layer = stream(3);
    AEGP_StreamValue2 value;
    std::memset(&value, 0, sizeof(value));
    value.streamH = layer;
    EXPECT_EQ(streams->AEGP_SetStreamValue(17, layer, &value), 0);
    EXPECT_FALSE(instance.keyframed(3));
    EXPECT_EQ(instance.value_at(3, 30, 30).number, 0.0);

    const AEGP_StreamRefH slider = stream(1);
    value.val.one_d = 12.5;
    EXPECT_EQ(streams->AEGP_SetStreamValue(17, slider, &value), 0);
    EXPECT_EQ(instance.value(1).u.fs_d.value, 12.5);
    streams->AEGP_DisposeStream(layer);
    streams->AEGP_DisposeStream(slider);
}

TEST_F(Aegp, OnlyTheHiddenFlagChangesWithoutUndo) {
    const AEGP_StreamRefH s = stream(1);
    AEGP_DynStreamFlags flags = 99;
    ASSERT_EQ(dynamic->AEGP_GetDynamicStreamFlags(s, &flags), 0);
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(dynamic->AEGP_SetDynamicStreamFlag(s, AEGP_DynStreamFlag_HIDDEN, false, true), 0);
    EXPECT_TRUE(instance.hidden(1));
    EXPECT_EQ(dynamic->AEGP_SetDynamicStreamFlag(s, 4, false, true), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(dynamic->AEGP_SetDynamicStreamFlag(s, AEGP_DynStreamFlag_HIDDEN, false, false), 0);
    EXPECT_FALSE(instance.hidden(1));
    EXPECT_EQ(host.calls.count("AEGP_SetDynamicStreamFlag"), 3);
    streams->AEGP_DisposeStream(s);
}

TEST_F(Aegp, EveryCallCanFail) {
    host.calls.fail_call("AEGP_GetNewEffectStreamByIndex", 1, 77);
    AEGP_StreamRefH s = nullptr;
    EXPECT_EQ(streams->AEGP_GetNewEffectStreamByIndex(17, effect, 1, &s), 77);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(host.ledger.outstanding(Resource::kStream), 0) << "a failed call hands nothing out";
    const AEGP_StreamRefH ok = stream(1);
    host.calls.fail_call("AEGP_DisposeStream", 1, 78, FaultMode::kAfter);
    EXPECT_EQ(streams->AEGP_DisposeStream(ok), 78);
    EXPECT_EQ(host.ledger.outstanding(Resource::kStream), 0) << "disposed, then the error";
}

TEST_F(Aegp, TheReportNamesWhatIsStillOut) {
    const AEGP_StreamRefH s = stream(1);
    AEGP_StreamValue2 value;
    const A_Time time{0, 30};
    ASSERT_EQ(streams->AEGP_GetNewStreamValue(17, s, 0, &time, false, &value), 0);
    const std::string report = host.outstanding_report();
    EXPECT_NE(report.find("streams: parameter 1 x1"), std::string::npos) << report;
    EXPECT_NE(report.find("stream values: stream value x1"), std::string::npos) << report;
    EXPECT_NE(report.find("effect references: effect reference x1"), std::string::npos) << report;
    EXPECT_NE(report.find("AEGP Stream Suite 11 (1 out)"), std::string::npos) << report;
    EXPECT_FALSE(host.all_clean());
    streams->AEGP_DisposeStreamValue(&value);
    streams->AEGP_DisposeStream(s);
}

} // namespace
} // namespace hostsim
