// The renderer end to end through the real module in the emulated host:
// sources of every kind, keyframes of every parameter type, every depth and
// the files' value mappings, downsampling, failures, cancelling, several
// scenes in one process, and replay bundles.

#include "cli/effect/effect_bridge.h"
#include "cli/frames/exr_io.h"
#include "cli/frames/frame_file.h"
#include "cli/frames/png_io.h"
#include "cli/run/motion_blur.h"
#include "cli/scene/scene_reader.h"
#include "effect_support.h"
#include "hostsim/command.h"
#include "hostsim/frame.h"
#include "hostsim/replay.h"

#include <cstring>
#include <gtest/gtest.h>

namespace pointillo {
namespace {

using testing_support::AppRun;
using testing_support::covered_pixels;
using testing_support::prepared_from;
using testing_support::read_bytes;
using testing_support::render_frame;
using testing_support::run_pointillo;
using testing_support::same_image;
using testing_support::TempDir;
using testing_support::write_text;
using testing_support::write_word_png;

constexpr std::array<uint16_t, 4> kWhite8{255, 255, 255, 255};

// Two words of white dots, 160 x 90 at 10 frames a second: the first holds
// until 0.8 s (frame 8), the transition runs to 2.0 s (frame 20).
std::string two_words_scene(const std::string& more_params = "") {
    return R"({"comp": {"width": 160, "height": 90, "fps": 10, "duration": 3},
        "sources": [{"image": "dot.png"}, {"image": "art.png"}],
        "params": {"Spacing": 3, "Dot Size": 3)" +
           (more_params.empty() ? "" : ", " + more_params) + "}}";
}

void write_two_words(const TempDir& dir) {
    write_word_png(dir / "dot.png", "DOT", 160, 90, 5, 8, kWhite8);
    write_word_png(dir / "art.png", "ART", 160, 90, 5, 8, kWhite8);
}

// ---- the module's registration ----------------------------------------------

TEST(Bridge, ParametersAreWhatTheModuleRegistered) {
    const std::vector<EffectParam> params = testing_support::test_session().parameters();
    const hostsim::Instance& instance = testing_support::test_session().instance();
    ASSERT_EQ(static_cast<int32_t>(params.size()), instance.param_count() - 1);
    for (size_t i = 0; i < params.size(); ++i) {
        const EffectParam& p = params[i];
        EXPECT_EQ(p.index, static_cast<int32_t>(i) + 1);
        EXPECT_EQ(p.id, instance.definition(p.index).uu.id) << p.name;
        EXPECT_EQ(p.name, instance.definition(p.index).name);
    }
    const auto find = [&](const std::string& name) {
        for (const EffectParam& p : params) {
            if (p.name == name) {
                return p;
            }
        }
        throw std::runtime_error("no parameter " + name);
    };
    const EffectParam dot_size = find("Dot Size");
    EXPECT_EQ(dot_size.kind, ParamKind::Slider);
    EXPECT_EQ(dot_size.valid_min, 0.5);
    EXPECT_EQ(dot_size.valid_max, 300.0);
    EXPECT_EQ(dot_size.default_value, 7.0);
    const EffectParam style = find("Motion Style");
    EXPECT_EQ(style.kind, ParamKind::Popup);
    EXPECT_EQ(style.choices,
              (std::vector<std::string>{"Drift", "Swirl", "Chaos", "Pop", "Center Out"}));
    EXPECT_EQ(style.default_value, 3.0);
    EXPECT_EQ(find("Dot Color").default_color, (Rgb8{255, 255, 255}));
    EXPECT_EQ(find("Add Source").choices, std::vector<std::string>{"+"});
    EXPECT_EQ(find("Source 16").kind, ParamKind::Layer);

    const EffectInfo info = testing_support::test_session().info();
    EXPECT_EQ(info.name, "Pointillo");
    EXPECT_EQ(info.entry_point, "EffectMain");
    EXPECT_NE(info.out_flags2 & (1u << 10), 0u) << "smart render";
}

// ---- sources -------------------------------------------------------------------

TEST(EndToEnd, EverySourceKindReachesTheEffect) {
    const TempDir dir;
    write_word_png(dir / "img8.png", "OX", 160, 90, 6, 8, {200, 60, 20, 255});
    write_word_png(dir / "img16.png", "TO", 160, 90, 6, 16, {1000, 40000, 65535, 50000});
    // Slot 3 is empty: the effect goes from source 2 straight to source 4.
    const std::string json = R"({"comp": {"width": 160, "height": 90, "fps": 10, "duration": 5},
        "sources": [{"text": "Ab", "size": 60, "color": "#80ff40"}, {"image": "img8.png"}, null,
                    {"image": "img16.png"}]})";
    for (const PixelDepth depth : {PixelDepth::k8, PixelDepth::k16}) {
        Scene scene = testing_support::scene_from(json, dir.path);
        scene.depth = depth;
        const PreparedScene prepared = prepare_scene(scene);
        // Holds at 0.4 s, 2.4 s and 4.4 s; a solid source is drawn as it is.
        const std::pair<int32_t, size_t> holds[] = {{4, 0}, {24, 1}, {44, 3}};
        for (const auto& [frame, slot] : holds) {
            const ArgbImage out = render_frame(prepared, frame);
            EXPECT_TRUE(same_image(out, *prepared.pixels.layers[slot]))
                << "frame " << frame << " slot " << slot + 1 << " depth "
                << static_cast<int>(depth);
            EXPECT_GT(covered_pixels(out), 500) << frame;
        }
    }
}

TEST(EndToEnd, AnEmptySlotIsSkipped) {
    const TempDir dir;
    write_two_words(dir);
    const std::string with_gap =
        R"({"comp": {"width": 160, "height": 90, "fps": 10, "duration": 3},
            "sources": [{"image": "dot.png"}, null, {"image": "art.png"}],
            "params": {"Spacing": 3, "Dot Size": 3}})";
    const PreparedScene gap = prepared_from(with_gap, dir.path);
    const PreparedScene plain = prepared_from(two_words_scene(), dir.path);
    for (const int32_t frame : {4, 10, 14, 19, 24}) {
        EXPECT_TRUE(same_image(render_frame(gap, frame), render_frame(plain, frame)))
            << "frame " << frame;
    }
}

// ---- keyframes -------------------------------------------------------------------

TEST(EndToEnd, KeyframesOfEveryParameterType) {
    const TempDir dir;
    write_two_words(dir);
    struct Row {
        const char* what;
        int32_t frame;
        std::string keyed; // the keyframed parameters
        std::string same;  // constants equal to the keyed values at the frame
        std::string other; // constants that give another picture
    };
    // Frame 11 is 1.1 s and frame 14 is 1.4 s, both in flight.
    const Row rows[] = {
        {"slider", 14, R"("Scatter": [[0, 100], [2, 300]])", R"("Scatter": 240)",
         R"("Scatter": 100)"},
        {"popup after its key", 14, R"("Motion Style": [[0, "Drift"], [1.2, "Pop"]])",
         R"("Motion Style": "Pop")", R"("Motion Style": "Drift")"},
        {"popup before its key", 11, R"("Motion Style": [[0, "Drift"], [1.2, "Pop"]])",
         R"("Motion Style": "Drift")", R"("Motion Style": "Pop")"},
        {"checkbox", 14,
         R"("Match Source Colors": [[0, true], [1.2, false]], "Dot Color": "#ff2000")",
         R"("Match Source Colors": false, "Dot Color": "#ff2000")",
         R"("Match Source Colors": true, "Dot Color": "#ff2000")"},
        {"colour", 14,
         R"("Match Source Colors": false, "Dot Color": [[0, "#ff0000"], [1.2, "#00ff80"]])",
         R"("Match Source Colors": false, "Dot Color": "#00ff80")",
         R"("Match Source Colors": false, "Dot Color": "#ff0000")"},
    };
    for (const Row& row : rows) {
        const ArgbImage keyed =
            render_frame(prepared_from(two_words_scene(row.keyed), dir.path), row.frame);
        const ArgbImage same =
            render_frame(prepared_from(two_words_scene(row.same), dir.path), row.frame);
        const ArgbImage other =
            render_frame(prepared_from(two_words_scene(row.other), dir.path), row.frame);
        EXPECT_GT(covered_pixels(keyed), 100) << row.what;
        EXPECT_TRUE(same_image(keyed, same)) << row.what << ": keyed != " << row.same;
        EXPECT_FALSE(same_image(keyed, other)) << row.what << ": keyed == " << row.other;
    }
}

TEST(EndToEnd, TheInstanceHoldsTheScenesValuesAndDefaultsForTheRest) {
    const TempDir dir;
    write_two_words(dir);
    const hostsim::Instance& instance = testing_support::test_session().instance();
    const auto index_of = [](const std::string& name) {
        for (const EffectParam& p : testing_support::effect_params()) {
            if (p.name == name) {
                return p.index;
            }
        }
        throw std::runtime_error("no parameter " + name);
    };
    const PreparedScene first =
        prepared_from(two_words_scene(R"json("Random Seed": 7, "Dot Color": "#102030",
                               "Hold (seconds)": [[0, 0.5], [1.5, 1]])json"),
                      dir.path);
    render_frame(first, 3);
    EXPECT_EQ(instance.value_at(index_of("Spacing"), 0, 10000).number, 3.0);
    EXPECT_EQ(instance.value_at(index_of("Random Seed"), 0, 10000).number, 7.0);
    const PF_Pixel color = instance.value_at(index_of("Dot Color"), 0, 10000).color;
    EXPECT_EQ((std::array<int, 4>{color.alpha, color.red, color.green, color.blue}),
              (std::array<int, 4>{255, 0x10, 0x20, 0x30}));
    const std::vector<hostsim::Keyframe> keys = instance.keyframes(index_of("Hold (seconds)"));
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[1].seconds, 1.5);
    EXPECT_EQ(keys[1].value.number, 1.0);
    EXPECT_EQ(instance.value_at(index_of("Text Count"), 0, 10000).number, 2.0);
    EXPECT_NE(instance.value_at(index_of("Source 2"), 0, 10000).number, 0.0);

    // The next scene sets none of them: they are back at their defaults.
    const PreparedScene second = prepared_from(
        R"({"comp": {"width": 160, "height": 90, "fps": 10, "duration": 1},
            "sources": [{"image": "dot.png"}]})",
        dir.path);
    render_frame(second, 3);
    EXPECT_EQ(instance.value_at(index_of("Spacing"), 0, 10000).number, 8.0);
    EXPECT_EQ(instance.value_at(index_of("Random Seed"), 0, 10000).number, 42.0);
    EXPECT_EQ(instance.value_at(index_of("Dot Color"), 0, 10000).color.blue, 255);
    EXPECT_FALSE(instance.keyframed(index_of("Hold (seconds)")));
    EXPECT_EQ(instance.value_at(index_of("Text Count"), 0, 10000).number, 1.0);
    EXPECT_EQ(instance.value_at(index_of("Source 2"), 0, 10000).number, 0.0);
}

// ---- several scenes in one process -------------------------------------------------

TEST(Bridge, ScenesMayFollowOneAnother) {
    const TempDir dir;
    write_two_words(dir);
    const PreparedScene a = prepared_from(two_words_scene(), dir.path);
    const PreparedScene b = prepared_from(two_words_scene(R"("Motion Style": "Pop")"), dir.path);
    const ArgbImage first = render_frame(a, 14);
    EXPECT_FALSE(same_image(first, render_frame(b, 14)));
    EXPECT_TRUE(same_image(first, render_frame(a, 14)));

    // A scene built by hand is known by its content: new pixels, new frame.
    PreparedScene by_hand = a;
    by_hand.setup.id = 0;
    EXPECT_TRUE(same_image(render_frame(by_hand, 4), render_frame(a, 4)));
    for (auto& slot : by_hand.pixels.layers) {
        if (!slot) {
            continue;
        }
        std::fill(slot->samples8.begin(), slot->samples8.end(), uint8_t{0});
    }
    EXPECT_EQ(covered_pixels(render_frame(by_hand, 4)), 0);
}

// The host keeps the sources once they are handed over: the scene's own copy
// is freed and the frames do not change, while another session, which would
// need the pixels again, is refused with a message rather than given none.
TEST(Bridge, HandedOverSourcesLiveOnInTheHostOnly) {
    const TempDir dir;
    write_two_words(dir);
    PreparedScene scene =
        prepared_from(two_words_scene(R"("Enable Additional Particles": true)"), dir.path);
    const ArgbImage before = render_frame(scene, 14);
    EffectSession session;
    session.hand_over_sources(scene.setup, std::move(scene.pixels));
    for (const auto& slot : scene.pixels.layers) {
        if (slot) {
            EXPECT_EQ(slot->samples8.capacity(), 0u);
        }
    }
    const std::atomic<bool> cancel{false};
    EXPECT_TRUE(same_image(session.render_frame(scene, 14, cancel), before));
    EXPECT_TRUE(same_image(session.render_frame(scene, 4, cancel), render_frame(scene, 4)))
        << "the shared session was set up before the hand-over";
    EffectSession other;
    EXPECT_THROW(other.render_frame(scene, 14, cancel), std::logic_error);
}

// A scene built by hand is known by its pixels, so it cannot give them away:
// the hand-over is refused and the pixels stay where they are.
TEST(Bridge, AHandBuiltSceneKeepsItsSources) {
    const TempDir dir;
    write_two_words(dir);
    PreparedScene by_hand = prepared_from(two_words_scene(), dir.path);
    by_hand.setup.id = 0;
    const ScenePixels before = by_hand.pixels;
    EffectSession session;
    EXPECT_THROW(session.hand_over_sources(by_hand.setup, std::move(by_hand.pixels)),
                 std::logic_error);
    EXPECT_TRUE(by_hand.pixels == before);
    const std::atomic<bool> cancel{false};
    EXPECT_TRUE(same_image(session.render_frame(by_hand, 14, cancel), render_frame(by_hand, 14)));
}

// Sessions end in order (set-down, then unload) and leave nothing behind: a
// second session in the same process, the module loaded afresh, renders the
// same frame, and neither is the shared test session.
TEST(Bridge, SessionsComeAndGoInOneProcess) {
    const TempDir dir;
    write_two_words(dir);
    const PreparedScene scene =
        prepared_from(two_words_scene(R"("Enable Additional Particles": true)"), dir.path);
    const std::atomic<bool> cancel{false};
    const ArgbImage shared = render_frame(scene, 14);
    for (int round = 0; round < 2; ++round) {
        EffectSession session;
        EXPECT_TRUE(same_image(session.render_frame(scene, 14, cancel), shared)) << round;
        EXPECT_EQ(session.host().outstanding_report(), "all clean") << round;
    }
    EXPECT_TRUE(same_image(render_frame(scene, 14), shared));
}

TEST(Bridge, AModuleThatDoesNotLoadIsReportedOnFirstUseAndNamed) {
    EffectSession session("/nonexistent/Pointillo.so");
    try {
        session.parameters();
        FAIL() << "loaded";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/Pointillo.so"), std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("POINTILLO_MODULE"), std::string::npos) << e.what();
    }
}

// ---- depths, file values, background, downsample ---------------------------------------

int32_t depth_bits(PixelDepth depth) {
    return depth == PixelDepth::k8 ? 8 : depth == PixelDepth::k16 ? 16 : 32;
}

// What a PNG file must hold for an effect frame, by the documented mappings.
StraightImage expected_png(const ArgbImage& frame, std::optional<Rgb8> background) {
    const bool wide = frame.depth == PixelDepth::k16;
    StraightImage out = make_straight_image(frame.width, frame.height, wide ? 16 : 8);
    const size_t pixels = static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
    for (size_t i = 0; i < pixels; ++i) {
        for (size_t c = 0; c < 3; ++c) {
            const uint8_t bg_byte = !background ? 0
                                    : c == 0    ? background->red
                                    : c == 1    ? background->green
                                                : background->blue;
            uint64_t a = 0;
            uint64_t v = 0;
            uint64_t full = 255;
            if (wide) {
                const auto widen = [](uint64_t x) {
                    return std::min<uint64_t>(65535, (x * 65535 + 16384) / 32768);
                };
                a = widen(frame.samples16[i * 4]);
                v = widen(frame.samples16[i * 4 + 1 + c]);
                full = 65535;
            } else {
                a = frame.samples8[i * 4];
                v = frame.samples8[i * 4 + 1 + c];
            }
            uint64_t result = 0;
            if (background) {
                const uint64_t bg = wide ? uint64_t{bg_byte} * 257 : bg_byte;
                result = std::min(full, v + (bg * (full - a) + full / 2) / full);
            } else if (a != 0) {
                result = std::min(full, (v * 2 * full + a) / (2 * a));
            }
            out.samples[i * 4 + c] = static_cast<uint16_t>(result);
        }
        out.samples[i * 4 + 3] = static_cast<uint16_t>(
            background
                ? (wide ? 65535 : 255)
                : (wide ? std::min<uint64_t>(
                              65535, (uint64_t{frame.samples16[i * 4]} * 65535 + 16384) / 32768)
                        : frame.samples8[i * 4]));
    }
    return out;
}

TEST(EndToEnd, EveryDepthWritesTheEffectsPixelsByTheDocumentedMappings) {
    const TempDir dir;
    // Translucent ink, so that alpha is neither 0 nor full inside the word.
    write_word_png(dir / "dot.png", "DOT", 160, 90, 5, 16, {65535, 30000, 2000, 40000});
    write_word_png(dir / "art.png", "ART", 160, 90, 5, 8, {30, 200, 255, 180});
    write_text(dir / "scene.json", two_words_scene(R"("Enable Additional Particles": true)"));
    struct Row {
        PixelDepth depth;
        std::optional<Rgb8> background;
    };
    const Row rows[] = {{PixelDepth::k8, std::nullopt},       {PixelDepth::k16, std::nullopt},
                        {PixelDepth::k32, std::nullopt},      {PixelDepth::k8, Rgb8{32, 64, 200}},
                        {PixelDepth::k16, Rgb8{32, 64, 200}}, {PixelDepth::k32, Rgb8{32, 64, 200}}};
    for (const Row& row : rows) {
        const std::string what = "depth " + std::to_string(depth_bits(row.depth)) +
                                 (row.background ? " over a background" : "");
        const TempDir out;
        std::vector<std::string> args = {"render",  (dir / "scene.json").string(),
                                         "-o",      out.path.string(),
                                         "--frame", "14",
                                         "--depth", std::to_string(depth_bits(row.depth))};
        if (row.background) {
            args.push_back("--background");
            args.push_back(format_hex_color(*row.background));
        }
        const AppRun run = run_pointillo(args);
        ASSERT_EQ(run.status, 0) << what << ": " << run.err;

        Scene scene = testing_support::scene_from(
            two_words_scene(R"("Enable Additional Particles": true)"), dir.path);
        scene.depth = row.depth;
        const ArgbImage frame = render_frame(prepare_scene(scene), 14);
        EXPECT_GT(covered_pixels(frame), 100) << what;
        const std::vector<uint8_t> file = read_bytes(out / frame_file_name(14, row.depth));
        if (row.depth == PixelDepth::k32) {
            const ArgbImage exr = decode_exr(file);
            ASSERT_EQ(exr.width, frame.width) << what;
            ASSERT_EQ(exr.height, frame.height) << what;
            // The file holds red, green, blue, alpha; the effect alpha first.
            bool equal = true;
            for (size_t i = 0; i < exr.samples32.size(); i += 4) {
                for (size_t c = 0; c < 4; ++c) {
                    float want = frame.samples32[i + c];
                    if (row.background && c > 0) {
                        const uint8_t bg = c == 1   ? row.background->red
                                           : c == 2 ? row.background->green
                                                    : row.background->blue;
                        want = frame.samples32[i + c] +
                               (static_cast<float>(bg) / 255.0f) * (1.0f - frame.samples32[i]);
                    } else if (row.background) {
                        want = 1.0f;
                    }
                    equal = equal && exr.samples32[i + c] == want;
                }
            }
            EXPECT_TRUE(equal) << what;
        } else {
            const StraightImage png = decode_png(file);
            const StraightImage want = expected_png(frame, row.background);
            EXPECT_EQ(png.bits, want.bits) << what;
            EXPECT_EQ(png.width, want.width) << what;
            EXPECT_TRUE(png.samples == want.samples) << what;
        }
    }
}

TEST(EndToEnd, DownsampledRendersTakeDownsampledLayers) {
    const TempDir dir;
    write_two_words(dir);
    write_text(dir / "scene.json", two_words_scene());
    for (const int32_t n : {2, 3}) {
        const TempDir out;
        const AppRun run =
            run_pointillo({"render", (dir / "scene.json").string(), "-o", out.path.string(),
                           "--frames", "4-14", "--downsample", std::to_string(n)});
        ASSERT_EQ(run.status, 0) << run.err;
        const StraightImage png = decode_png(read_bytes(out / "frame_00014.png"));
        EXPECT_EQ(png.width, (160 + n - 1) / n) << n;
        EXPECT_EQ(png.height, (90 + n - 1) / n) << n;

        Scene scene = testing_support::scene_from(two_words_scene(), dir.path);
        scene.downsample = n;
        const PreparedScene prepared = prepare_scene(scene);
        ASSERT_EQ(prepared.pixels.layers[0]->width, png.width);
        // A hold on a solid source shows the layer as delivered.
        EXPECT_TRUE(same_image(render_frame(prepared, 4), *prepared.pixels.layers[0])) << n;
        EXPECT_EQ(read_bytes(out / "frame_00014.png"),
                  encode_frame_file(render_frame(prepared, 14), std::nullopt))
            << n;
    }
}

// ---- templates ---------------------------------------------------------------------------

TEST(EndToEnd, SetOverridesRenderAsIfTheSceneSaidSo) {
    const TempDir dir;
    write_two_words(dir);
    write_text(dir / "template.json", two_words_scene());
    write_text(dir / "written.json",
               R"({"comp": {"width": 160, "height": 90, "fps": 10, "duration": 3},
        "sources": [{"image": "art.png"}, {"image": "dot.png"}],
        "params": {"Spacing": 3, "Dot Size": 5, "Motion Style": "Pop"}})");
    const AppRun set = run_pointillo(
        {"render", (dir / "template.json").string(), "-o", (dir / "set").string(), "--frames",
         "4-14", "--set", "sources[0].image=art.png", "--set", "sources[1].image=dot.png", "--set",
         "params.Dot Size=5", "--set", "params.Motion Style=Pop"});
    ASSERT_EQ(set.status, 0) << set.err;
    const AppRun written = run_pointillo({"render", (dir / "written.json").string(), "-o",
                                          (dir / "written").string(), "--frames", "4-14"});
    ASSERT_EQ(written.status, 0) << written.err;
    for (const int32_t frame : {4, 14}) {
        const std::string name = frame_file_name(frame, PixelDepth::k8);
        EXPECT_EQ(read_bytes(dir / "set" / name), read_bytes(dir / "written" / name)) << name;
    }
    const AppRun plain = run_pointillo({"render", (dir / "template.json").string(), "-o",
                                        (dir / "plain").string(), "--frame", "14"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_NE(read_bytes(dir / "plain" / "frame_00014.png"),
              read_bytes(dir / "set" / "frame_00014.png"));
}

// ---- motion blur -------------------------------------------------------------------------

TEST(EndToEnd, MotionBlurAveragesMovingFramesAndKeepsStillOnes) {
    const TempDir dir;
    write_two_words(dir);
    write_text(dir / "scene.json", two_words_scene(R"("Enable Additional Particles": true)"));
    for (const PixelDepth depth : {PixelDepth::k8, PixelDepth::k16, PixelDepth::k32}) {
        const std::string bits = std::to_string(depth_bits(depth));
        // Frames 4 and 14 only, one run each.
        const auto render = [&](const std::string& out, std::vector<std::string> extra) {
            for (const char* frame : {"4", "14"}) {
                std::vector<std::string> args = {"render",  (dir / "scene.json").string(),
                                                 "-o",      (dir / out).string(),
                                                 "--frame", frame,
                                                 "--depth", bits};
                args.insert(args.end(), extra.begin(), extra.end());
                const AppRun run = run_pointillo(args);
                EXPECT_EQ(run.status, 0) << out << ": " << run.err;
            }
        };
        render("sharp" + bits, {});
        render("blur" + bits, {"--motion-blur", "4"});
        render("one" + bits, {"--motion-blur", "1"});
        render("wide" + bits, {"--motion-blur", "4", "--shutter-angle", "360"});
        const auto file = [&](const std::string& out, int32_t frame) {
            return read_bytes(dir / out / frame_file_name(frame, depth));
        };
        // Frame 4 holds the first word: every sub-frame is the same picture.
        EXPECT_EQ(file("blur" + bits, 4), file("sharp" + bits, 4)) << bits;
        EXPECT_EQ(file("wide" + bits, 4), file("sharp" + bits, 4)) << bits;
        // One sample is the frame itself.
        EXPECT_EQ(file("one" + bits, 14), file("sharp" + bits, 14)) << bits;
        // Frame 14 is in flight: the average of the effect at the sample times.
        Scene scene = testing_support::scene_from(
            two_words_scene(R"("Enable Additional Particles": true)"), dir.path);
        scene.depth = depth;
        const PreparedScene prepared = prepare_scene(scene);
        ImageSum sum;
        const std::atomic<bool> cancel{false};
        for (const int32_t time : motion_blur_times(14, MotionBlur{4, 180.0})) {
            add_image(sum, testing_support::test_session().render_at_time(prepared, time, cancel));
        }
        const std::vector<uint8_t> blurred = file("blur" + bits, 14);
        EXPECT_EQ(blurred, encode_frame_file(average_image(sum), std::nullopt)) << bits;
        EXPECT_NE(blurred, file("sharp" + bits, 14)) << bits;
        EXPECT_NE(blurred, file("wide" + bits, 14)) << bits;
    }
}

// ---- video ---------------------------------------------------------------------------------

// The first frame of a video decoded to 8-bit RGBA, as `decoder` reads it.
std::vector<uint8_t> decoded_rgba(const std::filesystem::path& video, const std::string& decoder) {
    const std::optional<std::string> raw =
        testing_support::command_output("ffmpeg -v error " + decoder + " -i '" + video.string() +
                                        "' -frames:v 1 -f rawvideo -pix_fmt rgba -");
    return raw ? std::vector<uint8_t>(raw->begin(), raw->end()) : std::vector<uint8_t>{};
}

TEST(Video, AlphaFormatsCarryTheStraightAlphaOfTheFrames) {
    if (!testing_support::have_ffmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const TempDir dir;
    // Half-transparent orange ink; during the hold the effect shows it solid.
    write_word_png(dir / "dot.png", "DOT", 160, 90, 5, 8, {200, 60, 20, 128});
    write_text(dir / "scene.json", R"({"comp": {"width": 160, "height": 90, "fps": 10,
        "duration": 0.5}, "sources": [{"image": "dot.png"}]})");
    struct Row {
        const char* file;
        const char* depth;
        std::string probe;   // expected in ffprobe's stream report
        std::string decoder; // how ffmpeg must decode it to see the alpha
    };
    const Row rows[] = {
        {"a.mov", "8", "pix_fmt=yuva444p", ""},
        {"b.mov", "32", "pix_fmt=yuva444p", ""},
        {"c.webm", "8", "TAG:alpha_mode=1", "-c:v libvpx-vp9"},
        {"d.webm", "16", "TAG:alpha_mode=1", "-c:v libvpx-vp9"},
    };
    for (const Row& row : rows) {
        const std::filesystem::path video = dir / row.file;
        const AppRun run = run_pointillo({"render", (dir / "scene.json").string(), "-o",
                                          (dir / (std::string("frames") + row.depth)).string(),
                                          "--depth", row.depth, "--video", video.string()});
        ASSERT_EQ(run.status, 0) << row.file << ": " << run.err;
        const std::optional<std::string> probe = testing_support::command_output(
            "ffprobe -v error -show_streams '" + video.string() + "'");
        ASSERT_TRUE(probe.has_value()) << row.file;
        EXPECT_NE(probe->find(row.probe), std::string::npos) << row.file << ":\n" << *probe;
        EXPECT_NE(probe->find("color_space=bt709"), std::string::npos) << row.file;
        const std::vector<uint8_t> rgba = decoded_rgba(video, row.decoder);
        ASSERT_EQ(rgba.size(), size_t{160} * 90 * 4) << row.file;
        // Inside the D's stem the colour must come back straight (200, not
        // the premultiplied 100) and the alpha half; outside, nothing.
        const uint8_t* inside = &rgba[(size_t{44} * 160 + 39) * 4];
        EXPECT_NEAR(inside[0], 200, 8) << row.file;
        EXPECT_NEAR(inside[1], 60, 8) << row.file;
        EXPECT_NEAR(inside[2], 20, 8) << row.file;
        EXPECT_NEAR(inside[3], 128, 4) << row.file;
        EXPECT_LE(rgba[(size_t{5} * 160 + 5) * 4 + 3], 2) << row.file;
    }
}

TEST(Video, OddSizesArePaddedWithTheEdgeNotBlack) {
    if (!testing_support::have_ffmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const TempDir dir;
    write_text(dir / "scene.json", R"({"comp": {"width": 15, "height": 9, "fps": 10,
        "duration": 0.2}, "background": "#ffffff"})");
    const AppRun run = run_pointillo({"render", (dir / "scene.json").string(), "-o",
                                      (dir / "out").string(), "--video", (dir / "a.mp4").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<uint8_t> rgba = decoded_rgba(dir / "a.mp4", "");
    ASSERT_EQ(rgba.size(), size_t{16} * 10 * 4);
    uint8_t darkest = 255;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        darkest = std::min({darkest, rgba[i], rgba[i + 1], rgba[i + 2]});
    }
    EXPECT_GE(darkest, 245) << "the padding column and row are white too";
}

// ---- failures and cancelling ----------------------------------------------------------

TEST(Bridge, AnOutputBeyondTheLimitIsTheEffectsOwnError) {
    // The scene reader refuses such a comp, so the scene is built by hand.
    PreparedScene scene;
    scene.setup.width = 9000;
    scene.setup.height = 8000;
    scene.setup.frame_count = 1;
    try {
        render_frame(scene, 0);
        FAIL() << "rendered";
    } catch (const EffectError& e) {
        EXPECT_STREQ(e.what(), "Pointillo: Output exceeds the supported 64 megapixels");
    }
    EXPECT_EQ(testing_support::test_session().host().outstanding_report(), "all clean");
}

TEST(EndToEnd, AFailedHostCallEndsTheRenderWithStatusOne) {
    const TempDir dir;
    write_two_words(dir);
    write_text(dir / "scene.json", two_words_scene());
    hostsim::Host& host = testing_support::test_session().host();
    host.calls.clear();
    host.calls.fail_call("checkout_layer_pixels", 1, PF_Err_OUT_OF_MEMORY);
    const AppRun run = run_pointillo({"render", (dir / "scene.json").string(), "-o",
                                      (dir / "out").string(), "--frame", "4", "--jobs", "1"});
    host.calls.clear_faults();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "pointillo: frame 4: effect error 4\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "frame_00004.png"));
    EXPECT_EQ(host.outstanding_report(), "all clean");
}

TEST(Bridge, ARaisedCancelFlagStopsTheFrame) {
    const TempDir dir;
    write_two_words(dir);
    const PreparedScene scene = prepared_from(two_words_scene(), dir.path);
    const std::atomic<bool> cancel{true};
    EXPECT_THROW(testing_support::test_session().render_frame(scene, 14, cancel), RenderCancelled);
    EXPECT_EQ(testing_support::test_session().host().outstanding_report(), "all clean");
}

// ---- replay bundles ---------------------------------------------------------------------

TEST(Replay, ABundleRendersTheSameFramesInAFreshHost) {
    const TempDir dir;
    write_two_words(dir);
    Scene scene = testing_support::scene_from(
        two_words_scene(R"("Enable Additional Particles": true, "Scatter": [[0, 50], [2, 400]],
                           "Motion Style": [[0, "Swirl"], [1.3, "Chaos"]])"),
        dir.path);
    scene.depth = PixelDepth::k16;
    scene.downsample = 2;
    const PreparedScene prepared = prepare_scene(scene);
    const TempDir bundle;
    const std::vector<int32_t> frames = {4, 12, 14, 18};
    testing_support::test_session().export_replay(prepared, frames, bundle.path);

    const hostsim::Replay replay = hostsim::load_replay(bundle.path);
    EXPECT_EQ(replay.frames, (std::vector<A_long>{4, 12, 14, 18}));
    hostsim::Module module(effect_module_path());
    hostsim::Host host;
    hostsim::Instance instance;
    hostsim::CommandIo global;
    ASSERT_EQ(hostsim::send_command(host, module, nullptr, PF_Cmd_GLOBAL_SETUP, global), 0);
    hostsim::CommandIo setup;
    ASSERT_EQ(hostsim::send_command(host, module, &instance, PF_Cmd_PARAMS_SETUP, setup), 0);
    hostsim::apply_replay(host, instance, replay);
    for (const int32_t frame : frames) {
        const hostsim::FrameResult result =
            hostsim::render_frame(host, module, instance, hostsim::replay_call(replay, frame));
        ASSERT_TRUE(result.ok()) << frame << ": " << result.return_msg;
        const ArgbImage bridged = render_frame(prepared, frame);
        ASSERT_EQ(result.output_width, bridged.width);
        const std::vector<std::byte> bytes = hostsim::packed_output(result);
        ASSERT_EQ(bytes.size(), bridged.samples16.size() * 2);
        EXPECT_EQ(std::memcmp(bytes.data(), bridged.samples16.data(), bytes.size()), 0)
            << "frame " << frame;
    }
    EXPECT_EQ(host.outstanding_report(), "all clean");
}

TEST(Replay, TheCommandLineWritesABundleInsteadOfFrames) {
    const TempDir dir;
    write_two_words(dir);
    write_text(dir / "scene.json", two_words_scene());
    const AppRun run = run_pointillo({"render", (dir / "scene.json").string(), "--frames", "2-4",
                                      "--export-replay", (dir / "bundle").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "pointillo: replay bundle of 3 frames written to " +
                           (dir / "bundle").string() + "\n");
    EXPECT_EQ(hostsim::load_replay(dir / "bundle").frames, (std::vector<A_long>{2, 3, 4}));
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));

    for (const auto& extra : std::vector<std::vector<std::string>>{
             {"--video", "a.mp4"}, {"--resume"}, {"-o", "frames"}}) {
        std::vector<std::string> args = {"render", (dir / "scene.json").string(), "--export-replay",
                                         (dir / "b2").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_EQ(run_pointillo(args).status, 2) << extra[0];
    }
}

// ---- golden images -------------------------------------------------------------------

// Three frames of "DOT" turning into "ART" with particles, over black:
// dots forming the word during the hold, the flight, and the dots settling.
// POINTILLO_UPDATE_GOLDEN=1 rewrites the images (look at them before
// committing).
TEST(Golden, HoldFlightAndSettle) {
    const TempDir dir;
    write_word_png(dir / "dot.png", "DOT", 160, 90, 5, 8, kWhite8);
    write_word_png(dir / "art.png", "ART", 160, 90, 5, 8, {255, 210, 122, 255});
    write_text(dir / "scene.json",
               R"({"comp": {"width": 160, "height": 90, "fps": 10, "duration": 3},
        "background": "#000000",
        "sources": [{"image": "dot.png"}, {"image": "art.png"}],
        "params": {"Spacing": 3, "Dot Size": 3, "Form Solid Source": false, "Scatter": 40,
                   "Chaos Amount": 15, "Enable Additional Particles": true,
                   "Particle Size": 2}})");
    const AppRun run = run_pointillo({"render", (dir / "scene.json").string(), "-o",
                                      (dir / "out").string(), "--frames", "4-19"});
    ASSERT_EQ(run.status, 0) << run.err;
    const bool update = std::getenv("POINTILLO_UPDATE_GOLDEN") != nullptr;
    const std::pair<int32_t, const char*> goldens[] = {
        {4, "hold.png"}, {13, "flight.png"}, {19, "settle.png"}};
    for (const auto& [frame, name] : goldens) {
        const std::vector<uint8_t> bytes =
            read_bytes(dir / "out" / frame_file_name(frame, PixelDepth::k8));
        const std::filesystem::path golden = std::filesystem::path(POINTILLO_GOLDEN_DIR) / name;
        if (update) {
            testing_support::write_bytes(golden, bytes);
            continue;
        }
        ASSERT_TRUE(std::filesystem::exists(golden)) << golden;
        const StraightImage want = decode_png(read_bytes(golden));
        const StraightImage got = decode_png(bytes);
        EXPECT_EQ(got.width, want.width) << name;
        EXPECT_EQ(got.height, want.height) << name;
        EXPECT_TRUE(got.samples == want.samples) << name << " differs from the golden image";
    }
}

} // namespace
} // namespace pointillo
