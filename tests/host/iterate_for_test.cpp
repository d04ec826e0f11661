// IterateFor against a scripted iterate suite: pieces run once each through
// the host, a piece's exception and the host's own failures come back on the
// calling thread, and without the suite the pieces run here, in order.

#include "host/host_error.h"
#include "host/iterate_for.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace pointillo {
namespace {

// How the scripted host runs iterate_generic's pieces (on the calling thread).
enum class Runs { kEach, kEachBackwards, kSkipLast, kFirstTwice, kOutOfRange, kEachThenFail };

struct Script {
    Runs runs = Runs::kEach;
    SPErr acquire_result = 0;
    bool offer_iterate = true;
    int iterate_calls = 0;
    std::vector<PF_Err> piece_results; // what each call of the module's function returned
};
Script g_script;

PF_Err scripted_iterate(A_long iterations, void* refcon,
                        PF_Err (*fn)(void*, A_long, A_long, A_long)) {
    ++g_script.iterate_calls;
    const auto call = [&](A_long i) {
        g_script.piece_results.push_back(fn(refcon, 0, i, iterations));
    };
    switch (g_script.runs) {
    case Runs::kEach:
    case Runs::kEachThenFail:
        for (A_long i = 0; i < iterations; ++i) {
            call(i);
        }
        return g_script.runs == Runs::kEachThenFail ? 7 : PF_Err_NONE;
    case Runs::kEachBackwards:
        for (A_long i = iterations - 1; i >= 0; --i) {
            call(i);
        }
        return PF_Err_NONE;
    case Runs::kSkipLast:
        for (A_long i = 0; i + 1 < iterations; ++i) {
            call(i);
        }
        return PF_Err_NONE;
    case Runs::kFirstTwice:
        call(0);
        for (A_long i = 0; i < iterations; ++i) {
            call(i);
        }
        return PF_Err_NONE;
    case Runs::kOutOfRange:
        call(iterations);
        return PF_Err_NONE;
    }
    return PF_Err_NONE;
}

const PF_Iterate8Suite2 kIterate = {nullptr, nullptr, nullptr, nullptr, scripted_iterate};
const PF_Iterate8Suite2 kNoGeneric = {nullptr, nullptr, nullptr, nullptr, nullptr};

SPErr scripted_acquire(const char* /*name*/, int32 /*version*/, const void** suite) {
    *suite = g_script.offer_iterate ? &kIterate : &kNoGeneric;
    return g_script.acquire_result;
}

SPErr scripted_release(const char* /*name*/, int32 /*version*/) {
    return 0;
}

const SPBasicSuite kBasic = {scripted_acquire, scripted_release, nullptr, nullptr,
                             nullptr,          nullptr,          nullptr};

// Runs five pieces, recording them; piece `throw_at` throws (-1: none).
std::vector<int32_t> run_pieces(const IterateFor& parallel, int32_t throw_at = -1,
                                int32_t count = 5) {
    std::vector<int32_t> ran;
    parallel(count, [&](int32_t piece) {
        ran.push_back(piece);
        if (piece == throw_at) {
            throw std::runtime_error("piece " + std::to_string(piece));
        }
    });
    return ran;
}

class IterateForTest : public ::testing::Test {
  protected:
    void SetUp() override { g_script = Script{}; }
};

TEST_F(IterateForTest, PiecesRunThroughTheHostOnceEach) {
    g_script.runs = Runs::kEachBackwards;
    const IterateFor parallel(&kBasic);
    EXPECT_EQ(run_pieces(parallel), (std::vector<int32_t>{4, 3, 2, 1, 0}));
    EXPECT_EQ(g_script.iterate_calls, 1);
    EXPECT_EQ(g_script.piece_results, std::vector<PF_Err>(5, PF_Err_NONE));
}

TEST_F(IterateForTest, WithoutTheSuitePiecesRunHereInOrder) {
    struct Row {
        const char* name;
        SPErr acquire_result;
        bool offer_iterate;
        int32_t count;
    };
    for (const Row& row : {Row{"refused", 1, true, 5}, Row{"no iterate_generic", 0, false, 5},
                           Row{"one piece", 0, true, 1}}) {
        g_script = Script{};
        g_script.acquire_result = row.acquire_result;
        g_script.offer_iterate = row.offer_iterate;
        const IterateFor parallel(&kBasic);
        std::vector<int32_t> expected;
        for (int32_t i = 0; i < row.count; ++i) {
            expected.push_back(i);
        }
        EXPECT_EQ(run_pieces(parallel, -1, row.count), expected) << row.name;
        EXPECT_EQ(g_script.iterate_calls, 0) << row.name;
    }
    const IterateFor no_host(nullptr);
    EXPECT_EQ(run_pieces(no_host), (std::vector<int32_t>{0, 1, 2, 3, 4}));
}

TEST_F(IterateForTest, APiecesExceptionComesBackAndStopsThePiecesAfterIt) {
    const IterateFor parallel(&kBasic);
    std::vector<int32_t> ran;
    try {
        parallel(5, [&](int32_t piece) {
            ran.push_back(piece);
            if (piece == 2) {
                throw std::runtime_error("piece 2");
            }
        });
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "piece 2");
    }
    EXPECT_EQ(ran, (std::vector<int32_t>{0, 1, 2}));
    // The host was told, and every call returned to it.
    ASSERT_EQ(g_script.piece_results.size(), 5u);
    EXPECT_NE(g_script.piece_results[2], PF_Err_NONE);
}

TEST_F(IterateForTest, TheHostsOwnFailuresAreTheFramesError) {
    struct Row {
        const char* name;
        Runs runs;
        PF_Err code;
    };
    const Row rows[] = {
        {"iterate_generic fails", Runs::kEachThenFail, 7},
        {"a piece skipped", Runs::kSkipLast, PF_Err_INTERNAL_STRUCT_DAMAGED},
        {"a piece twice", Runs::kFirstTwice, PF_Err_INTERNAL_STRUCT_DAMAGED},
        {"a piece that does not exist", Runs::kOutOfRange, PF_Err_BAD_CALLBACK_PARAM},
    };
    for (const Row& row : rows) {
        g_script = Script{};
        g_script.runs = row.runs;
        const IterateFor parallel(&kBasic);
        try {
            run_pieces(parallel);
            ADD_FAILURE() << row.name << ": nothing thrown";
        } catch (const HostError& e) {
            EXPECT_EQ(e.code, row.code) << row.name;
        }
    }
}

} // namespace
} // namespace pointillo
