#include "module_fixture.h"

namespace pointillo::test {
namespace {

using Registration = ModuleTest;

TEST_F(Registration, ReportsTheRegistrationValuesOnce) {
    const hostsim::RegistrationResult result = hostsim::register_module(host, module);
    EXPECT_EQ(result.result, 0);
    ASSERT_EQ(result.calls.size(), 1u);
    const hostsim::Registration& r = result.calls[0];
    EXPECT_EQ(r.name, "Pointillo");
    EXPECT_EQ(r.match_name, "Brindlex Pointillo");
    EXPECT_EQ(r.category, "Brindlex");
    EXPECT_EQ(r.entry_point, "EffectMain");
    EXPECT_EQ(r.kind, 0x65464B54); // 'eFKT'
    EXPECT_EQ(r.api_major, 13);
    EXPECT_EQ(r.api_minor, 29);
    EXPECT_EQ(r.reserved_info, 8);
    EXPECT_EQ(r.support_url, "https://brindlex.example/pointillo/support");
    // Registration sets nothing up: the callback is the only host call.
    EXPECT_EQ(host.calls.total(), 1);
}

TEST_F(Registration, ReturnsTheCallbacksResultUnchanged) {
    for (const A_Err code : {A_Err{1}, A_Err{PF_Err_OUT_OF_MEMORY}, A_Err{-3}, A_Err{0x7FFF}}) {
        hostsim::Host failing;
        failing.calls.fail_call("PF_PluginDataCB2", 1, code);
        EXPECT_EQ(hostsim::register_module(failing, module).result, code) << "code " << code;
    }
}

TEST_F(Registration, NullCallbackIsRefused) {
    EXPECT_EQ(module.plugin_data_entry()(nullptr, nullptr, nullptr, nullptr, nullptr),
              PF_Err_INTERNAL_STRUCT_DAMAGED);
}

} // namespace
} // namespace pointillo::test
