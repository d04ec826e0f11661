#include "hostsim/command.h"
#include "hostsim/host.h"
#include "hostsim/instance.h"
#include "hostsim/module.h"

#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace hostsim {
namespace {

const char kUtility[] = "AEGP Utility Suite";

// Acquires a suite through the basic suite as a module would.
SPErr acquire(Host& host, const char* name, int32_t version, const void** suite) {
    return host.basic_suite()->AcquireSuite(name, version, suite);
}

TEST(Host, HandsOutTheUtilitySuiteAndCountsBothWays) {
    Host host;
    CommandScope scope(host, nullptr, PF_Cmd_GLOBAL_SETUP);
    const void* suite = nullptr;
    ASSERT_EQ(acquire(host, kUtility, 13, &suite), 0);
    ASSERT_NE(suite, nullptr);
    EXPECT_FALSE(host.suites.all_released());
    EXPECT_EQ(host.basic_suite()->ReleaseSuite(kUtility, 13), 0);
    const SuiteCounts counts = host.suites.counts(kUtility, 13);
    EXPECT_EQ(counts.acquire_calls, 1);
    EXPECT_EQ(counts.acquired, 1);
    EXPECT_EQ(counts.release_calls, 1);
    EXPECT_EQ(counts.released, 1);
    EXPECT_TRUE(host.suites.all_released());
}

TEST(Host, RefusesWithheldUnknownAndOtherVersions) {
    Host host;
    host.suites.withhold(kUtility, 13);
    CommandScope scope(host, nullptr, 0);
    struct Case {
        const char* name;
        int32_t version;
    };
    for (const Case c : {Case{kUtility, 13}, Case{kUtility, 12}, Case{"No Such Suite", 1}}) {
        const void* suite = &host; // must be overwritten with null
        EXPECT_EQ(acquire(host, c.name, c.version, &suite), kSuiteNotFound) << c.name;
        EXPECT_EQ(suite, nullptr) << c.name;
        EXPECT_EQ(host.suites.counts(c.name, c.version).acquire_calls, 1) << c.name;
        EXPECT_EQ(host.suites.counts(c.name, c.version).acquired, 0) << c.name;
    }
    EXPECT_TRUE(host.suites.all_released());
}

TEST(Host, ReleasingWhatIsNotOutIsAnError) {
    Host host;
    CommandScope scope(host, nullptr, 0);
    EXPECT_EQ(host.basic_suite()->ReleaseSuite(kUtility, 13), kBadParameter);
    EXPECT_EQ(host.suites.counts(kUtility, 13).release_calls, 1);
    EXPECT_EQ(host.suites.counts(kUtility, 13).released, 0);
}

TEST(Host, FailsTheNthCallOfOneFunction) {
    Host host;
    host.calls.fail_call("AcquireSuite", 2, 77);
    CommandScope scope(host, nullptr, 0);
    const void* suite = nullptr;
    EXPECT_EQ(acquire(host, kUtility, 13, &suite), 0);
    EXPECT_EQ(host.basic_suite()->ReleaseSuite(kUtility, 13), 0);
    EXPECT_EQ(acquire(host, kUtility, 13, &suite), 77);
    EXPECT_EQ(suite, nullptr) << "a failure injected instead of the call hands out nothing";
    EXPECT_EQ(acquire(host, kUtility, 13, &suite), 0);
    EXPECT_EQ(host.basic_suite()->ReleaseSuite(kUtility, 13), 0);
    const SuiteCounts counts = host.suites.counts(kUtility, 13);
    EXPECT_EQ(counts.acquire_calls, 3);
    EXPECT_EQ(counts.acquired, 2);
    EXPECT_TRUE(host.suites.all_released());
}

TEST(Host, FailsTheNthCallOfAnyFunction) {
    Host host;
    host.calls.fail_any_call(3, 5);
    CommandScope scope(host, nullptr, 0);
    const void* suite = nullptr;
    std::vector<int32_t> results;
    results.push_back(acquire(host, kUtility, 13, &suite));            // 1
    results.push_back(host.basic_suite()->ReleaseSuite(kUtility, 13)); // 2
    results.push_back(acquire(host, kUtility, 13, &suite));            // 3: fails
    results.push_back(acquire(host, kUtility, 13, &suite));            // 4
    results.push_back(host.basic_suite()->ReleaseSuite(kUtility, 13)); // 5
    EXPECT_EQ(results, (std::vector<int32_t>{0, 0, 5, 0, 0}));
    EXPECT_EQ(host.calls.total(), 5);
    EXPECT_EQ(host.calls.count("AcquireSuite"), 3);
    EXPECT_EQ(host.calls.count("ReleaseSuite"), 2);
}

TEST(Host, AFaultAfterTheWorkStillHandsTheSuiteOut) {
    Host host;
    host.calls.fail_call("AcquireSuite", 1, 9, FaultMode::kAfter);
    CommandScope scope(host, nullptr, 0);
    const void* suite = nullptr;
    EXPECT_EQ(acquire(host, kUtility, 13, &suite), 9);
    EXPECT_NE(suite, nullptr);
    EXPECT_EQ(host.suites.counts(kUtility, 13).outstanding(), 1);
    EXPECT_EQ(host.basic_suite()->ReleaseSuite(kUtility, 13), 0);
}

TEST(Host, LogsEveryCallInOrder) {
    Host host;
    host.calls.fail_call("ReleaseSuite", 1, 3);
    CommandScope scope(host, nullptr, 0);
    const void* suite = nullptr;
    acquire(host, kUtility, 13, &suite);
    host.basic_suite()->ReleaseSuite(kUtility, 13);
    const std::vector<CallRecord> log = host.calls.log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].function, "AcquireSuite");
    EXPECT_EQ(log[0].detail, "AEGP Utility Suite 13");
    EXPECT_EQ(log[0].result, 0);
    EXPECT_FALSE(log[0].injected);
    EXPECT_EQ(log[1].function, "ReleaseSuite");
    EXPECT_EQ(log[1].result, 3);
    EXPECT_TRUE(log[1].injected);
    // The failed release left the suite out.
    EXPECT_FALSE(host.suites.all_released());
    host.calls.clear();
    EXPECT_EQ(host.calls.total(), 0);
    EXPECT_TRUE(host.calls.log().empty());
}

TEST(Host, RegistersWithAegp) {
    Host host;
    host.aegp.set_plugin_id(1234);
    CommandScope scope(host, nullptr, 0);
    const void* table = nullptr;
    ASSERT_EQ(acquire(host, kUtility, 13, &table), 0);
    const auto* utility = static_cast<const AEGP_UtilitySuite6*>(table);
    AEGP_PluginID id = 0;
    EXPECT_EQ(utility->AEGP_RegisterWithAEGP(nullptr, "Someone", &id), 0);
    EXPECT_EQ(id, 1234);
    EXPECT_EQ(utility->AEGP_RegisterWithAEGP(nullptr, "Someone", nullptr),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.aegp.registrations(), std::vector<std::string>{"Someone"});
    host.basic_suite()->ReleaseSuite(kUtility, 13);
}

TEST(Host, BasicSuiteMemoryIsCounted) {
    Host host;
    CommandScope scope(host, nullptr, 0);
    void* block = nullptr;
    ASSERT_EQ(host.basic_suite()->AllocateBlock(16, &block), 0);
    ASSERT_NE(block, nullptr);
    std::memset(block, 1, 16);
    void* bigger = nullptr;
    ASSERT_EQ(host.basic_suite()->ReallocateBlock(block, 64, &bigger), 0);
    EXPECT_EQ(host.ledger.blocks(), 1);
    EXPECT_EQ(host.basic_suite()->FreeBlock(bigger), 0);
    EXPECT_EQ(host.ledger.blocks(), 0);
}

TEST(Host, CallsOutsideACommandFindNoHost) {
    Host host;
    const void* suite = nullptr;
    EXPECT_EQ(acquire(host, kUtility, 13, &suite), kBadParameter);
    EXPECT_EQ(suite, nullptr);
    EXPECT_EQ(host.calls.total(), 0);
}

TEST(Host, EffectRefMustBeTheRunningCommand) {
    Host host;
    CommandScope outer(host, nullptr, 0);
    const PF_ProgPtr outer_ref = outer.effect_ref();
    EXPECT_EQ(context_from(outer_ref), &outer.context());
    {
        CommandScope inner(host, nullptr, 1);
        EXPECT_EQ(context_from(outer_ref), nullptr);
        EXPECT_EQ(context_from(inner.effect_ref()), &inner.context());
        EXPECT_EQ(current_context(), &inner.context());
    }
    EXPECT_EQ(current_context(), &outer.context());
    EXPECT_EQ(context_from(nullptr), nullptr);
}

TEST(Instance, CopiesStringsAndAppendsOnly) {
    Instance instance;
    EXPECT_EQ(instance.param_count(), 1);
    EXPECT_EQ(instance.definition(0).param_type, PF_Param_LAYER);

    std::string choices = "A|B";
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    def.param_type = PF_Param_POPUP;
    std::strcpy(def.name, "Pick");
    def.u.pd.u.namesptr = choices.c_str();
    EXPECT_EQ(instance.add_param(-1, def), PF_Err_NONE);
    EXPECT_EQ(instance.add_param(2, def), PF_Err_NONE);
    EXPECT_EQ(instance.add_param(7, def), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(instance.add_param(0, def), PF_Err_BAD_CALLBACK_PARAM);
    ASSERT_EQ(instance.param_count(), 3);
    choices = "changed by the module";
    EXPECT_STREQ(instance.definition(1).u.pd.u.namesptr, "A|B");
    EXPECT_STREQ(instance.value(2).u.pd.u.namesptr, "A|B");
    PF_ParamDef** params = instance.param_array();
    EXPECT_EQ(params[1], &instance.value(1));
}

TEST(Module, MissingFileIsReportedWithItsPath) {
    try {
        Module module("/nonexistent/Pointillo.so");
        FAIL() << "loaded a file that does not exist";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/Pointillo.so"), std::string::npos);
    }
}

TEST(CommandIo, ResetClearsOnlyTheCommandsOwnFields) {
    PF_OutData out;
    std::memset(&out, 0x5A, sizeof(out));
    reset_out_fields(out);
    EXPECT_EQ(out.out_flags, 0);
    EXPECT_EQ(out.out_flags2, 0);
    EXPECT_EQ(out.return_msg[0], '\0');
    EXPECT_EQ(out.return_msg[255], '\0');
    EXPECT_EQ(out.my_version, 0x5A5A5A5Au);
    EXPECT_EQ(out.num_params, 0x5A5A5A5A);
}

} // namespace
} // namespace hostsim
