// Parameter values over time, as the effect's pre-render reads them from the
// host: conversions, checkout order and balance, a failing checkout, and the
// sequence timing seen through the adopted pre-render data.

#include "effect_fixture.h"

#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace pointillo::test {
namespace {

// The documented checkout order of one settings snapshot.
const std::array<const char*, 44> kCheckoutOrder = {"Distribution",
                                                    "Dot Shape",
                                                    "Transition By",
                                                    "Order",
                                                    "Motion Style",
                                                    "Spacing",
                                                    "Dot Size",
                                                    "Size Randomness (%)",
                                                    "Grid Jitter (%)",
                                                    "Ring Thickness (%)",
                                                    "Edge Softness",
                                                    "Stagger (%)",
                                                    "Form Solid Source",
                                                    "Break Apart / Settle (%)",
                                                    "Source Overlap",
                                                    "Scatter",
                                                    "Chaos Amount",
                                                    "Chaos Frequency",
                                                    "Swirl Turns",
                                                    "Random Seed",
                                                    "Dot Color",
                                                    "Match Source Colors",
                                                    "Center Out Fan (%)",
                                                    "Automatic",
                                                    "Sequence Position",
                                                    "Start (seconds)",
                                                    "Hold (seconds)",
                                                    "Transition (seconds)",
                                                    "Loop",
                                                    "Enable Additional Particles",
                                                    "Emission Rate (per second)",
                                                    "Inherit Velocity (%)",
                                                    "Extra Spread (px/sec)",
                                                    "Velocity Falloff (drag)",
                                                    "Gravity (px/sec2)",
                                                    "Life (seconds)",
                                                    "Life Randomness (%)",
                                                    "Particle Size",
                                                    "Particle Size Randomness (%)",
                                                    "End Scale (%)",
                                                    "Particle Opacity (%)",
                                                    "Fade Over Life (%)",
                                                    "Match Main Particle Color",
                                                    "Particle Color"};

using SettingsRead = EffectTest;

TEST_F(SettingsRead, FortyFourCheckoutsInOrderEachCheckedInBeforeTheNext) {
    const hostsim::FrameResult result = render(frame_at(0.0));
    ASSERT_TRUE(result.ok()) << result.return_msg;
    EXPECT_EQ(result.max_param_checkouts, 1);

    // The snapshot is the first thing the pre-render does.
    const std::vector<hostsim::CallRecord> log = host.calls.log();
    ASSERT_GE(log.size(), 88u);
    for (std::size_t i = 0; i < kCheckoutOrder.size(); ++i) {
        const int32_t index = instance.index_checked(kCheckoutOrder[i]);
        const hostsim::CallRecord& out = log[2 * i];
        const hostsim::CallRecord& in = log[2 * i + 1];
        EXPECT_EQ(out.function, "checkout_param") << "checkout " << i + 1;
        EXPECT_EQ(std::stoi(out.detail), index)
            << "checkout " << i + 1 << " should be " << kCheckoutOrder[i] << ", got " << out.detail;
        EXPECT_EQ(in.function, "checkin_param") << "after checkout " << i + 1;
        EXPECT_EQ(std::stoi(in.detail), index) << "after checkout " << i + 1;
    }
    // Nothing else of the frame reads a parameter (automatic timing, no sources).
    EXPECT_EQ(host.calls.count("checkout_param"), 44);
    EXPECT_EQ(host.calls.count("checkin_param"), 44);
}

TEST_F(SettingsRead, AFailingCheckoutStopsTheReadWithEveryEarlierOneCheckedIn) {
    constexpr PF_Err kCode = 777;
    for (int64_t k = 1; k <= 44; ++k) {
        host.calls.clear();
        host.calls.fail_call("checkout_param", k, kCode);
        const hostsim::FrameResult result = render(frame_at(1.0));
        host.calls.clear_faults();
        const std::string row = "failing checkout " + std::to_string(k) + " (" +
                                kCheckoutOrder[static_cast<std::size_t>(k - 1)] + ")";
        EXPECT_EQ(result.pre_render_err, kCode) << row;
        EXPECT_FALSE(result.rendered) << row;
        EXPECT_EQ(result.return_msg, "") << row;
        EXPECT_EQ(host.calls.count("checkin_param"), k - 1) << row;
        EXPECT_EQ(host.calls.count("checkout_layer"), 0) << row;
        EXPECT_EQ(host.outstanding_report(), "all clean") << row;
    }
}

struct Conversion {
    const char* name;
    std::function<void(hostsim::Instance&)> set;
    std::function<void(const Settings&, const std::string& row)> check;
};

TEST_F(SettingsRead, ValuesAreConvertedAsTheRenderCodeUsesThem) {
    const std::vector<Conversion> rows = {
        {"Random Seed 41.9 truncates to 41",
         [](hostsim::Instance& i) { i.set_value("Random Seed", 41.9); },
         [](const Settings& s, const std::string& row) {
             EXPECT_EQ(s.dots.random_seed, 41) << row;
         }},
        {"Random Seed 41.99 truncates to 41",
         [](hostsim::Instance& i) { i.set_value("Random Seed", 41.99); },
         [](const Settings& s, const std::string& row) {
             EXPECT_EQ(s.dots.random_seed, 41) << row;
         }},
        {"Random Seed 0.99999999 rounds to the float 1 first",
         [](hostsim::Instance& i) { i.set_value("Random Seed", 0.99999999); },
         [](const Settings& s, const std::string& row) {
             EXPECT_EQ(s.dots.random_seed, 1) << row;
         }},
        {"Dot Color 255/128/0 with alpha 7",
         [](hostsim::Instance& i) {
             i.set_color("Dot Color", PF_Pixel{7, 255, 128, 0});
         },
         [](const Settings& s, const std::string& row) {
             EXPECT_EQ(s.dots.dot_color.red, 1.0f) << row;
             EXPECT_EQ(s.dots.dot_color.green, 128.0f / 255.0f) << row;
             EXPECT_EQ(s.dots.dot_color.blue, 0.0f) << row;
         }},
        {"Particle Color 0/64/255 with alpha 0",
         [](hostsim::Instance& i) {
             i.set_color("Particle Color", PF_Pixel{0, 0, 64, 255});
         },
         [](const Settings& s, const std::string& row) {
             EXPECT_EQ(s.particles.color.red, 0.0f) << row;
             EXPECT_EQ(s.particles.color.green, 64.0f / 255.0f) << row;
             EXPECT_EQ(s.particles.color.blue, 1.0f) << row;
         }},
        {"Hold 0.1 keeps float precision",
         [](hostsim::Instance& i) { i.set_value("Hold (seconds)", 0.1); },
         [](const Settings& s, const std::string& row) {
             EXPECT_EQ(s.sequence.hold, static_cast<double>(0.1f)) << row;
             EXPECT_NE(s.sequence.hold, 0.1) << row;
         }},
        {"Sequence Position 2.7 keeps float precision",
         [](hostsim::Instance& i) { i.set_value("Sequence Position", 2.7); },
         [](const Settings& s, const std::string& row) {
             EXPECT_EQ(s.sequence.position, static_cast<double>(2.7f)) << row;
         }},
        {"Stagger 12.345 % is the float times 0.01f",
         [](hostsim::Instance& i) { i.set_value("Stagger (%)", 12.345); },
         [](const Settings& s, const std::string& row) {
             EXPECT_EQ(s.dots.stagger, 12.345f * 0.01f) << row;
         }},
        {"Life Randomness 33 % is the float times 0.01f",
         [](hostsim::Instance& i) { i.set_value("Life Randomness (%)", 33.0); },
         [](const Settings& s, const std::string& row) {
             EXPECT_EQ(s.particles.life_randomness, 33.0f * 0.01f) << row;
         }},
        {"Spacing 7.3 rounds to float", [](hostsim::Instance& i) { i.set_value("Spacing", 7.3); },
         [](const Settings& s, const std::string& row) { EXPECT_EQ(s.dots.spacing, 7.3f) << row; }},
        {"Motion Style popup item 5 is Center Out",
         [](hostsim::Instance& i) { i.set_value("Motion Style", 5); },
         [](const Settings& s, const std::string& row) {
             EXPECT_EQ(s.dots.motion_style, MotionStyle::kCenterOut) << row;
         }},
        {"Loop checkbox on", [](hostsim::Instance& i) { i.set_value("Loop", 1); },
         [](const Settings& s, const std::string& row) { EXPECT_TRUE(s.sequence.loop) << row; }},
        {"Form Solid Source checkbox off",
         [](hostsim::Instance& i) { i.set_value("Form Solid Source", 0); },
         [](const Settings& s, const std::string& row) {
             EXPECT_FALSE(s.dots.form_solid_source) << row;
         }},
    };
    for (const Conversion& c : rows) {
        hostsim::Instance fresh;
        hostsim::CommandIo io;
        ASSERT_EQ(hostsim::send_command(host, module, &fresh, PF_Cmd_PARAMS_SETUP, io), 0);
        c.set(fresh);
        hostsim::FrameCall request = frame_at(0.0);
        std::optional<PreRenderData> data;
        request.pre_render_only = true;
        request.inspect_pre_render = [&](const PF_PreRenderOutput& output) {
            data = *static_cast<const PreRenderData*>(output.pre_render_data);
        };
        const hostsim::FrameResult result = hostsim::render_frame(host, module, fresh, request);
        ASSERT_EQ(result.pre_render_err, PF_Err_NONE) << c.name;
        ASSERT_TRUE(data.has_value()) << c.name;
        c.check(data->settings, c.name);
    }
}

TEST_F(SettingsRead, DefaultsAreTheRegisteredValues) {
    const std::optional<PreRenderData> data = pre_render_data(frame_at(0.0));
    ASSERT_TRUE(data.has_value());
    const Settings defaults;
    const Settings& s = data->settings;
    EXPECT_EQ(s.dots.spacing, defaults.dots.spacing);
    EXPECT_EQ(s.dots.size_randomness, defaults.dots.size_randomness);
    EXPECT_EQ(s.dots.random_seed, defaults.dots.random_seed);
    EXPECT_EQ(s.dots.distribution, defaults.dots.distribution);
    EXPECT_EQ(s.dots.motion_style, defaults.dots.motion_style);
    EXPECT_EQ(s.dots.form_solid_source, defaults.dots.form_solid_source);
    EXPECT_EQ(s.dots.center_out_fan, defaults.dots.center_out_fan);
    EXPECT_EQ(s.particles.enabled, defaults.particles.enabled);
    EXPECT_EQ(s.particles.life, defaults.particles.life);
    EXPECT_EQ(s.particles.fade_over_life, defaults.particles.fade_over_life);
    EXPECT_EQ(s.sequence.hold, defaults.sequence.hold);
    EXPECT_EQ(s.sequence.transition, defaults.sequence.transition);
    EXPECT_EQ(s.sequence.position, defaults.sequence.position);
}

TEST_F(SettingsRead, KeyframedValuesAreReadAtTheFrameTime) {
    instance.set_keyframes("Spacing", {{0.0, {4.0, {}}}, {2.0, {12.0, {}}}});
    instance.set_keyframes("Dot Shape", {{0.0, {1.0, {}}}, {1.0, {4.0, {}}}});
    struct Row {
        double seconds;
        float spacing;
        DotShape shape;
    };
    for (const Row row : {Row{0.5, 6.0f, DotShape::kCircle}, Row{1.0, 8.0f, DotShape::kRing},
                          Row{3.0, 12.0f, DotShape::kRing}}) {
        const std::optional<PreRenderData> data = pre_render_data(frame_at(row.seconds));
        ASSERT_TRUE(data.has_value());
        EXPECT_EQ(data->settings.dots.spacing, row.spacing) << "at " << row.seconds << " s";
        EXPECT_EQ(data->settings.dots.dot_shape, row.shape) << "at " << row.seconds << " s";
    }
}

// Three sources in slots 1 to 3, for the timing cases.
class Timing : public EffectTest {
  protected:
    void SetUp() override {
        EffectTest::SetUp();
        for (int32_t slot = 1; slot <= 3; ++slot) {
            fill_slot(slot, add_word(120, 60, slot + 1));
        }
    }

    SequenceState state_at(double seconds) {
        const std::optional<PreRenderData> data = pre_render_data(frame_at(seconds));
        return data ? data->state : SequenceState{-1, -1, -1.0f};
    }
};

TEST_F(Timing, AutomaticTableThroughTheHost) {
    struct Row {
        double t;
        bool loop;
        int32_t from;
        int32_t to;
        float progress;
    };
    const Row rows[] = {{0.5, false, 0, 1, 0.0f}, {1.4, false, 0, 1, 0.5f},
                        {2.1, false, 1, 2, 0.0f}, {3.0, false, 1, 2, 0.1667f},
                        {4.5, false, 2, 2, 0.0f}, {5.9, false, 2, 2, 0.0f},
                        {5.4, true, 2, 0, 0.5f},  {6.1, true, 0, 1, 0.0f},
                        {2.0, false, 0, 1, 1.0f}, {100.0, false, 2, 2, 0.0f}};
    for (const Row& row : rows) {
        instance.set_value("Loop", row.loop ? 1 : 0);
        const SequenceState s = state_at(row.t);
        EXPECT_EQ(s.from, row.from) << "t " << row.t << " loop " << row.loop;
        EXPECT_EQ(s.to, row.to) << "t " << row.t << " loop " << row.loop;
        EXPECT_NEAR(s.progress, row.progress, 1e-4) << "t " << row.t << " loop " << row.loop;
    }
}

TEST_F(Timing, BeforeTheStartTheFirstSourceWaits) {
    instance.set_value("Start (seconds)", 1.0);
    const SequenceState s = state_at(0.5);
    EXPECT_EQ(s, (SequenceState{0, 1, 0.0f}));
}

TEST_F(Timing, ManualPositionIsReadAtTheFrameTime) {
    instance.set_value("Automatic", 0);
    struct Row {
        double position;
        bool loop;
        SequenceState expected;
    };
    const Row rows[] = {{3.5, true, {2, 0, 0.5f}},
                        {4.0, true, {0, 1, 0.0f}},
                        {1.0, true, {0, 1, 0.0f}},
                        {7.0, false, {2, 2, 0.0f}}};
    for (const Row& row : rows) {
        instance.set_value("Loop", row.loop ? 1 : 0);
        instance.set_value("Sequence Position", row.position);
        const SequenceState s = state_at(2.0);
        EXPECT_EQ(s.from, row.expected.from) << "position " << row.position;
        EXPECT_EQ(s.to, row.expected.to) << "position " << row.position;
        EXPECT_EQ(s.progress, row.expected.progress) << "position " << row.position;
    }
}

TEST_F(Timing, ManualPositionIsKeyframedAtFullDoublePrecision) {
    instance.set_value("Automatic", 0);
    // Between the keys the host interpolates in double; the sequence uses that
    // double, not the snapshot's float.
    instance.set_keyframes("Sequence Position", {{0.0, {1.0, {}}}, {3.0, {3.0, {}}}});
    const SequenceState s = state_at(1.0);
    const double p = 1.0 + (3.0 - 1.0) * (1.0 / 3.0);
    EXPECT_EQ(s.from, 0);
    EXPECT_EQ(s.to, 1);
    EXPECT_EQ(s.progress, static_cast<float>(p - 1.0));
}

using ManualEmpty = EffectTest;

TEST_F(ManualEmpty, ManualModeWithoutSourcesStillReadsThePositionOnce) {
    instance.set_value("Automatic", 0);
    instance.set_value("Sequence Position", 2.5);
    const std::optional<PreRenderData> data = pre_render_data(frame_at(1.0));
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(data->state, (SequenceState{0, 0, 0.0f}));
    EXPECT_EQ(data->source_count, 0);
    // One read in the snapshot, one for the sequence state, both at the frame.
    const PF_ParamIndex position = instance.index_checked("Sequence Position");
    int32_t reads = 0;
    for (const hostsim::CallRecord& call : host.calls.log()) {
        if (call.function == "checkout_param" && std::stoi(call.detail) == position) {
            ++reads;
            EXPECT_NE(call.detail.find(" at 600/600 "), std::string::npos) << call.detail;
        }
    }
    EXPECT_EQ(reads, 2);
}

} // namespace
} // namespace pointillo::test
