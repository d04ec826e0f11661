// One frame on the host's threads: the module runs a frame's pieces through
// the iterate suite, and the frame is the same bytes at every thread count,
// in every order of pieces, without the suite, and with several frames at
// once each on several threads.

#include "effect_fixture.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace pointillo::test {
namespace {

class HostThreads : public EffectTest {
  protected:
    void SetUp() override {
        EffectTest::SetUp();
        fill_slot(1, add_word(600, 300, 3, {1.0f, 0.9f, 0.4f, 0.1f}));
        fill_slot(2, add_word(560, 320, 5, {0.75f, 0.1f, 0.5f, 0.7f}));
        instance.set_value("Enable Additional Particles", 1);
    }

    // 540 rows: more tile rows (pieces) than the most threads asked for.
    static hostsim::FrameCall frame(double seconds, int32_t depth) {
        hostsim::FrameCall call = frame_at(seconds);
        call.width = 640;
        call.height = 540;
        call.depth = depth;
        return call;
    }

    void use_threads(int32_t threads, hostsim::PieceOrder order = hostsim::PieceOrder::kForward,
                     uint32_t seed = 1) {
        hostsim::IterateSettings settings;
        settings.threads = threads;
        settings.order = order;
        settings.seed = seed;
        host.iterate.set(settings);
    }

    // The frame's pixels, and whether its pieces went through the host.
    std::vector<std::byte> pixels(const hostsim::FrameCall& call, bool& iterated) {
        host.calls.clear();
        const hostsim::FrameResult result = render(call);
        EXPECT_TRUE(result.ok()) << result.return_msg;
        iterated = host.calls.count("iterate_generic") > 0;
        return hostsim::packed_output(result);
    }
};

struct Moment {
    const char* name;
    double seconds;
    int32_t depth;
    bool split; // the core splits some pass of it into pieces
};
// Mid-transition shedding particles, at 8 and 32 bits, and a hold at 16
// (whose passes the core may keep whole).
const Moment kMoments[] = {{"transition, 8 bits", 1.4, 8, true},
                           {"transition, 32 bits", 1.3, 32, true},
                           {"hold, 16 bits", 0.4, 16, false}};

TEST_F(HostThreads, FramesAreTheSameOnEveryThreadCountAndOrder) {
    struct Row {
        int32_t threads;
        hostsim::PieceOrder order;
        uint32_t seed;
    };
    const Row rows[] = {
        {2, hostsim::PieceOrder::kForward, 1},    {3, hostsim::PieceOrder::kForward, 1},
        {7, hostsim::PieceOrder::kForward, 1},    {16, hostsim::PieceOrder::kForward, 1},
        {1, hostsim::PieceOrder::kReverse, 1},    {7, hostsim::PieceOrder::kReverse, 1},
        {1, hostsim::PieceOrder::kShuffled, 5},   {3, hostsim::PieceOrder::kShuffled, 9},
        {16, hostsim::PieceOrder::kShuffled, 13},
    };
    for (const Moment& moment : kMoments) {
        use_threads(1);
        bool iterated = false;
        const std::vector<std::byte> one = pixels(frame(moment.seconds, moment.depth), iterated);
        EXPECT_TRUE(iterated || !moment.split)
            << moment.name << ": the pieces did not go through the host";
        for (const Row& row : rows) {
            const std::string name = std::string(moment.name) + ", " + std::to_string(row.threads) +
                                     " threads, order " +
                                     std::to_string(static_cast<int>(row.order));
            use_threads(row.threads, row.order, row.seed);
            EXPECT_TRUE(pixels(frame(moment.seconds, moment.depth), iterated) == one) << name;
            EXPECT_TRUE(iterated || !moment.split) << name;
        }
    }
}

TEST_F(HostThreads, WithoutTheSuiteTheFrameRendersHereTheSame) {
    use_threads(3, hostsim::PieceOrder::kShuffled, 3);
    std::vector<std::vector<std::byte>> threaded;
    bool iterated = false;
    for (const Moment& moment : kMoments) {
        threaded.push_back(pixels(frame(moment.seconds, moment.depth), iterated));
    }
    host.suites.withhold(kPFIterate8Suite, kPFIterate8SuiteVersion2);
    const int64_t acquired =
        host.suites.counts(kPFIterate8Suite, kPFIterate8SuiteVersion2).acquired;
    for (std::size_t m = 0; m < std::size(kMoments); ++m) {
        const Moment& moment = kMoments[m];
        EXPECT_TRUE(pixels(frame(moment.seconds, moment.depth), iterated) == threaded[m])
            << moment.name;
        EXPECT_FALSE(iterated) << moment.name;
        EXPECT_EQ(host.suites.counts(kPFIterate8Suite, kPFIterate8SuiteVersion2).acquired, acquired)
            << moment.name;
    }
}

TEST_F(HostThreads, SeveralFramesAtOnceEachOnSeveralThreads) {
    constexpr int32_t kFrames = 6;
    const auto moment_of = [](int32_t n) { return kMoments[n % std::size(kMoments)]; };
    const auto seconds_of = [&](int32_t n) { return moment_of(n).seconds + 0.05 * (n / 3); };
    use_threads(1);
    std::vector<std::vector<std::byte>> one_by_one;
    bool iterated = false;
    for (int32_t n = 0; n < kFrames; ++n) {
        one_by_one.push_back(pixels(frame(seconds_of(n), moment_of(n).depth), iterated));
    }

    use_threads(3, hostsim::PieceOrder::kShuffled, 11);
    std::vector<std::vector<std::byte>> at_once(kFrames);
    std::atomic<int32_t> next{0};
    std::vector<std::thread> renders;
    for (int32_t t = 0; t < 3; ++t) {
        renders.emplace_back([&] {
            for (int32_t n = next++; n < kFrames; n = next++) {
                const hostsim::FrameResult result =
                    render(frame(seconds_of(n), moment_of(n).depth));
                at_once[static_cast<std::size_t>(n)] = hostsim::packed_output(result);
            }
        });
    }
    for (std::thread& thread : renders) {
        thread.join();
    }
    for (int32_t n = 0; n < kFrames; ++n) {
        EXPECT_FALSE(at_once[static_cast<std::size_t>(n)].empty()) << "frame " << n;
        EXPECT_TRUE(at_once[static_cast<std::size_t>(n)] == one_by_one[static_cast<std::size_t>(n)])
            << "frame " << n;
    }
}

} // namespace
} // namespace pointillo::test
