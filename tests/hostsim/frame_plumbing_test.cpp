// How the host runs a frame, seen by a stand-in module (fake_effect.cpp) that
// reports what it was given: the pre-render's records, adoption and deletion
// of its data, checkout ids, refusals, and what it leaves outstanding.

#include "hostsim/command.h"
#include "hostsim/frame.h"

#include <gtest/gtest.h>
#include <string>

namespace hostsim {
namespace {

class FramePlumbing : public ::testing::Test {
  protected:
    void SetUp() override {
        CommandIo io;
        ASSERT_EQ(send_command(host, module, &instance, PF_Cmd_PARAMS_SETUP, io), PF_Err_NONE);
        ASSERT_EQ(instance.param_count(), 3);
        layer = host.layers.add(pattern_layer(6, 4, [](int32_t, int32_t) -> Argb {
            return {1.0f, 0.5f, 0.25f, 0.125f};
        }));
        instance.set_value(0, layer); // the input layer
    }

    // Scenario `n` of the stand-in module.
    FrameResult run(A_long n, int32_t depth = 8) {
        FrameCall request;
        request.time = n;
        request.depth = depth;
        request.width = 11;
        request.height = 9;
        request.downsample_x = request.downsample_y = PF_RationalScale{1, 2};
        return render_frame(host, module, instance, request);
    }

    // How often the module's deletion function has run, as the module counts.
    int64_t deletions() {
        const FrameResult report = run(3);
        return report.pre_render_err - 1000;
    }

    Module module{HOSTSIM_FAKE_EFFECT_PATH};
    Host host;
    Instance instance;
    int32_t layer = 0;
};

TEST_F(FramePlumbing, AdoptsTheDataOfASucceededPreRenderAndDeletesItOnce) {
    const int64_t before = deletions();
    const FrameResult result = run(1, 16);
    // The module checked a zeroed output record and the request itself.
    ASSERT_EQ(result.pre_render_err, PF_Err_NONE);
    ASSERT_EQ(result.render_err, PF_Err_NONE) << "the render saw other pre-render data";
    EXPECT_TRUE(result.pre_render_data_adopted);
    EXPECT_EQ(result.pre_render_data_deletions, 1);
    EXPECT_EQ(deletions(), before + 1);
    EXPECT_EQ(host.outstanding_report(), "all clean");

    // The output is the pre-render's result size, rows padded.
    EXPECT_EQ(result.output_format, PF_PixelFormat_ARGB64);
    EXPECT_EQ(result.output_width, 5);
    EXPECT_EQ(result.output_height, 3);
    EXPECT_EQ(result.output_rowbytes, 5 * 8 + kRowPadding);
    EXPECT_TRUE(output_padding_untouched(result));
    const std::vector<std::byte> packed = packed_output(result);
    ASSERT_EQ(packed.size(), 5u * 8u * 3u);
    for (std::size_t y = 0; y < 3; ++y) {
        for (std::size_t x = 0; x < 40; ++x) {
            ASSERT_EQ(std::to_integer<std::size_t>(packed[y * 40 + x]), (x + y) & 0xFF);
        }
    }
}

TEST_F(FramePlumbing, DataOfAFailedPreRenderIsNeitherAdoptedNorDeleted) {
    const int64_t before = deletions();
    const FrameResult result = run(2);
    EXPECT_EQ(result.pre_render_err, 1234);
    EXPECT_FALSE(result.rendered);
    EXPECT_FALSE(result.pre_render_data_adopted);
    EXPECT_EQ(result.pre_render_data_deletions, 0);
    EXPECT_NE(result.pre_render_output.pre_render_data, nullptr) << "as the module left it";
    EXPECT_EQ(deletions(), before);
    EXPECT_EQ(host.outstanding_report(), "all clean");
}

TEST_F(FramePlumbing, RefusesWhatTheApplicationRefuses) {
    struct Row {
        A_long scenario;
        const char* what;
        PF_Err pre_render;
        PF_Err render;
    };
    const Row rows[] = {
        {4, "a checkout id used twice in a frame", PF_Err_BAD_CALLBACK_PARAM, 0},
        {5, "a parameter index that does not exist", PF_Err_INVALID_INDEX, 0},
        {6, "checking in what was never checked out", PF_Err_BAD_CALLBACK_PARAM, 0},
        {7, "a layer checkout of a slider", PF_Err_INVALID_INDEX, 0},
        {8, "layer pixels checked in twice", 0, PF_Err_BAD_CALLBACK_PARAM},
        {9, "pixels of an id never checked out", 0, PF_Err_BAD_CALLBACK_PARAM},
        {10, "the pixel format of a world the host did not make", 0, PF_Err_BAD_CALLBACK_PARAM},
    };
    for (const Row& row : rows) {
        const FrameResult result = run(row.scenario, 32);
        EXPECT_EQ(result.pre_render_err, row.pre_render) << row.what;
        if (row.pre_render == PF_Err_NONE) {
            EXPECT_EQ(result.render_err, row.render) << row.what;
        }
        EXPECT_EQ(host.outstanding_report(), "all clean") << row.what;
    }
}

TEST_F(FramePlumbing, LayerCheckoutsReportTheLayerAtTheDownsample) {
    const FrameResult result = run(10, 32);
    ASSERT_EQ(result.layer_checkouts.size(), 1u);
    const LayerCheckout& c = result.layer_checkouts[0];
    EXPECT_EQ(c.checkout_id, 3);
    EXPECT_EQ(c.layer_id, layer);
    EXPECT_EQ(c.result.ref_width, 6);
    EXPECT_EQ(c.result.ref_height, 4);
    EXPECT_EQ(c.result.result_rect.right, 3);
    EXPECT_EQ(c.result.result_rect.bottom, 2);
    EXPECT_EQ(c.result.max_result_rect.right, 3);

    instance.set_value(0, 0.0); // no layer: size zero, empty rectangles
    const FrameResult empty = run(10, 32);
    ASSERT_EQ(empty.layer_checkouts.size(), 1u);
    EXPECT_EQ(empty.layer_checkouts[0].result.ref_width, 0);
    EXPECT_EQ(empty.layer_checkouts[0].result.result_rect.right, 0);
    EXPECT_EQ(empty.render_err, 903) << "the module got no world for an empty slot";
}

TEST_F(FramePlumbing, LayerPixelsNeverCheckedInAreReported) {
    const FrameResult result = run(11);
    EXPECT_TRUE(result.ok());
    const std::string report = host.outstanding_report();
    EXPECT_NE(report.find("layer pixels: checkout 3 (layer 1) x1"), std::string::npos) << report;
    EXPECT_EQ(host.ledger.outstanding(Resource::kLayerPixels), 1);
}

// A caller's buffer holds the output world's pixels exactly as the host's own
// world would, padding filled the same, and is reused by the next frame.
TEST_F(FramePlumbing, TheOutputMayLiveInACallersBuffer) {
    const FrameResult own = run(1, 16);
    ASSERT_TRUE(own.ok());
    std::vector<std::byte> storage;
    for (int round = 0; round < 2; ++round) {
        FrameCall request;
        request.time = 1;
        request.depth = 16;
        request.width = 11;
        request.height = 9;
        request.downsample_x = request.downsample_y = PF_RationalScale{1, 2};
        request.output_storage = &storage;
        const std::byte* before = storage.data();
        const FrameResult result = render_frame(host, module, instance, request);
        ASSERT_TRUE(result.ok()) << round;
        EXPECT_TRUE(result.output.empty()) << "nothing copied";
        EXPECT_EQ(result.output_rowbytes, own.output_rowbytes);
        EXPECT_EQ(storage, own.output) << round;
        if (round == 1) {
            EXPECT_EQ(storage.data(), before) << "the buffer is reused";
        }
    }
    EXPECT_EQ(host.outstanding_report(), "all clean");
}

} // namespace
} // namespace hostsim
