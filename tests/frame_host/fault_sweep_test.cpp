// A frame with two sources in transition and particles: every host call of
// its pre-render and render (the host's thread pool, iterate_generic, among
// them) fails in turn, and separately every abort poll
// says stop. Each run must return the code the call's failure calls for, give
// everything back, and leave the next frame exactly as a clean one.

#include "effect_fixture.h"

#include <algorithm>
#include <string>
#include <vector>

namespace pointillo::test {
namespace {

constexpr PF_Err kInjected = 4242;

class FaultSweep : public EffectTest {
  protected:
    void SetUp() override {
        EffectTest::SetUp();
        fill_slot(1, add_word(120, 60, 3, {1.0f, 0.8f, 0.3f, 0.1f}));
        fill_slot(2, add_word(140, 70, 5, {0.5f, 0.1f, 0.2f, 0.5f}));
        instance.set_value("Enable Additional Particles", 1);
        // A short life keeps the history to three moving samples.
        instance.set_value("Life (seconds)", 0.15);
        instance.set_value("Life Randomness (%)", 0.0);
    }

    static hostsim::FrameCall frame() { return frame_at(1.4); }

    // The clean frame, and what it looked like.
    void render_clean() {
        host.calls.clear();
        clean = render(frame());
        ASSERT_TRUE(clean.ok()) << clean.return_msg;
        clean_log = host.calls.log();
        clean_pixels = hostsim::packed_output(clean);
    }

    // After a failed frame: nothing held, and the next frame is the clean one.
    void expect_recovered(const std::string& row) {
        EXPECT_EQ(host.outstanding_report(), "all clean") << row;
        const hostsim::FrameResult next = render(frame());
        ASSERT_TRUE(next.ok()) << row << ": the next frame failed: " << next.return_msg;
        EXPECT_TRUE(hostsim::packed_output(next) == clean_pixels)
            << row << ": the next frame differs";
    }

    hostsim::FrameResult clean;
    std::vector<hostsim::CallRecord> clean_log;
    std::vector<std::byte> clean_pixels;
};

// Calls that give something back are failed after doing their work, so that
// the failure is only in the answer.
bool gives_back(const std::string& function) {
    return function == "checkin_param" || function == "checkin_layer_pixels" ||
           function == "ReleaseSuite";
}

TEST_F(FaultSweep, EveryHostCallFailsInTurn) {
    render_clean();
    ASSERT_FALSE(clean_pixels.empty());
    PreRenderData data;
    {
        hostsim::FrameCall request = frame();
        request.pre_render_only = true;
        request.inspect_pre_render = [&](const PF_PreRenderOutput& output) {
            data = *static_cast<const PreRenderData*>(output.pre_render_data);
        };
        ASSERT_EQ(render(request).pre_render_err, PF_Err_NONE);
    }
    ASSERT_EQ(data.source_count, 2);
    ASSERT_EQ(data.emission_steps.size(), 3u);
    ASSERT_TRUE(std::any_of(clean_log.begin(), clean_log.end(), [](const hostsim::CallRecord& c) {
        return c.function == "iterate_generic";
    })) << "the frame's pieces do not go through the host's threads";

    int64_t failures = 0;
    for (std::size_t k = 1; k <= clean_log.size(); ++k) {
        const hostsim::CallRecord& call = clean_log[k - 1];
        const std::string row =
            "call " + std::to_string(k) + " (" + call.function + " " + call.detail + ")";
        host.calls.clear();
        host.calls.fail_any_call(static_cast<int64_t>(k), kInjected,
                                 gives_back(call.function) ? hostsim::FaultMode::kAfter
                                                           : hostsim::FaultMode::kInstead);
        const hostsim::FrameResult result = render(frame());
        host.calls.clear_faults();
        const PF_Err err = result.rendered ? result.render_err : result.pre_render_err;

        if (call.function == "ReleaseSuite") {
            EXPECT_EQ(err, PF_Err_NONE) << row << ": a failed release is ignored";
            EXPECT_TRUE(hostsim::packed_output(result) == clean_pixels) << row;
        } else if (call.function == "AcquireSuite" &&
                   call.detail.find(kPFIterate8Suite) != std::string::npos) {
            // No host threads: the pieces run on the render thread instead.
            EXPECT_EQ(err, PF_Err_NONE) << row;
            EXPECT_TRUE(hostsim::packed_output(result) == clean_pixels) << row;
        } else if (call.function == "AcquireSuite") {
            // The world suite missing in render: the bare code, no message.
            EXPECT_TRUE(result.rendered) << row;
            EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM) << row;
            EXPECT_EQ(result.return_msg, "") << row;
        } else if (call.function == "abort") {
            EXPECT_EQ(err, PF_Interrupt_CANCEL) << row << ": any non-zero answer cancels";
        } else if (call.function == "checkout_param" || call.function == "checkin_param" ||
                   call.function == "checkout_layer" || call.function == "checkout_layer_pixels" ||
                   call.function == "checkin_layer_pixels" || call.function == "checkout_output" ||
                   call.function == "PF_GetPixelFormat" || call.function == "iterate_generic") {
            EXPECT_EQ(err, kInjected) << row;
            EXPECT_EQ(result.return_msg, "") << row;
            EXPECT_EQ(result.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0) << row;
        } else {
            ADD_FAILURE() << row << ": a host call this sweep does not know";
        }
        if (!result.rendered) {
            // A failed pre-render leaves the output record as the host passed it.
            const auto* bytes = reinterpret_cast<const unsigned char*>(&result.pre_render_output);
            for (std::size_t i = 0; i < sizeof(result.pre_render_output); ++i) {
                ASSERT_EQ(bytes[i], 0) << row << ": the output record was written";
            }
        }
        failures += err != PF_Err_NONE ? 1 : 0;
        EXPECT_EQ(result.pre_render_data_deletions, result.pre_render_data_adopted ? 1 : 0) << row;
        expect_recovered(row);
        if (testing::Test::HasFailure()) {
            break; // one bad row says enough
        }
    }
    // Every call but the releases can fail the frame.
    EXPECT_GT(failures, 1000);
}

TEST_F(FaultSweep, EveryAbortPollCancels) {
    render_clean();
    ASSERT_GT(clean.abort_polls, 5);
    for (int64_t n = 1; n <= clean.abort_polls; ++n) {
        const std::string row = "abort at poll " + std::to_string(n);
        hostsim::FrameCall request = frame();
        request.abort = [n](int64_t poll) { return poll == n ? PF_Interrupt_CANCEL : 0; };
        const hostsim::FrameResult result = render(request);
        EXPECT_EQ(result.pre_render_err, PF_Err_NONE) << row;
        EXPECT_EQ(result.render_err, PF_Interrupt_CANCEL) << row;
        EXPECT_EQ(result.abort_polls, n) << row << ": polled on after the answer";
        EXPECT_EQ(result.pre_render_data_deletions, 1) << row;
        expect_recovered(row);
        if (testing::Test::HasFailure()) {
            break;
        }
    }
}

} // namespace
} // namespace pointillo::test
