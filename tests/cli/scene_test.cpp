#include "cli/base/errors.h"
#include "cli/effect/effect_bridge.h"
#include "cli/frames/frame_file.h"
#include "cli/frames/png_io.h"
#include "cli/scene/scene.h"
#include "cli/scene/scene_reader.h"
#include "test_session.h"
#include "test_support.h"

#include <cmath>
#include <gtest/gtest.h>

namespace pointillo {
namespace {

using testing_support::TempDir;

const std::vector<EffectParam>& params() {
    static const std::vector<EffectParam> list = testing_support::test_session().parameters();
    return list;
}

Scene parse(std::string_view text) {
    return parse_scene(text, "scene.json", "/scenes", params());
}

const ParamTrack& track(const Scene& scene, std::string_view name) {
    for (const ParamTrack& t : scene.params) {
        if (t.name == name) {
            return t;
        }
    }
    throw std::runtime_error("no track " + std::string(name));
}

constexpr const char* kExample = R"({
  "comp": {"width": 1920, "height": 1080, "fps": 30, "duration": 4.0},
  "downsample": 1,
  "depth": 8,
  "background": null,
  "sources": [
    {"text": "POINT", "font": "DejaVu Sans:bold", "size": 240, "color": "#ffffff"},
    {"image": "logo.png"},
    null
  ],
  "params": {
    "Motion Style": "Swirl",
    "Scatter": 240,
    "Dot Size": [[0.0, 4], [2.0, 9]],
    "Match Source Colors": false,
    "Dot Color": "#ff8800"
  }
})";

TEST(Scene, ReadsTheDocumentedExample) {
    const Scene scene = parse(kExample);
    EXPECT_EQ(scene.comp.width, 1920);
    EXPECT_EQ(scene.comp.height, 1080);
    EXPECT_EQ(scene.comp.time_scale, 30000);
    EXPECT_EQ(scene.comp.frame_count, 120);
    EXPECT_EQ(scene.downsample, 1);
    EXPECT_EQ(scene.depth, PixelDepth::k8);
    EXPECT_FALSE(scene.background.has_value());
    ASSERT_EQ(scene.sources.size(), 3u);
    const auto* text = std::get_if<TextSource>(&scene.sources[0]);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text, "POINT");
    EXPECT_EQ(text->font, "DejaVu Sans:bold");
    EXPECT_EQ(text->size, 240.0);
    EXPECT_EQ(text->color, (Rgb8{255, 255, 255}));
    const auto* image = std::get_if<ImageSource>(&scene.sources[1]);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->file_path, std::filesystem::path("/scenes/logo.png"));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(scene.sources[2]));

    ASSERT_EQ(scene.params.size(), 5u);
    for (size_t i = 1; i < scene.params.size(); ++i) {
        EXPECT_LT(scene.params[i - 1].index, scene.params[i].index) << "sorted by index";
    }
    EXPECT_EQ(track(scene, "Motion Style").keys[0].value.number, 2.0);
    EXPECT_EQ(track(scene, "Motion Style").index, 51);
    EXPECT_EQ(track(scene, "Scatter").keys[0].value.number, 240.0);
    EXPECT_EQ(track(scene, "Match Source Colors").keys[0].value.number, 0.0);
    EXPECT_EQ(track(scene, "Dot Color").keys[0].value.color, (Rgb8{255, 136, 0}));
    const ParamTrack& dot_size = track(scene, "Dot Size");
    ASSERT_EQ(dot_size.keys.size(), 2u);
    EXPECT_EQ(dot_size.keys[1].seconds, 2.0);
    EXPECT_EQ(dot_size.keys[1].value.number, 9.0);
}

TEST(Scene, TimeScaleAndFrameCount) {
    struct Row {
        double fps;
        double duration;
        int32_t time_scale;
        int32_t frames;
    };
    const Row rows[] = {
        {30, 4, 30000, 120},  {29.97, 1, 29970, 30}, {23.976, 10, 23976, 240},
        {30, 0.1, 30000, 3}, // 0.1 x 30 is 3.0000000000000004: still 3 frames
        {25, 0.04, 25000, 1}, {24, 0.5, 24000, 12},  {60, 1.001, 60000, 61},
        {0.5, 4, 500, 2},
    };
    for (const Row& row : rows) {
        const std::string text = R"({"comp": {"width": 4, "height": 4, "fps": )" +
                                 std::to_string(row.fps) + R"(, "duration": )" +
                                 std::to_string(row.duration) + "}}";
        const Scene scene = parse(text);
        EXPECT_EQ(scene.comp.time_scale, row.time_scale) << row.fps << " fps";
        EXPECT_EQ(scene.comp.frame_count, row.frames) << row.fps << " fps, " << row.duration;
    }
}

ParamTrack slider_track(std::vector<std::pair<double, double>> keys) {
    ParamTrack track;
    track.kind = ParamKind::Slider;
    for (const auto& [seconds, value] : keys) {
        track.keys.push_back(TrackKey{seconds, TrackValue{value, {}}});
    }
    return track;
}

TEST(Keyframes, SlidersInterpolateLinearlyInDoubleAndHoldOutside) {
    const ParamTrack track = slider_track({{0.0, 4.0}, {2.0, 9.0}});
    struct Row {
        int32_t current_time; // at time scale 30000
        double expected;
    };
    const Row rows[] = {
        {-30000, 4.0},
        {0, 4.0},
        {30000, 6.5},
        {15000, 5.25},
        {60000, 9.0},
        {90000, 9.0},
        {10000, 4.0 + (9.0 - 4.0) * ((10000.0 / 30000.0 - 0.0) / (2.0 - 0.0))},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(param_value_at(track, row.current_time, 30000).number, row.expected)
            << "time " << row.current_time;
    }
}

TEST(Keyframes, ASliderAtAKeyHasExactlyThatKeysValue) {
    // 0.1 + (0.7 - 0.1) x 1 is not 0.7 in double; the key's own value must come out.
    const ParamTrack track = slider_track({{0.5, 0.1}, {1.0, 0.7}, {2.0, 0.3}});
    EXPECT_EQ(param_value_at(track, 1000, 1000).number, 0.7);
    EXPECT_EQ(param_value_at(track, 500, 1000).number, 0.1);
    EXPECT_EQ(param_value_at(track, 2000, 1000).number, 0.3);
    EXPECT_EQ(param_value_at(track, 1500, 1000).number, 0.7 + (0.3 - 0.7) * ((1.5 - 1.0) / 1.0));
}

TEST(Keyframes, PopupsCheckboxesAndColoursStep) {
    const Scene scene = parse(R"({"comp": {"width": 4, "height": 4, "fps": 10, "duration": 5},
        "params": {
            "Motion Style": [[0, "Drift"], [1, "pop"], [2, 3]],
            "Loop": [[0.5, true], [1.5, false]],
            "Dot Color": [[1, "#000000"], [2, "#FFffFF"]]}})");
    struct Row {
        int32_t current_time; // at time scale 10000: 10000 is one second
        double style;
        double loop;
        uint8_t grey;
    };
    const Row rows[] = {
        {-5000, 1, 1, 0},   {0, 1, 1, 0},       {5000, 1, 1, 0},  {9999, 1, 1, 0},
        {10000, 4, 1, 0},   {14999, 4, 1, 0},   {15000, 4, 0, 0}, {19999, 4, 0, 0},
        {20000, 3, 0, 255}, {50000, 3, 0, 255},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(param_value_at(track(scene, "Motion Style"), row.current_time, 10000).number,
                  row.style)
            << "time " << row.current_time;
        EXPECT_EQ(param_value_at(track(scene, "Loop"), row.current_time, 10000).number, row.loop)
            << "time " << row.current_time;
        EXPECT_EQ(param_value_at(track(scene, "Dot Color"), row.current_time, 10000).color,
                  (Rgb8{row.grey, row.grey, row.grey}))
            << "time " << row.current_time;
    }
}

TEST(Scene, SliderLimitsAreTheRegisteredFloats) {
    // "Source Overlap" starts at the float 1.45, which is above the double 1.45.
    const Scene scene = parse(R"json({"comp": {"width": 4, "height": 4, "fps": 10, "duration": 1},
        "params": {"Source Overlap": 1.45, "Transition (seconds)": 0.01, "Swirl Turns": -10}})json");
    EXPECT_EQ(track(scene, "Source Overlap").keys[0].value.number, 1.45);
    EXPECT_EQ(track(scene, "Transition (seconds)").keys[0].value.number, 0.01);
    EXPECT_THROW(parse(R"({"comp": {"width": 4, "height": 4, "fps": 10, "duration": 1},
        "params": {"Source Overlap": 1.4499}})"),
                 InputError);
    EXPECT_THROW(parse(R"({"comp": {"width": 4, "height": 4, "fps": 10, "duration": 1},
        "params": {"Scatter": 1e300}})"),
                 InputError);
}

TEST(Scene, PopupsTakeANameInAnyCaseOrTheirNumber) {
    const Scene scene = parse(R"({"comp": {"width": 4, "height": 4, "fps": 10, "duration": 1},
        "params": {"Order": "center out", "Dot Shape": 4, "Distribution": "Randomized"}})");
    EXPECT_EQ(track(scene, "Order").keys[0].value.number, 5.0);
    EXPECT_EQ(track(scene, "Dot Shape").keys[0].value.number, 4.0);
    EXPECT_EQ(track(scene, "Distribution").keys[0].value.number, 3.0);
}

TEST(Scene, TheDemoHasThreeWordsAtDefaults) {
    const Scene scene = demo_scene(params());
    EXPECT_EQ(scene.comp.width, 1280);
    EXPECT_EQ(scene.comp.height, 720);
    EXPECT_EQ(scene.comp.time_scale, 30000);
    EXPECT_EQ(scene.comp.frame_count, 180);
    EXPECT_EQ(scene.sources.size(), 3u);
    EXPECT_TRUE(scene.params.empty());
}

Scene parse_with(std::string_view text, std::vector<std::string> sets) {
    return parse_scene(text, "scene.json", "/scenes", params(), sets);
}

TEST(Overrides, SetFieldsAndParametersOfTheScene) {
    const Scene scene = parse_with(kExample, {
                                                 "sources[0].text=ALICE",
                                                 "sources[0].size=120",
                                                 "params.Dot Size=9",
                                                 "params[\"Scatter\"]=[[0, 0], [1, 300]]",
                                                 "params.Motion Style=Pop",
                                                 "params.Loop=true",
                                                 "comp.fps=25",
                                                 "background=#102030",
                                                 "sources[2]={\"text\": \"C\"}",
                                                 "sources[3]={\"text\": \"42\"}",
                                                 "sources[3].text=42",
                                             });
    const auto& first = std::get<TextSource>(scene.sources[0]);
    EXPECT_EQ(first.text, "ALICE");
    EXPECT_EQ(first.size, 120.0);
    EXPECT_EQ(first.font, "DejaVu Sans:bold") << "untouched fields stay";
    ASSERT_EQ(scene.sources.size(), 4u) << "an array may gain one entry";
    EXPECT_EQ(std::get<TextSource>(scene.sources[2]).text, "C");
    EXPECT_EQ(std::get<TextSource>(scene.sources[3]).text, "42") << "a string stays a string";
    EXPECT_EQ(track(scene, "Dot Size").keys.size(), 1u);
    EXPECT_EQ(track(scene, "Dot Size").keys[0].value.number, 9.0);
    EXPECT_EQ(track(scene, "Scatter").keys.size(), 2u);
    EXPECT_EQ(track(scene, "Motion Style").keys[0].value.number, 4.0);
    EXPECT_EQ(track(scene, "Loop").keys[0].value.number, 1.0);
    EXPECT_EQ(scene.comp.time_scale, 25000);
    EXPECT_EQ(scene.background, (Rgb8{0x10, 0x20, 0x30}));

    // A scene without params gains them; null clears a field; the last --set wins.
    const Scene plain = parse_with(R"({"comp": {"width": 4, "height": 4, "fps": 1, "duration": 1},
        "background": "#ffffff"})",
                                   {"params.Spacing=12", "background=null", "params.Spacing=13"});
    EXPECT_EQ(track(plain, "Spacing").keys[0].value.number, 13.0);
    EXPECT_FALSE(plain.background.has_value());
}

TEST(Overrides, BadKeysAndValuesAreInputErrors) {
    struct Row {
        const char* set;
        const char* message;
    };
    const Row rows[] = {
        {"sources[0].text", "--set sources[0].text: expected KEY=VALUE"},
        {"=5", "--set =5: names no field"},
        {"sources[5].text=A", "sources has 3 entries; a --set may change those or add sources[3]"},
        {"sources[x]=1", "[x] is not an entry number from 0"},
        {"sources[0=1", "'[' in the key is not closed"},
        {"params.=1", "names no parameter"},
        {"comp..fps=1", "a field name is missing"},
        {"comp.fps.x=1", "comp.fps is not an object"},
        {"comp[0]=1", "comp is not an array"},
        {"comp.frames[0]=1", "comp.frames is not in the scene"},
        {"sources[0]x=1", "expected '.' or '[' after ']'"},
        {"params[\"Dot Size=1", "not closed"},
        // The reader checks what a --set put there as it checks the file.
        {"comp.width=0", "scene.json: comp.width: must be a whole number from 1 to 30000"},
        {"comp.length=2", "scene.json: comp.length: unknown field"},
        {"params.Dot Sise=9", "scene.json: params[\"Dot Sise\"]: unknown parameter"},
        {"params.Dot Size=big", "params[\"Dot Size\"]: \"Dot Size\" takes a number"},
        {"sources[1].image=", "scene.json: sources[1] (Source 2).image: must name a PNG file"},
    };
    for (const Row& row : rows) {
        try {
            parse_with(kExample, {row.set});
            ADD_FAILURE() << "accepted " << row.set;
        } catch (const InputError& e) {
            EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos)
                << row.set << ": " << e.what();
        }
    }
}

TEST(Scene, AnUnknownFieldListsEveryFieldAllowedThere) {
    try {
        parse(R"({"comp": {"width": 4, "height": 4, "fps": 1, "duration": 1}, "sauces": []})");
        FAIL() << "accepted";
    } catch (const InputError& e) {
        EXPECT_STREQ(e.what(), "scene.json: sauces: unknown field; the fields allowed here are "
                               "\"comp\", \"downsample\", \"depth\", \"background\", "
                               "\"sources\", \"params\"");
    }
}

TEST(Scene, HexColours) {
    EXPECT_EQ(parse_hex_color("#00ff80"), (Rgb8{0, 255, 128}));
    EXPECT_EQ(parse_hex_color("#ABCDEF"), (Rgb8{0xAB, 0xCD, 0xEF}));
    for (const char* bad : {"", "#", "00ff80", "#00ff8", "#00ff800", "#00fg80", "#+0ff80", "red"}) {
        EXPECT_FALSE(parse_hex_color(bad).has_value()) << bad;
    }
    EXPECT_EQ(format_hex_color(Rgb8{0, 255, 128}), "#00ff80");
}

TEST(PrepareScene, DeliversLayersAtTheDepthAndDownsample) {
    const TempDir dir;
    StraightImage logo = make_straight_image(7, 5, 8);
    for (size_t p = 0; p < 35; ++p) {
        logo.samples[p * 4 + 0] = 200;
        logo.samples[p * 4 + 3] = 128;
    }
    testing_support::write_bytes(dir / "logo.png", encode_png(logo));
    testing_support::write_text(dir / "scene.json", R"({
        "comp": {"width": 64, "height": 32, "fps": 30, "duration": 1},
        "downsample": 3, "depth": 16,
        "sources": [null, {"image": "logo.png"}, {"text": "A", "size": 20}],
        "params": {"Scatter": 10}})");
    const Scene scene = load_scene_file(dir / "scene.json", params());
    const PreparedScene prepared = prepare_scene(scene);
    const SceneSetup& setup = prepared.setup;
    const ScenePixels& pixels = prepared.pixels;
    EXPECT_EQ(setup.width, 64);
    EXPECT_EQ(setup.height, 32);
    EXPECT_EQ(setup.time_scale, 30000);
    EXPECT_EQ(setup.time_step, 1000);
    EXPECT_EQ(setup.frame_count, 30);
    EXPECT_EQ(setup.text_count, 3);
    EXPECT_EQ(setup.downsample, 3);
    ASSERT_EQ(setup.params.size(), 1u);
    EXPECT_NE(find_track(setup, setup.params[0].index), nullptr);
    EXPECT_EQ(find_track(setup, 1), nullptr);

    EXPECT_FALSE(setup.sources[0].has_value());
    EXPECT_FALSE(pixels.layers[0].has_value());
    ASSERT_TRUE(setup.sources[1].has_value());
    ASSERT_TRUE(pixels.layers[1].has_value());
    const SourceLayer& layer = *setup.sources[1];
    const ArgbImage& image = *pixels.layers[1];
    EXPECT_EQ(layer.width, 7);
    EXPECT_EQ(layer.height, 5);
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.depth, PixelDepth::k16);
    // 128 -> 16448, 200 -> 25700 (25700.39); 25700 x 16448 / 32768 = 12900.2; uniform
    // blocks average to themselves.
    EXPECT_EQ(image.samples16[0], 16448);
    EXPECT_EQ(image.samples16[1], 12900);

    ASSERT_TRUE(setup.sources[2].has_value());
    ASSERT_TRUE(pixels.layers[2].has_value());
    EXPECT_EQ(setup.sources[2]->width, 64);
    EXPECT_EQ(setup.sources[2]->height, 32);
    EXPECT_EQ(pixels.layers[2]->width, 22);
    EXPECT_EQ(pixels.layers[2]->height, 11);
    for (size_t i = 3; i < setup.sources.size(); ++i) {
        EXPECT_FALSE(setup.sources[i].has_value()) << "slot " << i + 1;
        EXPECT_FALSE(pixels.layers[i].has_value()) << "slot " << i + 1;
    }
}

TEST(PrepareScene, TextCountIsAtLeastOne) {
    const Scene scene = parse(R"({"comp": {"width": 4, "height": 4, "fps": 10, "duration": 1}})");
    EXPECT_EQ(prepare_scene(scene).setup.text_count, 1);
}

} // namespace
} // namespace pointillo
