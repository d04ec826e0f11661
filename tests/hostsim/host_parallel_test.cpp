#include "hostsim/host.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace hostsim {
namespace {

// Commands on many threads at once: each finds its own context, and every
// count and log entry of the shared host adds up.
TEST(HostParallel, CountsAndFaultsStayExactAcrossThreads) {
    constexpr int kThreads = 8;
    constexpr int kPairs = 200;
    Host host;
    host.calls.fail_call("AcquireSuite", 500, 42); // exactly one acquisition somewhere fails
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CommandScope scope(host, nullptr, PF_Cmd_SMART_RENDER);
            for (int i = 0; i < kPairs; ++i) {
                const void* suite = nullptr;
                const SPErr acquired =
                    host.basic_suite()->AcquireSuite("AEGP Utility Suite", 13, &suite);
                if (acquired != 0) {
                    ++failures[t];
                }
                if (suite != nullptr &&
                    host.basic_suite()->ReleaseSuite("AEGP Utility Suite", 13) != 0) {
                    ++failures[t];
                }
                EXPECT_EQ(current_context(), &scope.context());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    int total_failures = 0;
    for (int f : failures) {
        total_failures += f;
    }
    EXPECT_EQ(total_failures, 1);
    const SuiteCounts counts = host.suites.counts("AEGP Utility Suite", 13);
    EXPECT_EQ(counts.acquire_calls, kThreads * kPairs);
    EXPECT_EQ(counts.acquired, kThreads * kPairs - 1);
    EXPECT_EQ(counts.release_calls, kThreads * kPairs - 1);
    EXPECT_TRUE(host.suites.all_released()) << host.suites.outstanding();
    EXPECT_EQ(host.calls.total(), static_cast<int64_t>(host.calls.log().size()));
}

} // namespace
} // namespace hostsim
