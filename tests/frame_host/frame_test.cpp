// Whole frames in the host: output sizes and the size limit, the source slots
// a frame checks out, the emission history, render-scale copies, output
// worlds of other sizes, and cancellation.

#include "effect_fixture.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace pointillo::test {
namespace {

using Frames = EffectTest;

PF_RationalScale one_over(int32_t n) {
    return PF_RationalScale{1, static_cast<A_u_long>(n)};
}

bool all_zero(const std::vector<std::byte>& bytes) {
    for (const std::byte b : bytes) {
        if (b != std::byte{0}) {
            return false;
        }
    }
    return true;
}

// The bytes of output rows [first, last), padding excluded.
std::vector<std::byte> rows_of(const hostsim::FrameResult& result, int32_t first, int32_t last) {
    const std::vector<std::byte> packed = hostsim::packed_output(result);
    const std::size_t row = packed.size() / static_cast<std::size_t>(result.output_height);
    return {packed.begin() + static_cast<std::ptrdiff_t>(row * static_cast<std::size_t>(first)),
            packed.begin() + static_cast<std::ptrdiff_t>(row * static_cast<std::size_t>(last))};
}

TEST_F(Frames, OutputSizeFollowsTheDownsample) {
    struct Row {
        int32_t width, height, n;
        int32_t out_width, out_height;
    };
    for (const Row row : {Row{1920, 1080, 2, 960, 540}, Row{1920, 1080, 3, 640, 360},
                          Row{1, 1, 4, 1, 1}, Row{101, 7, 2, 51, 4}}) {
        const std::string name = std::to_string(row.width) + "x" + std::to_string(row.height) +
                                 " at 1/" + std::to_string(row.n);
        hostsim::FrameCall request = frame_at(0.0);
        request.width = row.width;
        request.height = row.height;
        request.downsample_x = request.downsample_y = one_over(row.n);
        std::optional<PreRenderData> data;
        request.inspect_pre_render = [&](const PF_PreRenderOutput& output) {
            data = *static_cast<const PreRenderData*>(output.pre_render_data);
        };
        const hostsim::FrameResult result = render(request);
        ASSERT_TRUE(result.ok()) << name << ": " << result.return_msg;
        ASSERT_TRUE(data.has_value()) << name;
        EXPECT_EQ(data->output_width, row.out_width) << name;
        EXPECT_EQ(data->output_height, row.out_height) << name;
        const PF_LRect& rect = result.pre_render_output.result_rect;
        EXPECT_EQ(rect.left, 0) << name;
        EXPECT_EQ(rect.top, 0) << name;
        EXPECT_EQ(rect.right, row.out_width) << name;
        EXPECT_EQ(rect.bottom, row.out_height) << name;
        EXPECT_EQ(std::memcmp(&result.pre_render_output.max_result_rect, &rect, sizeof(rect)), 0)
            << name;
        EXPECT_NE(result.pre_render_output.flags & PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS, 0)
            << name;
        EXPECT_EQ(result.output_width, row.out_width) << name;
        EXPECT_EQ(result.output_height, row.out_height) << name;
        EXPECT_EQ(result.pre_render_data_deletions, 1) << name;
    }
}

TEST_F(Frames, SixtyFourMegapixelsAreTheLimit) {
    hostsim::FrameCall request = frame_at(0.0);
    request.width = 8192;
    request.height = 8192;
    request.pre_render_only = true; // drawing 1 GiB of canvas proves nothing more
    const hostsim::FrameResult accepted = render(request);
    EXPECT_EQ(accepted.pre_render_err, PF_Err_NONE);
    EXPECT_EQ(accepted.pre_render_output.result_rect.right, 8192);
    EXPECT_EQ(accepted.pre_render_output.result_rect.bottom, 8192);

    host.calls.clear();
    request.height = 8193;
    const hostsim::FrameResult refused = render(request);
    EXPECT_EQ(refused.pre_render_err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(refused.return_msg, "Pointillo: Output exceeds the supported 64 megapixels");
    EXPECT_NE(refused.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
    EXPECT_FALSE(refused.pre_render_data_adopted);
    // After the settings, before any layer.
    EXPECT_EQ(host.calls.count("checkout_param"), 44);
    EXPECT_EQ(host.calls.count("checkout_layer"), 0);
}

TEST_F(Frames, NoSourceGivesATransparentFrameAtEveryDepth) {
    instance.set_value("Enable Additional Particles", 1);
    const PF_PixelFormat formats[] = {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64,
                                      PF_PixelFormat_ARGB128};
    for (const int32_t depth : {8, 16, 32}) {
        hostsim::FrameCall request = frame_at(1.4);
        request.depth = depth;
        std::optional<PreRenderData> data;
        request.inspect_pre_render = [&](const PF_PreRenderOutput& output) {
            data = *static_cast<const PreRenderData*>(output.pre_render_data);
        };
        host.calls.clear();
        const hostsim::FrameResult result = render(request);
        ASSERT_TRUE(result.ok()) << depth << " bits: " << result.return_msg;
        ASSERT_TRUE(data.has_value());
        EXPECT_EQ(data->source_count, 0) << depth << " bits";
        EXPECT_TRUE(data->emission_steps.empty()) << depth << " bits";
        EXPECT_EQ(result.output_format, formats[depth / 16]) << depth << " bits";
        EXPECT_EQ(result.output_width, 160);
        EXPECT_EQ(result.output_height, 90);
        EXPECT_GT(result.output_rowbytes, 160 * hostsim::pixel_bytes(result.output_format));
        EXPECT_TRUE(all_zero(hostsim::packed_output(result))) << depth << " bits";
        EXPECT_TRUE(hostsim::output_padding_untouched(result)) << depth << " bits";
        // The 16 probes and nothing more.
        EXPECT_EQ(host.calls.count("checkout_layer"), 16) << depth << " bits";
        EXPECT_TRUE(result.pixel_checkouts.empty()) << depth << " bits";
    }
}

TEST_F(Frames, GapsInTheSlotsAreSkipped) {
    const int32_t second = add_word(120, 60, 3);
    const int32_t fifth = add_word(100, 50, 2);
    fill_slot(2, second);
    fill_slot(5, fifth);
    instance.set_value("Form Solid Source", 0); // both sources, also in a hold
    hostsim::FrameCall request = frame_at(0.5);
    std::optional<PreRenderData> data;
    request.inspect_pre_render = [&](const PF_PreRenderOutput& output) {
        data = *static_cast<const PreRenderData*>(output.pre_render_data);
    };
    const hostsim::FrameResult result = render(request);
    ASSERT_TRUE(result.ok()) << result.return_msg;
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(data->state, (SequenceState{0, 1, 0.0f}));
    EXPECT_EQ(data->source_count, 2);

    // Probes 100 to 115 for the slots in order, with an empty request.
    ASSERT_EQ(result.layer_checkouts.size(), 20u);
    for (int32_t slot = 1; slot <= 16; ++slot) {
        const hostsim::LayerCheckout& probe =
            result.layer_checkouts[static_cast<std::size_t>(slot - 1)];
        EXPECT_EQ(probe.checkout_id, 99 + slot) << "slot " << slot;
        EXPECT_EQ(probe.index, instance.index_checked("Source " + std::to_string(slot)));
        EXPECT_EQ(probe.request_rect.right - probe.request_rect.left, 0) << "slot " << slot;
        EXPECT_EQ(probe.layer_id, slot == 2 ? second : slot == 5 ? fifth : 0) << "slot " << slot;
    }
    // Active list (slot 2, slot 5): current is slot 2, next slot 5; each
    // probed again, then asked whole under a second id.
    struct Expected {
        A_long id;
        const char* slot;
        int32_t layer;
        bool whole;
    };
    const Expected expected[] = {{116, "Source 2", second, false},
                                 {117, "Source 2", second, true},
                                 {118, "Source 5", fifth, false},
                                 {119, "Source 5", fifth, true}};
    for (std::size_t i = 0; i < 4; ++i) {
        const hostsim::LayerCheckout& c = result.layer_checkouts[16 + i];
        EXPECT_EQ(c.checkout_id, expected[i].id);
        EXPECT_EQ(c.index, instance.index_checked(expected[i].slot)) << "id " << c.checkout_id;
        EXPECT_EQ(c.layer_id, expected[i].layer) << "id " << c.checkout_id;
        EXPECT_EQ(c.request_rect.right, expected[i].whole ? c.result.max_result_rect.right : 0)
            << "id " << c.checkout_id;
    }
    EXPECT_EQ(data->from.key, 117);
    EXPECT_EQ(data->to.key, 119);
    ASSERT_EQ(result.pixel_checkouts.size(), 2u);
    EXPECT_EQ(result.pixel_checkouts[0].layer_id, second);
    EXPECT_EQ(result.pixel_checkouts[1].layer_id, fifth);
}

TEST_F(Frames, OnlyTheSourcesDrawnAreCheckedOutForPixels) {
    const int32_t first = add_word(120, 60, 3);
    const int32_t second = add_word(120, 60, 5);
    struct Row {
        const char* name;
        bool solid;
        double t;
        bool two_sources;
        std::vector<int32_t> fetched;
    };
    const std::vector<Row> rows = {
        {"solid, in a hold", true, 0.5, true, {first}},
        {"not solid, in a hold", false, 0.5, true, {first, second}},
        {"solid, in a transition", true, 1.4, true, {first, second}},
        {"not solid, one source: next is current", false, 0.5, false, {first, first}},
        {"solid, one source", true, 1.4, false, {first}},
    };
    fill_slot(1, first);
    for (const Row& row : rows) {
        fill_slot(2, row.two_sources ? second : 0);
        instance.set_value("Form Solid Source", row.solid ? 1 : 0);
        const hostsim::FrameResult result = render(frame_at(row.t));
        ASSERT_TRUE(result.ok()) << row.name << ": " << result.return_msg;
        std::vector<int32_t> fetched;
        for (const hostsim::PixelCheckout& c : result.pixel_checkouts) {
            fetched.push_back(c.layer_id);
        }
        EXPECT_EQ(fetched, row.fetched) << row.name;
    }
}

// Which samples of the emission history the pre-render looks at.
class EmissionHistory : public EffectTest {
  protected:
    void SetUp() override {
        EffectTest::SetUp();
        fill_slot(1, add_word(120, 60, 3));
        fill_slot(2, add_word(120, 60, 4));
        instance.set_value("Enable Additional Particles", 1);
    }

    // Times at which parameter `name` was checked out, in call order.
    std::vector<A_long> checkout_times(const char* name) const {
        const PF_ParamIndex index = instance.index_checked(name);
        std::vector<A_long> times;
        for (const hostsim::CallRecord& call : host.calls.log()) {
            if (call.function == "checkout_param" && std::stoi(call.detail) == index) {
                const std::size_t at = call.detail.find(" at ");
                times.push_back(std::stoi(call.detail.substr(at + 4)));
            }
        }
        return times;
    }
};

TEST_F(EmissionHistory, OnlySamplesYoungerThanTheLongestLifeAreExamined) {
    // 20 s into a comp, life 0.7 s with 20 %: samples younger than 0.84 s,
    // k = 384 to 400, are examined further. Manual mode makes the
    // examination visible: each examined sample reads the position three
    // times (at t_k, t_k - dt, t_k + dt).
    instance.set_value("Automatic", 0);
    hostsim::FrameCall request = frame_at(0.0);
    request.time_scale = 2000; // t_k = 100 k, dt = 10
    request.time = 40000;
    std::optional<PreRenderData> data;
    request.pre_render_only = true;
    request.inspect_pre_render = [&](const PF_PreRenderOutput& output) {
        data = *static_cast<const PreRenderData*>(output.pre_render_data);
    };
    ASSERT_EQ(render(request).pre_render_err, PF_Err_NONE);
    ASSERT_TRUE(data.has_value());

    std::vector<A_long> life_expected;
    for (A_long k = 205; k <= 400; ++k) { // 9.75 s of history, 196 samples
        life_expected.push_back(100 * k);
    }
    EXPECT_EQ(checkout_times("Life (seconds)").size(), 197u); // and one in the snapshot
    std::vector<A_long> life = checkout_times("Life (seconds)");
    life.erase(life.begin());
    EXPECT_EQ(life, life_expected);

    std::vector<A_long> position_expected = {40000, 40000}; // the snapshot, the frame's state
    for (A_long k = 384; k <= 400; ++k) {
        position_expected.insert(position_expected.end(), {100 * k, 100 * k - 10, 100 * k + 10});
    }
    EXPECT_EQ(checkout_times("Sequence Position"), position_expected);
    EXPECT_TRUE(data->emission_steps.empty()) << "a constant position never moves";
}

TEST_F(EmissionHistory, StandingStillAndNegativeSamplesEmitNothing) {
    // At 1.0 s with the longest possible life every sample from k = -175 to
    // 20 is examined; the sequence moves only from 0.8 s on.
    instance.set_value("Life (seconds)", 5.0);
    instance.set_value("Life Randomness (%)", 95.0);
    std::optional<PreRenderData> data = pre_render_data(frame_at(1.0));
    ASSERT_TRUE(data.has_value());
    std::vector<int32_t> samples;
    for (const EmissionStep& step : data->emission_steps) {
        samples.push_back(step.timing.sample);
    }
    EXPECT_EQ(samples, (std::vector<int32_t>{16, 17, 18, 19, 20}));
    // The snapshot, the 196 samples, and the snapshots of the five steps.
    EXPECT_EQ(checkout_times("Life (seconds)").size(), 1u + 196u + 5u);
    ASSERT_EQ(data->emission_steps.size(), 5u);
    const EmissionStep& first = data->emission_steps.front();
    EXPECT_EQ(first.timing.age, static_cast<float>(1.0 - 16 / 20.0));
    EXPECT_EQ(first.timing.progress_before, 0.0f);
    EXPECT_GT(first.timing.progress_after, 0.0f);
    EXPECT_EQ(first.timing.velocity_span, 6.0f / 600.0f);
    EXPECT_EQ(data->emission_steps.back().timing.age, 0.0f);
    // Each step fetched its two sources whole.
    for (const EmissionStep& step : data->emission_steps) {
        EXPECT_NE(step.from.key, 0) << "sample " << step.timing.sample;
        EXPECT_NE(step.to.key, 0) << "sample " << step.timing.sample;
    }
}

TEST_F(EmissionHistory, AStepUsesTheSettingsOfItsOwnTime) {
    instance.set_keyframes("Dot Size", {{0.0, {7.0, {}}}, {0.9, {7.0, {}}}, {1.0, {11.0, {}}}});
    std::optional<PreRenderData> data = pre_render_data(frame_at(1.0));
    ASSERT_TRUE(data.has_value());
    ASSERT_FALSE(data->emission_steps.empty());
    EXPECT_EQ(data->settings.dots.dot_size, 11.0f);
    EXPECT_EQ(data->emission_steps.front().timing.sample, 16);
    EXPECT_EQ(data->emission_steps.front().settings.dots.dot_size, 7.0f);
    EXPECT_EQ(data->emission_steps.back().settings.dots.dot_size, 11.0f);
}

// A render at downsample 1/N equals a full-resolution render of the
// downsampled layers with every pixel-sized setting multiplied by 1/N: the
// render-scale copies reach the core as 4 and 3.5 for spacing 8, dot size 7.
TEST_F(Frames, RenderScaleScalesThePixelSizedSettings) {
    const auto word = [](int32_t x, int32_t y) -> hostsim::Argb {
        const bool inside = (x / 24) % 2 == 0 && y >= 20 && y < 100 && x >= 16 && x < 300;
        return inside ? hostsim::Argb{1.0f, 0.9f, 0.5f, 0.2f} : hostsim::Argb{};
    };
    // The full-resolution twin of a layer seen at (1/sx, 1/sy).
    const auto twin = [=](int32_t sx, int32_t sy) {
        return [=](int32_t x, int32_t y) { return word(x * sx, y * sy); };
    };
    struct Row {
        const char* name;
        int32_t nx, ny;   // the downsampled render's 1/nx, 1/ny
        int32_t tnx, tny; // the twin render's 1/tnx, 1/tny
        float twin_factor;
    };
    // At 1/2 x 1/4 the scale is 1/4 on both axes; the twin renders at 1 x 1/2
    // (scale 1/2) with settings halved.
    for (const Row row : {Row{"1/2", 2, 2, 1, 1, 0.5f}, Row{"1/2 by 1/4", 2, 4, 1, 2, 0.5f}}) {
        const int32_t layer = host.layers.add(hostsim::pattern_layer(320, 120, word));
        const int32_t next = host.layers.add(hostsim::pattern_layer(
            320, 120, [=](int32_t x, int32_t y) { return word(319 - x, y); }));
        const int32_t layer_twin =
            host.layers.add(hostsim::pattern_layer(320 / row.nx * row.tnx, 120 / row.ny * row.tny,
                                                   twin(row.nx / row.tnx, row.ny / row.tny)));
        const auto mirrored = [=](int32_t x, int32_t y) {
            return word(319 - x * (row.nx / row.tnx), y * (row.ny / row.tny));
        };
        const int32_t next_twin = host.layers.add(
            hostsim::pattern_layer(320 / row.nx * row.tnx, 120 / row.ny * row.tny, mirrored));

        const auto set_pixels = [&](float f) {
            instance.set_value("Spacing", static_cast<double>(8.0f * f));
            instance.set_value("Dot Size", static_cast<double>(7.0f * f));
            instance.set_value("Scatter", static_cast<double>(180.0f * f));
            instance.set_value("Chaos Amount", static_cast<double>(60.0f * f));
            instance.set_value("Edge Softness", static_cast<double>(0.4f * f));
        };
        hostsim::FrameCall request = frame_at(1.4);
        request.width = 320;
        request.height = 360;
        request.downsample_x = one_over(row.nx);
        request.downsample_y = one_over(row.ny);
        fill_slot(1, layer);
        fill_slot(2, next);
        set_pixels(1.0f);
        const hostsim::FrameResult scaled = render(request);

        request.width = 320 / row.nx * row.tnx;
        request.height = 360 / row.ny * row.tny;
        request.downsample_x = one_over(row.tnx);
        request.downsample_y = one_over(row.tny);
        fill_slot(1, layer_twin);
        fill_slot(2, next_twin);
        set_pixels(row.twin_factor);
        const hostsim::FrameResult direct = render(request);

        ASSERT_TRUE(scaled.ok()) << row.name << ": " << scaled.return_msg;
        ASSERT_TRUE(direct.ok()) << row.name << ": " << direct.return_msg;
        EXPECT_EQ(scaled.output_width, 320 / row.nx) << row.name;
        EXPECT_EQ(scaled.output_height, 360 / row.ny) << row.name;
        ASSERT_EQ(direct.output_width, scaled.output_width) << row.name;
        ASSERT_EQ(direct.output_height, scaled.output_height) << row.name;
        EXPECT_FALSE(all_zero(hostsim::packed_output(scaled))) << row.name << ": nothing drawn";
        EXPECT_TRUE(hostsim::packed_output(scaled) == hostsim::packed_output(direct)) << row.name;
    }
}

TEST_F(Frames, OutputWorldsOfOtherSizes) {
    fill_slot(1, add_word(120, 60, 3));
    fill_slot(2, add_word(140, 70, 4));
    const hostsim::FrameResult normal = render(frame_at(1.4));
    ASSERT_TRUE(normal.ok()) << normal.return_msg;
    ASSERT_FALSE(all_zero(hostsim::packed_output(normal)));
    const auto pixel_bytes = [](const hostsim::FrameResult& r, int32_t x, int32_t y) {
        std::vector<std::byte> bytes(4);
        std::memcpy(bytes.data(),
                    r.output.data() +
                        static_cast<std::size_t>(y) * static_cast<std::size_t>(r.output_rowbytes) +
                        static_cast<std::size_t>(x) * 4u,
                    4);
        return bytes;
    };

    // Larger: the frame's pixels, transparent beyond them.
    hostsim::FrameCall request = frame_at(1.4);
    request.output_size = std::pair{200, 130};
    const hostsim::FrameResult larger = render(request);
    ASSERT_TRUE(larger.ok()) << larger.return_msg;
    for (int32_t y = 0; y < 130; ++y) {
        for (int32_t x = 0; x < 200; ++x) {
            const std::vector<std::byte> expected =
                x < 160 && y < 90 ? pixel_bytes(normal, x, y) : std::vector<std::byte>(4);
            ASSERT_EQ(pixel_bytes(larger, x, y), expected) << "larger world at " << x << "," << y;
        }
    }
    EXPECT_TRUE(hostsim::output_padding_untouched(larger));

    // Smaller: only its own part.
    request.output_size = std::pair{100, 50};
    const hostsim::FrameResult smaller = render(request);
    ASSERT_TRUE(smaller.ok()) << smaller.return_msg;
    for (int32_t y = 0; y < 50; ++y) {
        for (int32_t x = 0; x < 100; ++x) {
            ASSERT_EQ(pixel_bytes(smaller, x, y), pixel_bytes(normal, x, y))
                << "smaller world at " << x << "," << y;
        }
    }
    EXPECT_TRUE(hostsim::output_padding_untouched(smaller));

    // None, or one without pixels: success, nothing written.
    request.output_size.reset();
    request.output = hostsim::WorldMode::kAbsent;
    const hostsim::FrameResult absent = render(request);
    EXPECT_TRUE(absent.ok()) << absent.return_msg;
    EXPECT_FALSE(absent.output_checked_out);
    request.output = hostsim::WorldMode::kNoPixels;
    const hostsim::FrameResult no_pixels = render(request);
    EXPECT_TRUE(no_pixels.ok()) << no_pixels.return_msg;
    EXPECT_TRUE(no_pixels.output_checked_out);
    EXPECT_TRUE(no_pixels.output.empty());
}

TEST_F(Frames, LayerWorldsWithoutPixelsDrawNothing) {
    fill_slot(1, add_word(120, 60, 3));
    instance.set_value("Form Solid Source", 0);
    for (const hostsim::WorldMode mode :
         {hostsim::WorldMode::kAbsent, hostsim::WorldMode::kNoPixels}) {
        hostsim::FrameCall request = frame_at(0.5);
        request.layer_worlds = mode;
        const hostsim::FrameResult result = render(request);
        ASSERT_TRUE(result.ok()) << result.return_msg;
        EXPECT_EQ(result.pixel_checkouts.size(), 2u);
        EXPECT_TRUE(all_zero(hostsim::packed_output(result)));
    }
}

TEST_F(Frames, DepthsShareOneCanvas) {
    // Opaque white sources give the same masks at every depth, so the 8- and
    // 16-bit outputs are the 32-bit floats converted.
    fill_slot(1, add_word(120, 60, 3));
    fill_slot(2, add_word(140, 70, 4));
    hostsim::FrameResult results[3];
    for (int32_t i = 0; i < 3; ++i) {
        hostsim::FrameCall request = frame_at(1.4);
        request.depth = 8 << i;
        results[i] = render(request);
        ASSERT_TRUE(results[i].ok()) << request.depth << " bits: " << results[i].return_msg;
    }
    const auto quantize = [](float v, float scale) {
        const float clamped = !(v > 0.0f) ? 0.0f : (v < 1.0f ? v : 1.0f);
        return static_cast<uint32_t>(clamped * scale + 0.5f);
    };
    // The stored integer samples of pixel (x, y).
    const auto samples = [](const hostsim::FrameResult& r, int32_t x, int32_t y) {
        const int32_t size = hostsim::pixel_bytes(r.output_format) / 4;
        const std::byte* at =
            r.output.data() +
            static_cast<std::size_t>(y) * static_cast<std::size_t>(r.output_rowbytes) +
            static_cast<std::size_t>(x * 4 * size);
        std::array<uint32_t, 4> v{};
        for (std::size_t c = 0; c < 4; ++c) {
            if (size == 1) {
                v[c] = std::to_integer<uint32_t>(at[c]);
            } else {
                uint16_t sample = 0;
                std::memcpy(&sample, at + 2 * c, 2);
                v[c] = sample;
            }
        }
        return v;
    };
    int32_t nonzero = 0;
    for (int32_t y = 0; y < 90; ++y) {
        for (int32_t x = 0; x < 160; ++x) {
            const hostsim::Argb f = hostsim::output_pixel(results[2], x, y);
            const std::array<uint32_t, 4> b8 = samples(results[0], x, y);
            const std::array<uint32_t, 4> b16 = samples(results[1], x, y);
            nonzero += f[0] > 0.0f ? 1 : 0;
            for (std::size_t c = 0; c < 4; ++c) {
                ASSERT_EQ(b8[c], quantize(f[c], 255.0f))
                    << "8 bits at " << x << "," << y << " channel " << c;
                ASSERT_EQ(b16[c], quantize(f[c], 32768.0f))
                    << "16 bits at " << x << "," << y << " channel " << c;
            }
        }
    }
    EXPECT_GT(nonzero, 100);
}

TEST_F(Frames, AwkwardTimesAndTimeScalesRender) {
    // Particles make the pre-render walk 9.75 s of history around each time;
    // none of it may overflow or divide by zero (the sanitizer builds check).
    fill_slot(1, add_word(120, 60, 3));
    fill_slot(2, add_word(140, 70, 4));
    instance.set_value("Enable Additional Particles", 1);
    instance.set_value("Loop", 1);
    const A_long times[] = {INT32_MIN, -600, -1, 0, 1, 840, INT32_MAX - 1, INT32_MAX};
    const A_u_long scales[] = {0, 1, 30, 600, 1000000, UINT32_MAX};
    for (const A_long time : times) {
        for (const A_u_long scale : scales) {
            hostsim::FrameCall request = frame_at(0.0);
            request.time = time;
            request.time_scale = scale;
            const hostsim::FrameResult result = render(request);
            EXPECT_TRUE(result.ok())
                << "time " << time << "/" << scale << ": " << result.pre_render_err << " "
                << result.render_err << " " << result.return_msg;
        }
    }
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) { set(value.c_str()); }
    ~ScopedEnv() { set(nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void set(const char* value) {
#if defined(_WIN32)
        _putenv_s(name_, value != nullptr ? value : "");
#else
        if (value != nullptr) {
            setenv(name_, value, 1);
        } else {
            unsetenv(name_);
        }
#endif
    }
    const char* name_;
};

std::vector<std::string> read_lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST_F(Frames, TheMaskLogSaysWhatEachSourceCheckoutReported) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "hostsim_frames_mask.log").string();
    std::filesystem::remove(path);
    fill_slot(1, add_word(120, 60, 3));
    fill_slot(2, add_word(141, 70, 4));
    {
        const ScopedEnv log("POINTILLO_LOG", path);
        hostsim::FrameCall request = frame_at(1.4);
        request.downsample_x = request.downsample_y = one_over(2);
        ASSERT_TRUE(render(request).ok());
        request.layer_worlds = hostsim::WorldMode::kAbsent;
        ASSERT_TRUE(render(request).ok());
    }
    EXPECT_EQ(read_lines(path),
              (std::vector<std::string>{
                  "mask t=840/600 src=60x30 ref=120x60 rect=0,0,60,30 output=80x45 ds=0.50,0.50",
                  "mask t=840/600 src=71x35 ref=141x70 rect=0,0,71,35 output=80x45 ds=0.50,0.50",
                  "mask t=840/600 src=0x0 ref=120x60 rect=0,0,60,30 output=80x45 ds=0.50,0.50",
                  "mask t=840/600 src=0x0 ref=141x70 rect=0,0,71,35 output=80x45 ds=0.50,0.50"}));
    std::filesystem::remove(path);
}

TEST_F(Frames, CancelAtTheRow64CheckLeavesRowsZeroTo63Written) {
    fill_slot(1, add_word(120, 60, 3));
    fill_slot(2, add_word(140, 70, 4));
    const hostsim::FrameResult clean = render(frame_at(1.4));
    ASSERT_TRUE(clean.ok()) << clean.return_msg;
    // The conversion asks before rows 0 and 64 of the 90: the last two polls.
    const int64_t row64 = clean.abort_polls;
    ASSERT_GE(row64, 2);

    hostsim::FrameCall request = frame_at(1.4);
    request.abort = [&](int64_t poll) { return poll == row64 ? PF_Interrupt_CANCEL : 0; };
    const hostsim::FrameResult cancelled = render(request);
    EXPECT_EQ(cancelled.render_err, PF_Interrupt_CANCEL);
    EXPECT_EQ(cancelled.abort_polls, row64);
    ASSERT_EQ(cancelled.output_height, 90);
    EXPECT_TRUE(rows_of(cancelled, 0, 64) == rows_of(clean, 0, 64));
    for (const std::byte b : rows_of(cancelled, 64, 90)) {
        ASSERT_EQ(b, hostsim::kUnwrittenByte) << "a row after 63 was written";
    }

    // Any non-zero answer cancels, also at row 0: nothing written.
    request.abort = [&](int64_t poll) { return poll == row64 - 1 ? 1 : 0; };
    const hostsim::FrameResult at_row0 = render(request);
    EXPECT_EQ(at_row0.render_err, PF_Interrupt_CANCEL);
    for (const std::byte b : hostsim::packed_output(at_row0)) {
        ASSERT_EQ(b, hostsim::kUnwrittenByte) << "a row was written";
    }
}

} // namespace
} // namespace pointillo::test
