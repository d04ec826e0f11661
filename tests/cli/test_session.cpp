#include "test_session.h"

#include <gtest/gtest.h>
#include <memory>
#include <mutex>

namespace pointillo::testing_support {
namespace {

std::mutex g_mutex;
std::unique_ptr<EffectSession> g_session; // guarded by g_mutex

// Ends the session once every test has run, inside RUN_ALL_TESTS.
class SessionEnvironment : public ::testing::Environment {
  public:
    void TearDown() override {
        const std::lock_guard<std::mutex> lock(g_mutex);
        g_session.reset();
    }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new SessionEnvironment);

} // namespace

EffectSession& test_session() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (g_session == nullptr) {
        g_session = std::make_unique<EffectSession>();
    }
    return *g_session;
}

} // namespace pointillo::testing_support
