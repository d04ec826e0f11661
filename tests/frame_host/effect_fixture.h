#pragma once

// The built effect module in a fresh emulated host: registered, globally set
// up, one instance with its parameters registered, and helpers to give it source
// layers and render frames. Tests see the module only through its exports;
// pre-render data is read through the record the host adopts (same compiler,
// same layout as the module's).

#include "host/pre_render.h"
#include "hostsim/command.h"
#include "hostsim/frame.h"
#include "hostsim/loaded_effect.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace pointillo::test {

// Time base of most tests: 600 units a second, so that the 1/20 s emission
// samples fall on whole units (30 apart) and the velocity step is 3 units.
inline constexpr A_u_long kTimeScale = 600;

inline A_long host_time(double seconds) {
    return static_cast<A_long>(seconds * static_cast<double>(kTimeScale) + 0.5);
}

class EffectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(instance.param_count(), 76);
        host.calls.clear();
    }

    void TearDown() override {
        EXPECT_EQ(effect.leftovers(), "all clean");
        // Empties the module's cloud cache, so that tests do not share clouds.
        EXPECT_EQ(effect.set_down(), PF_Err_NONE);
    }

    // Opaque blocks ("letters") of one colour on a transparent ground, like a
    // rendered word: `letters` blocks side by side with gaps between them.
    int32_t add_word(int32_t width, int32_t height, int32_t letters,
                     hostsim::Argb color = {1.0f, 1.0f, 1.0f, 1.0f}) {
        return host.layers.add(
            hostsim::pattern_layer(width, height, [=](int32_t x, int32_t y) -> hostsim::Argb {
                const int32_t cell = width / letters;
                const bool inside = y >= height / 5 && y < height - height / 5 &&
                                    x % cell >= cell / 6 && x % cell < cell - cell / 6;
                return inside ? color : hostsim::Argb{0.0f, 0.0f, 0.0f, 0.0f};
            }));
    }

    void fill_slot(int32_t slot, int32_t layer_id) {
        instance.set_value("Source " + std::to_string(slot), layer_id);
    }

    // A small frame at `seconds`: a 160 x 90 effect layer at full resolution.
    static hostsim::FrameCall frame_at(double seconds) {
        hostsim::FrameCall request;
        request.time = host_time(seconds);
        request.time_scale = kTimeScale;
        request.width = 160;
        request.height = 90;
        return request;
    }

    hostsim::FrameResult render(const hostsim::FrameCall& request) {
        return effect.render(request);
    }

    // The pre-render data of a frame (rendered up to the pre-render only).
    std::optional<PreRenderData> pre_render_data(hostsim::FrameCall request) {
        std::optional<PreRenderData> data;
        request.pre_render_only = true;
        request.inspect_pre_render = [&](const PF_PreRenderOutput& output) {
            if (output.pre_render_data != nullptr) {
                data = *static_cast<const PreRenderData*>(output.pre_render_data);
            }
        };
        const hostsim::FrameResult result = render(request);
        EXPECT_EQ(result.pre_render_err, PF_Err_NONE) << result.return_msg;
        return data;
    }

    // Parameters checked out, by index, in call order.
    std::vector<PF_ParamIndex> checkout_indices() const {
        std::vector<PF_ParamIndex> indices;
        for (const hostsim::CallRecord& call : host.calls.log()) {
            if (call.function == "checkout_param") {
                indices.push_back(std::stoi(call.detail));
            }
        }
        return indices;
    }

    // Started (registered, set up) when the test is made; a start that
    // fails fails the test.
    hostsim::LoadedEffect effect{POINTILLO_MODULE_PATH};
    hostsim::Module& module = effect.module;
    hostsim::Host& host = effect.host;
    hostsim::Instance& instance = effect.instance;
};

} // namespace pointillo::test
