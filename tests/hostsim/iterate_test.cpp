// "PF Iterate8 Suite" of the emulated host: every piece once on the threads
// asked for, the calling thread as thread 0 and the only one with a command,
// pieces in the order asked for, logged as a host call, failed on request,
// and withheld like any suite.

#include "hostsim/host.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hostsim {
namespace {

struct Call {
    A_long thread_index = 0;
    A_long i = 0;
    A_long iterations = 0;
    bool on_calling_thread = false;
    bool has_command = false;
};

struct Seen {
    std::thread::id calling = std::this_thread::get_id();
    std::mutex mutex;
    std::vector<Call> calls;
};

// Records the call and answers with an error, which the host does not pass on.
PF_Err record(void* refcon, A_long thread_index, A_long i, A_long iterations) {
    Seen& seen = *static_cast<Seen*>(refcon);
    const std::lock_guard<std::mutex> lock(seen.mutex);
    seen.calls.push_back(Call{thread_index, i, iterations,
                              std::this_thread::get_id() == seen.calling,
                              current_context() != nullptr});
    return 99;
}

IterateSettings settings_of(int32_t threads, PieceOrder order = PieceOrder::kForward,
                            uint32_t seed = 1) {
    IterateSettings settings;
    settings.threads = threads;
    settings.order = order;
    settings.seed = seed;
    return settings;
}

TEST(IteratePool, EveryPieceOnceOnTheThreadsAskedFor) {
    for (const int32_t threads : {1, 2, 3, 7, 16}) {
        for (const A_long count : {1, 5, 40}) {
            const std::string row =
                std::to_string(threads) + " threads, " + std::to_string(count) + " pieces";
            IteratePool pool;
            pool.set(settings_of(threads));
            Seen seen;
            EXPECT_EQ(pool.run(count, &seen, record), PF_Err_NONE) << row;
            std::vector<int32_t> times(static_cast<std::size_t>(count), 0);
            for (const Call& call : seen.calls) {
                ASSERT_TRUE(call.i >= 0 && call.i < count) << row;
                ++times[static_cast<std::size_t>(call.i)];
                EXPECT_EQ(call.iterations, count) << row;
                EXPECT_TRUE(call.thread_index >= 0 && call.thread_index < std::min(threads, count))
                    << row;
                EXPECT_EQ(call.on_calling_thread, call.thread_index == 0) << row;
            }
            EXPECT_EQ(times, std::vector<int32_t>(static_cast<std::size_t>(count), 1)) << row;
        }
    }
}

TEST(IteratePool, PiecesComeInTheOrderAskedFor) {
    const auto order_of = [](PieceOrder order, uint32_t seed) {
        IteratePool pool;
        pool.set(settings_of(1, order, seed));
        Seen seen;
        pool.run(20, &seen, record);
        std::vector<A_long> pieces;
        for (const Call& call : seen.calls) {
            pieces.push_back(call.i);
        }
        return pieces;
    };
    std::vector<A_long> forward(20);
    for (A_long i = 0; i < 20; ++i) {
        forward[static_cast<std::size_t>(i)] = i;
    }
    std::vector<A_long> backward(forward.rbegin(), forward.rend());
    EXPECT_EQ(order_of(PieceOrder::kForward, 1), forward);
    EXPECT_EQ(order_of(PieceOrder::kReverse, 1), backward);
    const std::vector<A_long> shuffled = order_of(PieceOrder::kShuffled, 5);
    EXPECT_NE(shuffled, forward);
    EXPECT_TRUE(std::is_permutation(shuffled.begin(), shuffled.end(), forward.begin()));
    EXPECT_EQ(order_of(PieceOrder::kShuffled, 5), shuffled) << "a seed gives one order";
}

TEST(IteratePool, OncePerProcessorCallsEachThreadOnce) {
    IteratePool pool;
    pool.set(settings_of(3));
    Seen seen;
    EXPECT_EQ(pool.run(PF_Iterations_ONCE_PER_PROCESSOR, &seen, record), PF_Err_NONE);
    ASSERT_EQ(seen.calls.size(), 3u);
    std::vector<A_long> threads;
    for (const Call& call : seen.calls) {
        EXPECT_EQ(call.i, call.thread_index);
        EXPECT_EQ(call.iterations, 3);
        threads.push_back(call.thread_index);
    }
    std::sort(threads.begin(), threads.end());
    EXPECT_EQ(threads, (std::vector<A_long>{0, 1, 2}));
}

TEST(IteratePool, RefusesWhatIsNotAPieceCount) {
    IteratePool pool;
    pool.set(settings_of(2));
    Seen seen;
    EXPECT_EQ(pool.run(0, &seen, record), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(pool.run(-2, &seen, record), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(pool.run(4, &seen, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(seen.calls.empty());
    EXPECT_GE(IteratePool().threads(), 1) << "one per core by default";
}

TEST(IterateSuite, ALoggedHostCallThatFailsAndIsWithheldOnRequest) {
    Host host;
    host.iterate.set(settings_of(3));
    CommandScope scope(host, nullptr, PF_Cmd_SMART_RENDER);
    const void* table = nullptr;
    ASSERT_EQ(host.basic_suite()->AcquireSuite(kPFIterate8Suite, kPFIterate8SuiteVersion2, &table),
              0);
    const auto* suite = static_cast<const PF_Iterate8Suite2*>(table);
    ASSERT_NE(suite->iterate_generic, nullptr);

    Seen seen;
    EXPECT_EQ(suite->iterate_generic(6, &seen, record), PF_Err_NONE);
    EXPECT_EQ(seen.calls.size(), 6u);
    // Thread 0 is in the command; the other threads are not, so the host
    // refuses their calls as it refuses any call outside a command.
    for (const Call& call : seen.calls) {
        EXPECT_EQ(call.has_command, call.thread_index == 0);
    }
    ASSERT_FALSE(host.calls.log().empty());
    EXPECT_EQ(host.calls.log().back().function, "iterate_generic");
    EXPECT_EQ(host.calls.log().back().detail, "6");

    host.calls.fail_call("iterate_generic", 2, 4242);
    Seen failed;
    EXPECT_EQ(suite->iterate_generic(6, &failed, record), 4242);
    EXPECT_TRUE(failed.calls.empty()) << "a failed call runs no piece";
    EXPECT_EQ(host.basic_suite()->ReleaseSuite(kPFIterate8Suite, kPFIterate8SuiteVersion2), 0);

    host.suites.withhold(kPFIterate8Suite, kPFIterate8SuiteVersion2);
    table = &host;
    EXPECT_NE(host.basic_suite()->AcquireSuite(kPFIterate8Suite, kPFIterate8SuiteVersion2, &table),
              0);
    EXPECT_EQ(table, nullptr);
    EXPECT_TRUE(host.suites.all_released());
}

} // namespace
} // namespace hostsim
