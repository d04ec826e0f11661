// Several frames rendered at once against one instance, as the application
// does with threaded rendering: the frames must equal a one-thread render
// byte for byte, whatever the order.

#include "effect_fixture.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace pointillo::test {
namespace {

constexpr int32_t kFrames = 24;
constexpr int32_t kThreads = 4;

class MultiFrame : public EffectTest {
  protected:
    void SetUp() override {
        EffectTest::SetUp();
        fill_slot(1, add_word(120, 60, 3, {1.0f, 0.9f, 0.4f, 0.1f}));
        fill_slot(2, add_word(140, 50, 5, {0.75f, 0.1f, 0.5f, 0.7f}));
        fill_slot(3, add_word(100, 70, 2, {1.0f, 0.2f, 1.0f, 0.6f}));
        instance.set_value("Enable Additional Particles", 1);
        instance.set_value("Loop", 1);
        instance.set_value("Transition By", 2); // letters
        instance.set_keyframes("Dot Size", {{0.0, {5.0, {}}}, {4.0, {9.0, {}}}});
    }

    // Frame n: a fifth of a second apart, over holds, transitions and the
    // loop back to the first source.
    static hostsim::FrameCall frame(int32_t n) {
        hostsim::FrameCall request = frame_at(0.2 * n);
        request.depth = 16;
        return request;
    }
};

TEST_F(MultiFrame, ShuffledParallelFramesEqualTheSequentialOnes) {
    std::vector<std::vector<std::byte>> sequential;
    for (int32_t n = 0; n < kFrames; ++n) {
        const hostsim::FrameResult result = render(frame(n));
        ASSERT_TRUE(result.ok()) << "frame " << n << ": " << result.return_msg;
        sequential.push_back(hostsim::packed_output(result));
    }
    // Fresh clouds for the parallel pass, so that the threads build them.
    hostsim::CommandIo setdown;
    ASSERT_EQ(hostsim::send_command(host, module, nullptr, PF_Cmd_GLOBAL_SETDOWN, setdown), 0);

    std::vector<int32_t> order(kFrames);
    for (int32_t n = 0; n < kFrames; ++n) {
        order[static_cast<std::size_t>(n)] = n;
    }
    std::shuffle(order.begin(), order.end(), std::mt19937(20240611));

    std::vector<hostsim::FrameResult> parallel(kFrames);
    std::atomic<int32_t> next{0};
    std::vector<std::thread> threads;
    for (int32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int32_t i = next++; i < kFrames; i = next++) {
                const int32_t n = order[static_cast<std::size_t>(i)];
                parallel[static_cast<std::size_t>(n)] =
                    hostsim::render_frame(host, module, instance, frame(n));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    for (int32_t n = 0; n < kFrames; ++n) {
        const hostsim::FrameResult& result = parallel[static_cast<std::size_t>(n)];
        ASSERT_TRUE(result.ok()) << "frame " << n << ": " << result.return_msg;
        EXPECT_EQ(result.pre_render_data_deletions, 1) << "frame " << n;
        EXPECT_TRUE(hostsim::packed_output(result) == sequential[static_cast<std::size_t>(n)])
            << "frame " << n << " differs from its sequential render";
    }
    EXPECT_EQ(host.ledger.pre_render_deletions(), 2 * kFrames);
}

TEST_F(MultiFrame, FramesRenderWhileTheControlsAreRefreshed) {
    // Parameter-UI commands run beside renders; neither disturbs the other.
    const hostsim::FrameResult reference = render(frame(7));
    ASSERT_TRUE(reference.ok()) << reference.return_msg;
    std::atomic<bool> done{false};
    std::thread ui([&] {
        while (!done) {
            hostsim::CommandIo io;
            EXPECT_EQ(hostsim::send_command(host, module, &instance, PF_Cmd_UPDATE_PARAMS_UI, io),
                      PF_Err_NONE);
        }
    });
    std::vector<std::thread> renders;
    std::atomic<int32_t> differing{0};
    for (int32_t t = 0; t < 2; ++t) {
        renders.emplace_back([&] {
            for (int32_t i = 0; i < 3; ++i) {
                const hostsim::FrameResult result =
                    hostsim::render_frame(host, module, instance, frame(7));
                if (!result.ok() ||
                    hostsim::packed_output(result) != hostsim::packed_output(reference)) {
                    ++differing;
                }
            }
        });
    }
    for (std::thread& thread : renders) {
        thread.join();
    }
    done = true;
    ui.join();
    EXPECT_EQ(differing, 0);
}

} // namespace
} // namespace pointillo::test
