#include "module_fixture.h"

#include <climits>
#include <cstring>
#include <vector>

namespace pointillo::test {
namespace {

const PF_Cmd kHandled[] = {PF_Cmd_ABOUT,
                           PF_Cmd_GLOBAL_SETUP,
                           PF_Cmd_GLOBAL_SETDOWN,
                           PF_Cmd_PARAMS_SETUP,
                           PF_Cmd_USER_CHANGED_PARAM,
                           PF_Cmd_UPDATE_PARAMS_UI,
                           PF_Cmd_SMART_PRE_RENDER,
                           PF_Cmd_SMART_RENDER};

std::vector<PF_Cmd> unhandled_selectors() {
    std::vector<PF_Cmd> selectors = {2, 25, 26, 100, 1000, INT_MAX, -1, INT_MIN};
    for (PF_Cmd cmd = 5; cmd <= 12; ++cmd) {
        selectors.push_back(cmd);
    }
    for (PF_Cmd cmd = 15; cmd <= 22; ++cmd) {
        selectors.push_back(cmd);
    }
    return selectors;
}

template <typename T> T patterned() {
    T value;
    std::memset(&value, 0xA5, sizeof(value));
    return value;
}

using CommandSwitch = ModuleTest;

TEST_F(CommandSwitch, UnhandledSelectorsTouchNothing) {
    for (const PF_Cmd cmd : unhandled_selectors()) {
        // Straight into the export, so that nothing resets any field first;
        // the patterned callback pointers would crash if called.
        PF_InData in_data = patterned<PF_InData>();
        PF_OutData out_data = patterned<PF_OutData>();
        PF_ParamDef param = patterned<PF_ParamDef>();
        PF_ParamDef* params[] = {&param};
        PF_LayerDef output = patterned<PF_LayerDef>();
        unsigned char extra[64];
        std::memset(extra, 0xA5, sizeof(extra));

        EXPECT_EQ(module.effect_main()(cmd, &in_data, &out_data, params, &output, extra),
                  PF_Err_NONE)
            << "selector " << cmd;
        const PF_InData in_before = patterned<PF_InData>();
        const PF_OutData out_before = patterned<PF_OutData>();
        const PF_ParamDef param_before = patterned<PF_ParamDef>();
        const PF_LayerDef output_before = patterned<PF_LayerDef>();
        EXPECT_EQ(std::memcmp(&in_data, &in_before, sizeof(in_data)), 0) << "selector " << cmd;
        EXPECT_EQ(std::memcmp(&out_data, &out_before, sizeof(out_data)), 0) << "selector " << cmd;
        EXPECT_EQ(std::memcmp(&param, &param_before, sizeof(param)), 0) << "selector " << cmd;
        EXPECT_EQ(std::memcmp(&output, &output_before, sizeof(output)), 0) << "selector " << cmd;
    }
}

TEST_F(CommandSwitch, UnhandledSelectorsMakeNoHostCall) {
    for (const PF_Cmd cmd : unhandled_selectors()) {
        hostsim::CommandIo io;
        EXPECT_EQ(send(cmd, io), PF_Err_NONE) << "selector " << cmd;
    }
    EXPECT_EQ(host.calls.total(), 0);
}

TEST_F(CommandSwitch, UnhandledSelectorsIgnoreMissingRecords) {
    for (const PF_Cmd cmd : unhandled_selectors()) {
        EXPECT_EQ(module.effect_main()(cmd, nullptr, nullptr, nullptr, nullptr, nullptr),
                  PF_Err_NONE)
            << "selector " << cmd;
    }
}

TEST_F(CommandSwitch, HandledCommandsWithoutInOrOutDataAreRefused) {
    for (const PF_Cmd cmd : kHandled) {
        PF_InData in_data = hostsim::default_in_data();
        PF_OutData out_data = patterned<PF_OutData>();
        const PF_OutData out_before = out_data;
        PF_UserChangedParamExtra extra{1};
        EXPECT_EQ(module.effect_main()(cmd, nullptr, &out_data, nullptr, nullptr, &extra),
                  PF_Err_INTERNAL_STRUCT_DAMAGED)
            << "command " << cmd << " without in_data";
        EXPECT_EQ(std::memcmp(&out_data, &out_before, sizeof(out_data)), 0) << "command " << cmd;
        EXPECT_EQ(module.effect_main()(cmd, &in_data, nullptr, nullptr, nullptr, &extra),
                  PF_Err_INTERNAL_STRUCT_DAMAGED)
            << "command " << cmd << " without out_data";
        EXPECT_EQ(module.effect_main()(cmd, nullptr, nullptr, nullptr, nullptr, &extra),
                  PF_Err_INTERNAL_STRUCT_DAMAGED)
            << "command " << cmd << " without either";
    }
}

TEST_F(CommandSwitch, CommandsThatNeedTheirExtraRecordRefuseNone) {
    for (const PF_Cmd cmd :
         {PF_Cmd_USER_CHANGED_PARAM, PF_Cmd_SMART_PRE_RENDER, PF_Cmd_SMART_RENDER}) {
        hostsim::CommandIo io;
        io.extra = nullptr;
        EXPECT_EQ(send(cmd, io), PF_Err_INTERNAL_STRUCT_DAMAGED) << "command " << cmd;
    }
}

} // namespace
} // namespace pointillo::test
