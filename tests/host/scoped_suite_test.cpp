#include "host/host_error.h"
#include "host/scoped_suite.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pointillo {
namespace {

struct FakeSuite {
    int marker = 0;
};

// A scripted basic suite: what AcquireSuite returns and hands out, and a
// record of every call. Single-threaded by design.
struct Script {
    SPErr acquire_result = 0;
    const void* hand_out = nullptr;
    bool leave_pointer_alone = false; // do not write the suite pointer at all
    std::vector<std::string> calls;
};
Script g_script;

SPErr fake_acquire(const char* name, int32 version, const void** suite) {
    g_script.calls.push_back(std::string("acquire ") + name + " " + std::to_string(version));
    if (!g_script.leave_pointer_alone) {
        *suite = g_script.hand_out;
    }
    return g_script.acquire_result;
}

SPErr fake_release(const char* name, int32 version) {
    g_script.calls.push_back(std::string("release ") + name + " " + std::to_string(version));
    return 0;
}

const SPBasicSuite kFakeBasic = {fake_acquire, fake_release, nullptr, nullptr,
                                 nullptr,      nullptr,      nullptr};

class ScopedSuiteTest : public ::testing::Test {
  protected:
    void SetUp() override { g_script = Script{}; }
    FakeSuite suite;
};

TEST_F(ScopedSuiteTest, ReleasesWhatItAcquiredOnce) {
    g_script.hand_out = &suite;
    {
        const ScopedSuite<FakeSuite> held(&kFakeBasic, "Some Suite", 3);
        ASSERT_TRUE(held);
        EXPECT_EQ(held.get(), &suite);
    }
    EXPECT_EQ(g_script.calls,
              (std::vector<std::string>{"acquire Some Suite 3", "release Some Suite 3"}));
}

TEST_F(ScopedSuiteTest, AvailabilityFollowsThePointerAndTheCheck) {
    struct Case {
        const char* what;
        SPErr result;
        bool hand_out;
        SuiteCheck check;
        bool available;
    };
    const Case cases[] = {
        {"error with a pointer, pointer check", 7, true, SuiteCheck::kPointer, true},
        {"error with a pointer, result check", 7, true, SuiteCheck::kPointerAndResult, false},
        {"success without a pointer", 0, false, SuiteCheck::kPointer, false},
        {"success without a pointer, result check", 0, false, SuiteCheck::kPointerAndResult, false},
        {"error without a pointer", 7, false, SuiteCheck::kPointer, false},
    };
    for (const Case& c : cases) {
        g_script = Script{};
        g_script.acquire_result = c.result;
        g_script.hand_out = c.hand_out ? &suite : nullptr;
        {
            const ScopedSuite<FakeSuite> held(&kFakeBasic, "S", 1, c.check);
            EXPECT_EQ(static_cast<bool>(held), c.available) << c.what;
        }
        // Released exactly when it counted as available.
        EXPECT_EQ(g_script.calls.size(), c.available ? 2u : 1u) << c.what;
    }
}

TEST_F(ScopedSuiteTest, AHostThatWritesNothingLeavesItUnavailable) {
    g_script.leave_pointer_alone = true;
    g_script.acquire_result = 1;
    const ScopedSuite<FakeSuite> held(&kFakeBasic, "S", 1);
    EXPECT_FALSE(held);
}

TEST_F(ScopedSuiteTest, ReleasesWhileAFailureUnwinds) {
    g_script.hand_out = &suite;
    EXPECT_THROW(
        {
            const ScopedSuite<FakeSuite> held(&kFakeBasic, "S", 2);
            throw_if_error(PF_Interrupt_CANCEL);
        },
        HostError);
    EXPECT_EQ(g_script.calls, (std::vector<std::string>{"acquire S 2", "release S 2"}));
}

TEST_F(ScopedSuiteTest, NoBasicSuiteMeansUnavailable) {
    const ScopedSuite<FakeSuite> held(nullptr, "S", 1);
    EXPECT_FALSE(held);
}

} // namespace
} // namespace pointillo
