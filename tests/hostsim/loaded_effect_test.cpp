// LoadedEffect against the fake module: every step of the start that fails
// is reported as that step with the module's code and message, and the end
// reports leftovers and a failed set-down, setting down only once.

#include "hostsim/loaded_effect.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace hostsim {
namespace {

// HOSTSIM_FAKE_FAIL for the fake module, for the lifetime of the scope.
class FakeFails {
  public:
    FakeFails(int command, int code) {
        set((std::to_string(command) + " " + std::to_string(code)));
    }
    ~FakeFails() { set(""); }
    FakeFails(const FakeFails&) = delete;
    FakeFails& operator=(const FakeFails&) = delete;

  private:
    static void set(const std::string& value) {
#if defined(_WIN32)
        _putenv_s("HOSTSIM_FAKE_FAIL", value.c_str());
#else
        setenv("HOSTSIM_FAKE_FAIL", value.c_str(), 1);
#endif
    }
};

TEST(LoadedEffect, StartsRegisteredWithOneInstanceSetUp) {
    LoadedEffect effect(HOSTSIM_FAKE_EFFECT_PATH);
    EXPECT_EQ(effect.registration.name, "Fake");
    EXPECT_EQ(effect.registration.match_name, "Test Fake");
    EXPECT_EQ(effect.instance.param_count(), 3);
    EXPECT_EQ(effect.leftovers(), "all clean");
    EXPECT_TRUE(effect.finish().empty());
}

TEST(LoadedEffect, AFailedStepIsReportedAsThatStep) {
    struct Row {
        int command;
        StartStep step;
        const char* what;
        const char* return_msg;
    };
    const std::string path = HOSTSIM_FAKE_EFFECT_PATH;
    const Row rows[] = {
        {-1, StartStep::kRegister, "did not register (error 41)", ""},
        {PF_Cmd_GLOBAL_SETUP, StartStep::kGlobalSetup, "PF_Cmd_GLOBAL_SETUP failed with error 41",
         "fake refused"},
        {PF_Cmd_PARAMS_SETUP, StartStep::kParamsSetup, "PF_Cmd_PARAMS_SETUP failed with error 41",
         "fake refused"},
    };
    for (const Row& row : rows) {
        const FakeFails fails(row.command, 41);
        try {
            LoadedEffect effect(path);
            ADD_FAILURE() << row.what << ": started";
        } catch (const StartError& e) {
            EXPECT_EQ(e.step, row.step) << row.what;
            EXPECT_EQ(e.err, 41) << row.what;
            EXPECT_EQ(e.return_msg, row.return_msg) << row.what;
            EXPECT_NE(std::string(e.what()).find(row.what), std::string::npos) << e.what();
        }
    }
}

TEST(LoadedEffect, TheEndReportsLeftoversAndAFailedSetDownOnce) {
    LoadedEffect effect(HOSTSIM_FAKE_EFFECT_PATH);
    effect.host.ledger.note(Resource::kWorld, 1, "a world");
    const FakeFails fails(PF_Cmd_GLOBAL_SETDOWN, 42);
    const std::vector<std::string> problems = effect.finish();
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].find("the module did not give back: "), std::string::npos) << problems[0];
    EXPECT_NE(problems[0].find("a world"), std::string::npos) << problems[0];
    EXPECT_EQ(problems[1], "PF_Cmd_GLOBAL_SETDOWN failed with error 42");
    // Set down already: nothing is sent again, so nothing fails.
    EXPECT_EQ(effect.set_down(), PF_Err_NONE);
    effect.host.ledger.note(Resource::kWorld, -1, "a world");
}

} // namespace
} // namespace hostsim
