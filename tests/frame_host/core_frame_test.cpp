// The core renders a whole frame without a host: planned with a plain
// parameter reader and rendered from plain pixel views, a frame equals, byte
// for byte, the module's own frame of the same parameters and layers.

#include "draw/canvas.h"
#include "effect_fixture.h"
#include "frame/frame_plan.h"
#include "frame/param_table.h"
#include "frame/settings_read.h"
#include "memory/buffer_pool.h"
#include "render/render_frame.h"
#include "render/set_down.h"
#include "source/cloud.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pointillo::test {
namespace {

class CoreFrame : public EffectTest {
  protected:
    void SetUp() override {
        EffectTest::SetUp();
        fill_slot(1, add_word(150, 60, 3, {1.0f, 1.0f, 0.5f, 0.25f}));
        fill_slot(3, add_word(120, 70, 5, {0.75f, 0.0f, 0.5f, 0.75f}));
        fill_slot(4, add_word(100, 40, 2));
    }

    // The instance's value at a time, as a host hands it to the core.
    ParamReading reading(int32_t index, int32_t time) const {
        const PF_ParamDef def = instance.param_at(index, time, kTimeScale);
        ParamReading r;
        switch (param_at(index)->type) {
        case ParamType::kSlider:
            r.number = def.u.fs_d.value;
            break;
        case ParamType::kPopup:
            r.number = def.u.pd.value;
            break;
        case ParamType::kCheckbox:
            r.number = def.u.bd.value;
            break;
        case ParamType::kColor:
            r.red = def.u.cd.value.red;
            r.green = def.u.cd.value.green;
            r.blue = def.u.cd.value.blue;
            break;
        default:
            break;
        }
        return r;
    }

    // The frame rendered by the core alone, in the output's packed layout.
    std::vector<std::byte> core_frame(const hostsim::FrameCall& frame,
                                      ParallelFor parallel = kSerialFor) {
        const auto read = [&](int32_t index, int32_t time) { return reading(index, time); };
        const Settings settings = read_settings(read, frame.time);

        PlanRequest request;
        request.time = frame.time;
        request.time_scale = frame.time_scale;
        request.downsample_x = downsample_factor(frame.downsample_x.num, frame.downsample_x.den);
        request.downsample_y = downsample_factor(frame.downsample_y.num, frame.downsample_y.den);
        request.output =
            output_size(request.downsample_x, request.downsample_y, frame.width, frame.height);
        std::vector<int32_t> layers; // the active sources' layer ids, in slot order
        for (int32_t slot = 1; slot <= kSourceSlotCount; ++slot) {
            const int32_t id = hostsim::whole(
                instance.value_at(param_index_of(source_slot_id(slot)), frame.time, kTimeScale)
                    .number);
            if (id != 0) {
                layers.push_back(id);
            }
        }
        request.active_count = static_cast<int32_t>(layers.size());

        const hostsim::LayerRequest pixels_request{frame.depth, frame.downsample_x,
                                                   frame.downsample_y, 0, 0};
        // A source's key is its layer id.
        const auto checkout = [&](int32_t position, int32_t) {
            const int32_t id = layers[static_cast<size_t>(position)];
            const auto size = host.layers.size(id).value();
            hostsim::LayerRequest sized = pixels_request;
            sized.width = hostsim::downsampled(size.first, frame.downsample_x);
            sized.height = hostsim::downsampled(size.second, frame.downsample_y);
            return SourceRef{id, size.first, size.second, {0, 0, sized.width, sized.height}};
        };
        const FramePlan plan = plan_frame(settings, request, PlanHost{read, checkout});

        const auto sources = [&](const SourceRef& source, PixelsUse use) {
            hostsim::LayerRequest sized = pixels_request;
            sized.width = source.rect.right;
            sized.height = source.rect.bottom;
            const std::shared_ptr<const hostsim::LayerPixels> pixels =
                host.layers.pixels(source.key, sized);
            const PixelDepth depth = frame.depth == 8    ? PixelDepth::k8
                                     : frame.depth == 16 ? PixelDepth::k16
                                                         : PixelDepth::k32;
            use(ConstPixelView{pixels->bytes.data(), pixels->width, pixels->height,
                               pixels->width * bytes_per_pixel(depth), depth});
        };
        Canvas canvas;
        render_frame(plan, sources, CancelCheck{}, canvas, parallel);

        const PixelDepth depth = frame.depth == 8    ? PixelDepth::k8
                                 : frame.depth == 16 ? PixelDepth::k16
                                                     : PixelDepth::k32;
        const std::ptrdiff_t rowbytes = plan.output_width * bytes_per_pixel(depth);
        std::vector<std::byte> out(static_cast<size_t>(rowbytes) *
                                   static_cast<size_t>(plan.output_height));
        convert_canvas(
            canvas, PixelView{out.data(), plan.output_width, plan.output_height, rowbytes, depth},
            CancelCheck{});
        return out;
    }
};

TEST_F(CoreFrame, EqualsTheModulesFrame) {
    instance.set_value("Enable Additional Particles", 1);
    instance.set_value("Emission Rate (per second)", 400);
    instance.set_keyframes("Dot Size", {{0.0, {5.0, {}}}, {3.0, {9.0, {}}}});
    instance.set_value("Dot Shape", 4);
    struct Row {
        double seconds;
        int32_t depth;
        PF_RationalScale downsample;
        bool solid;
    };
    const Row rows[] = {
        {0.2, 8, {1, 1}, true},  // a hold drawn solid
        {0.2, 8, {1, 1}, false}, // a hold drawn as dots
        {1.3, 8, {1, 1}, true},  // mid-transition, with particles
        {2.7, 16, {1, 2}, true}, // the second transition at half resolution
        {2.05, 32, {1, 1}, false},
    };
    for (const Row& row : rows) {
        instance.set_value("Form Solid Source", row.solid ? 1 : 0);
        hostsim::FrameCall request = frame_at(row.seconds);
        request.depth = row.depth;
        request.downsample_x = request.downsample_y = row.downsample;
        const hostsim::FrameResult result = render(request);
        ASSERT_TRUE(result.ok()) << result.return_msg;
        const std::vector<std::byte> want = hostsim::packed_output(result);
        ASSERT_NE(std::count(want.begin(), want.end(), std::byte{0}),
                  static_cast<std::ptrdiff_t>(want.size()))
            << "a blank frame proves nothing";
        const std::vector<std::byte> got = core_frame(request);
        ASSERT_EQ(got.size(), want.size()) << row.seconds << " s";
        EXPECT_EQ(std::memcmp(got.data(), want.data(), got.size()), 0)
            << row.seconds << " s, " << row.depth << " bits, solid " << row.solid;
    }
}

// The one call reads the snapshot at the frame time and plans with it: the
// same reads and checkouts, in the same order, as read_settings followed by
// plan_frame.
TEST_F(CoreFrame, OneCallReadsAndPlansAsTheTwoSteps) {
    instance.set_value("Enable Additional Particles", 1);
    instance.set_value("Emission Rate (per second)", 400);
    for (const double seconds : {0.2, 1.3, 2.7}) {
        const hostsim::FrameCall frame = frame_at(seconds);
        PlanRequest request;
        request.time = frame.time;
        request.time_scale = frame.time_scale;
        request.output = {frame.width, frame.height};
        request.active_count = 3;
        std::vector<int32_t> log; // reads as index and time, checkouts as -1 - position and time
        const auto read = [&](int32_t index, int32_t time) {
            log.insert(log.end(), {index, time});
            return reading(index, time);
        };
        const auto checkout = [&](int32_t position, int32_t time) {
            log.insert(log.end(), {-1 - position, time});
            return SourceRef{
                position, frame.width, frame.height, {0, 0, frame.width, frame.height}};
        };
        const Settings settings = read_settings(read, request.time);
        const FramePlan two_steps = plan_frame(settings, request, PlanHost{read, checkout});
        const std::vector<int32_t> want = std::exchange(log, {});
        const FramePlan one_call = plan_frame(request, PlanHost{read, checkout});
        EXPECT_EQ(log, want) << seconds << " s";
        EXPECT_EQ(one_call.source_count, two_steps.source_count) << seconds << " s";
        EXPECT_EQ(one_call.emission_steps.size(), two_steps.emission_steps.size())
            << seconds << " s";
        EXPECT_TRUE(one_call.settings == two_steps.settings) << seconds << " s";
        EXPECT_TRUE(one_call.state == two_steps.state) << seconds << " s";
    }
}

// Parallel-fors as a host may run them: in reverse, shuffled, or on threads
// that take the next piece as they come free.
struct ReversedFor {
    void operator()(int32_t count, ParallelBody body) const {
        for (int32_t piece = count - 1; piece >= 0; --piece) {
            body(piece);
        }
    }
};
struct ShuffledFor {
    uint32_t seed = 0;
    void operator()(int32_t count, ParallelBody body) const {
        std::vector<int32_t> order(static_cast<size_t>(count));
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), std::mt19937(seed + static_cast<uint32_t>(count)));
        for (const int32_t piece : order) {
            body(piece);
        }
    }
};
struct ThreadedFor {
    int32_t threads = 2;
    void operator()(int32_t count, ParallelBody body) const {
        std::atomic<int32_t> next{0};
        std::vector<std::jthread> workers;
        for (int32_t t = 0; t < threads; ++t) {
            workers.emplace_back([&] {
                for (int32_t piece = next++; piece < count; piece = next++) {
                    body(piece);
                }
            });
        }
    }
};

TEST_F(CoreFrame, PiecesInAnyOrderOnAnyThreadsGiveTheSameFrame) {
    instance.set_value("Enable Additional Particles", 1);
    instance.set_value("Emission Rate (per second)", 400);
    instance.set_value("Form Solid Source", 1);
    const std::pair<double, int32_t> frames[] = {{0.2, 8}, {1.3, 8}, {1.4, 32}, {2.7, 16}};
    for (const auto& [seconds, depth] : frames) {
        hostsim::FrameCall request = frame_at(seconds);
        request.depth = depth;
        const std::vector<std::byte> want = core_frame(request);
        const ReversedFor reversed;
        const ShuffledFor shuffled{7};
        EXPECT_EQ(core_frame(request, reversed), want) << seconds << " s reversed";
        EXPECT_EQ(core_frame(request, shuffled), want) << seconds << " s shuffled";
        for (const int32_t threads : {1, 2, 3, 7, 16}) {
            const ThreadedFor threaded{threads};
            EXPECT_EQ(core_frame(request, threaded), want)
                << seconds << " s, " << threads << " threads";
        }
    }
}

TEST_F(CoreFrame, SetDownEmptiesWhatTheCoreKeeps) {
    const hostsim::FrameCall request = frame_at(1.3);
    const std::vector<std::byte> first = core_frame(request);
    ASSERT_GT(cloud_cache_size(), 0u);
    ASSERT_GT(buffer_pool_stats().idle_blocks, 0u);
    set_down_core();
    EXPECT_EQ(cloud_cache_size(), 0u);
    EXPECT_EQ(buffer_pool_stats().idle_blocks, 0u);
    EXPECT_EQ(buffer_pool_stats().idle_bytes, 0u);
    // The core starts over as in a fresh process.
    EXPECT_EQ(core_frame(request), first);
}

} // namespace
} // namespace pointillo::test
