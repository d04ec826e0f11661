// The plug-ins, loaded as a host loads them and given the effect's values
// through their doubles in [0, 1], give for still inputs the same pixels as
// `pointillo render` of the equivalent scene, byte for byte: the transition
// against the two images as sources with "Hold (seconds)" 0 and "Transition
// (seconds)" the duration, or with "Automatic" off and "Sequence Position"
// keyed from 1 to 2 over its length; the filter against the image as both
// sources with "Automatic" off and "Sequence Position" 1 + Progress.

#include "../cli/test_support.h"
#include "cli/base/image.h"
#include "cli/frames/frame_file.h"
#include "cli/frames/png_io.h"
#include "cli/scene/layer_pixels.h"
#include "loaded_plugin.h"
#include "plugin_params.h"
#include "plugin_pixels.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <variant>
#include <vector>

namespace pointillo::test {
namespace {

using testing_support::read_bytes;
using testing_support::TempDir;
using testing_support::write_bytes;
using testing_support::write_text;

constexpr int32_t kWidth = 96;
constexpr int32_t kHeight = 64;

// Two small sources with every kind of alpha: opaque, soft edges, a
// half-transparent band, and nothing.
StraightImage disc_image() {
    StraightImage image = make_straight_image(kWidth, kHeight, 8);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            uint16_t* px = &image.samples[(static_cast<size_t>(y) * kWidth + x) * 4];
            const double d = std::hypot(x - 40.5, y - 31.5);
            const double a = std::clamp((26.0 - d) / 4.0, 0.0, 1.0);
            px[0] = static_cast<uint16_t>(60 + x * 2);
            px[1] = static_cast<uint16_t>(200 - y * 2);
            px[2] = static_cast<uint16_t>((x * y) % 256);
            px[3] = static_cast<uint16_t>(std::lround(a * 255.0));
        }
    }
    return image;
}

StraightImage bars_image() {
    StraightImage image = make_straight_image(kWidth, kHeight, 8);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            uint16_t* px = &image.samples[(static_cast<size_t>(y) * kWidth + x) * 4];
            const bool bar = (x / 12) % 2 == 0 && y > 10 && y < 54;
            px[0] = 250;
            px[1] = static_cast<uint16_t>(x * 2);
            px[2] = 40;
            px[3] = bar ? static_cast<uint16_t>(y < 30 ? 255 : 128) : 0;
        }
    }
    return image;
}

using Value = std::variant<double, bool, f0r_param_color_t>;
struct Param {
    std::string name;
    Value value;
};

std::string json_of(const Param& p) {
    std::string out = "\"" + p.name + "\": ";
    if (const auto* d = std::get_if<double>(&p.value)) {
        char text[64];
        std::snprintf(text, sizeof text, "%.17g", *d);
        return out + text;
    }
    if (const auto* b = std::get_if<bool>(&p.value)) {
        return out + (*b ? "true" : "false");
    }
    const auto& c = std::get<f0r_param_color_t>(p.value);
    char text[16];
    std::snprintf(text, sizeof text, "\"#%02x%02x%02x\"", static_cast<int>(std::lround(c.r * 255)),
                  static_cast<int>(std::lround(c.g * 255)),
                  static_cast<int>(std::lround(c.b * 255)));
    return out + text;
}

// The plug-in's parameter under the effect's label (or its own name).
const frei0r::PluginParam& plugin_param(frei0r::PluginKind kind, const std::string& label) {
    for (const frei0r::PluginParam& p : frei0r::plugin_params(kind)) {
        if (label == p.label || label == p.name) {
            return p;
        }
    }
    throw std::runtime_error("no parameter " + label);
}

// Sets a value given in the effect's units, as the plug-in's double.
void set_effect_value(const LoadedPlugin& plugin, frei0r::PluginKind kind, f0r_instance_t instance,
                      const std::string& label, double value) {
    const frei0r::PluginParam& p = plugin_param(kind, label);
    plugin.set(instance, p.name, frei0r::plugin_value(p, value));
}

void set_all(const LoadedPlugin& plugin, frei0r::PluginKind kind, f0r_instance_t instance,
             const std::vector<Param>& params) {
    for (const Param& p : params) {
        if (const auto* d = std::get_if<double>(&p.value)) {
            set_effect_value(plugin, kind, instance, p.name, *d);
        } else if (const auto* b = std::get_if<bool>(&p.value)) {
            plugin.set(instance, plugin_param(kind, p.name).name, *b ? 1.0 : 0.0);
        } else {
            plugin.set(instance, plugin_param(kind, p.name).name,
                       std::get<f0r_param_color_t>(p.value));
        }
    }
}

// RGBA bytes, as frei0r frames hold them.
std::vector<uint32_t> frame_of(const StraightImage& image) {
    std::vector<uint32_t> frame(static_cast<size_t>(image.width) * image.height);
    auto* bytes = reinterpret_cast<uint8_t*>(frame.data());
    for (size_t i = 0; i < image.samples.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(image.samples[i]);
    }
    return frame;
}

class RendererMatch : public ::testing::Test {
  protected:
    TempDir dir;
    StraightImage disc = disc_image();
    StraightImage bars = bars_image();

    void SetUp() override {
        write_bytes(dir / "disc.png", encode_png(disc));
        write_bytes(dir / "bars.png", encode_png(bars));
    }

    // The renderer's frames of a scene, as frei0r frames.
    std::vector<std::vector<uint32_t>> render(const std::string& scene, const std::string& name) {
        write_text(dir / (name + ".json"), scene);
        const std::string out = (dir / name).string();
        const std::string command = std::string("\"") + POINTILLO_RENDERER + "\" render \"" +
                                    (dir / (name + ".json")).string() + "\" -o \"" + out +
                                    "\" --jobs 2 > \"" + out + ".log\" 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::vector<std::vector<uint32_t>> frames;
        for (int n = 0;; ++n) {
            char file[32];
            std::snprintf(file, sizeof file, "frame_%05d.png", n);
            const auto path = dir / name / file;
            if (!std::filesystem::exists(path)) {
                break;
            }
            const StraightImage image = decode_png(read_bytes(path));
            EXPECT_EQ(image.bits, 8);
            frames.push_back(frame_of(image));
        }
        return frames;
    }

    static std::string params_json(const std::vector<Param>& params) {
        std::string out;
        for (const Param& p : params) {
            out += (out.empty() ? "" : ", ") + json_of(p);
        }
        return out;
    }
};

void expect_same_frame(const std::vector<uint32_t>& got, const std::vector<uint32_t>& want,
                       const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    const auto* g = reinterpret_cast<const uint8_t*>(got.data());
    const auto* w = reinterpret_cast<const uint8_t*>(want.data());
    for (size_t i = 0; i < got.size() * 4; ++i) {
        if (g[i] != w[i]) {
            ADD_FAILURE() << what << ": byte " << i << " (pixel " << i / 4 << ", channel " << i % 4
                          << ") is " << int{g[i]} << ", the renderer's " << int{w[i]};
            return;
        }
    }
}

// Frames that are all alike prove nothing about time.
void expect_moving(const std::vector<std::vector<uint32_t>>& frames) {
    ASSERT_GE(frames.size(), 3u);
    EXPECT_NE(frames.front(), frames[frames.size() / 2]);
    EXPECT_NE(frames[frames.size() / 2], frames.back());
}

// The plug-ins' pixel rules are the renderer's, for every pair of a colour
// and an alpha: layers in, files out.
TEST(Frei0rPixels, InputsAndOutputsFollowTheRenderersRules) {
    StraightImage every = make_straight_image(256, 256, 8);
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t v = 0; v < 256; ++v) {
            uint16_t* px = &every.samples[(a * 256 + v) * 4];
            px[0] = static_cast<uint16_t>(v);
            px[1] = static_cast<uint16_t>(255 - v);
            px[2] = static_cast<uint16_t>((v * 7) % 256);
            px[3] = static_cast<uint16_t>(a);
        }
    }
    const ArgbImage want = premultiply_layer(every, PixelDepth::k8);
    std::vector<uint32_t> frame(256 * 256);
    auto* bytes = reinterpret_cast<uint8_t*>(frame.data());
    for (size_t i = 0; i < every.samples.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(every.samples[i]);
    }
    std::vector<std::byte> got;
    frei0r::premultiply_frame(frame.data(), frame.size(), got);
    ASSERT_EQ(got.size(), want.samples8.size());
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(static_cast<uint8_t>(got[i]), want.samples8[i]) << "sample " << i;
    }
    // Every premultiplied colour at every alpha back to the renderer's file rule.
    std::vector<uint32_t> out(256 * 256);
    auto* px = reinterpret_cast<uint8_t*>(out.data());
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t c = 0; c < 256; ++c) {
            uint8_t* p = px + (a * 256 + c) * 4;
            p[0] = static_cast<uint8_t>(a);
            p[1] = p[2] = p[3] = static_cast<uint8_t>(c);
        }
    }
    frei0r::to_frei0r_order(out.data(), out.size());
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t c = 0; c < 256; ++c) {
            const uint8_t* p = px + (a * 256 + c) * 4;
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(p[k], unpremultiply_8(c, a)) << c << " at alpha " << a;
            }
            ASSERT_EQ(p[3], a);
        }
    }
}

TEST_F(RendererMatch, TransitionFramesEqualTheRenderersScene) {
    struct Row {
        const char* what;
        double duration;
        bool milliseconds;
        std::vector<Param> params;
    };
    const Row rows[] = {
        {"particles, seconds",
         1.2,
         false,
         {{"Spacing", 5.0},
          {"Dot Size", 4.5},
          {"Enable Additional Particles", true},
          {"Emission Rate (per second)", 900.0},
          {"Gravity (px/sec2)", 120.0}}},
        {"rings in a dot colour, swirl, by dots at random, milliseconds",
         0.8,
         true,
         {{"Spacing", 6.0},
          {"Dot Shape", 4.0},
          {"Motion Style", 2.0},
          {"Transition By", 4.0},
          {"Order", 6.0},
          {"Form Solid Source", false},
          {"Match Source Colors", false},
          {"Dot Color", f0r_param_color_t{1.0f, 136.0f / 255.0f, 0.0f}},
          {"Random Seed", 7.0},
          {"Enable Additional Particles", true},
          {"Match Main Particle Color", false},
          {"Particle Color", f0r_param_color_t{0.0f, 0.5f, 1.0f}}}},
    };
    LoadedPlugin plugin(POINTILLO_FREI0R_TRANSITION_PATH);
    ASSERT_NE(plugin.update2, nullptr);
    int row_number = 0;
    for (const Row& row : rows) {
        char timing[160];
        std::snprintf(timing, sizeof timing,
                      "\"Hold (seconds)\": 0, \"Transition (seconds)\": %.17g, ", row.duration);
        const std::string scene =
            std::string(R"({"comp": {"width": 96, "height": 64, "fps": 25, "duration": )") +
            std::to_string(row.duration + 0.2) +
            R"(}, "sources": [{"image": "disc.png"}, {"image": "bars.png"}], "params": {)" +
            timing + params_json(row.params) + "}}";
        const auto want = render(scene, "transition" + std::to_string(row_number++));
        expect_moving(want);

        f0r_instance_t instance = plugin.construct(kWidth, kHeight);
        ASSERT_NE(instance, nullptr);
        const auto kind = frei0r::PluginKind::kTransition;
        set_effect_value(plugin, kind, instance, "Duration", row.duration);
        plugin.set(instance, "Time in Milliseconds", row.milliseconds ? 1.0 : 0.0);
        set_all(plugin, kind, instance, row.params);
        const std::vector<uint32_t> in1 = frame_of(disc);
        const std::vector<uint32_t> in2 = frame_of(bars);
        std::vector<uint32_t> out(in1.size());
        for (size_t n = 0; n < want.size(); ++n) {
            const double seconds = static_cast<double>(n) / 25.0;
            plugin.update2(instance, row.milliseconds ? static_cast<double>(n) * 40.0 : seconds,
                           in1.data(), in2.data(), nullptr, out.data());
            expect_same_frame(out, want[n], std::string(row.what) + ", frame " + std::to_string(n));
        }
        plugin.destruct(instance);
    }
}

// Automatic off, "Position" keyed from 0 at the transition's first frame to
// 1 at its last, as MLT hands it over (frame / last frame): the renderer's
// scene keys "Sequence Position" from 1 to 2 over the same span. Lengths of
// one and two seconds keep the renderer's key times exact, so that its
// interpolation and the host's give the same bits. "Reverse" swaps the
// sources.
TEST_F(RendererMatch, PositionDrivenTransitionEqualsTheKeyedScene) {
    struct Row {
        int frames; // from the first frame to the last
        bool reverse;
    };
    const std::vector<Param> particles = {{"Spacing", 5.0},
                                          {"Enable Additional Particles", true},
                                          {"Emission Rate (per second)", 900.0},
                                          {"Gravity (px/sec2)", 120.0},
                                          {"Motion Style", 2.0}};
    LoadedPlugin plugin(POINTILLO_FREI0R_TRANSITION_PATH);
    ASSERT_NE(plugin.update2, nullptr);
    const auto kind = frei0r::PluginKind::kTransition;
    for (const Row row : {Row{25, false}, Row{50, true}}) {
        const double length = row.frames / 25.0;
        char keys[160];
        std::snprintf(keys, sizeof keys,
                      R"("Automatic": false, "Sequence Position": [[0, 1], [%.17g, 2]], )", length);
        const char* sources = row.reverse ? R"([{"image": "bars.png"}, {"image": "disc.png"}])"
                                          : R"([{"image": "disc.png"}, {"image": "bars.png"}])";
        const std::string scene =
            std::string(R"({"comp": {"width": 96, "height": 64, "fps": 25, "duration": )") +
            std::to_string(length + 0.04) + R"(}, "sources": )" + sources + R"(, "params": {)" +
            keys + params_json(particles) + "}}";
        const auto want = render(scene, "position" + std::to_string(row.frames));
        ASSERT_EQ(want.size(), static_cast<size_t>(row.frames + 1));
        expect_moving(want);

        f0r_instance_t instance = plugin.construct(kWidth, kHeight);
        ASSERT_NE(instance, nullptr);
        plugin.set(instance, "Automatic", 0.0);
        plugin.set(instance, "Reverse", row.reverse ? 1.0 : 0.0);
        set_all(plugin, kind, instance, particles);
        const std::vector<uint32_t> in1 = frame_of(disc);
        const std::vector<uint32_t> in2 = frame_of(bars);
        std::vector<uint32_t> out(in1.size());
        for (int n = 0; n <= row.frames; ++n) {
            plugin.set(instance, "Position", static_cast<double>(n) / row.frames);
            plugin.update2(instance, n / 25.0, in1.data(), in2.data(), nullptr, out.data());
            expect_same_frame(out, want[static_cast<size_t>(n)],
                              std::to_string(row.frames) + " frames, frame " + std::to_string(n));
        }
        plugin.destruct(instance);
    }
}

TEST_F(RendererMatch, FilterFramesEqualTheRenderersScene) {
    // Frame n of the scene sits at "Sequence Position" 1 + n / 8, the
    // plug-in's Progress n / 8.
    struct Row {
        const char* what;
        std::vector<Param> params;
    };
    const Row rows[] = {
        {"defaults", {{"Spacing", 5.0}}},
        {"dots throughout, pop",
         {{"Spacing", 4.0},
          {"Form Solid Source", false},
          {"Motion Style", 4.0},
          {"Scatter", 60.0}}},
    };
    LoadedPlugin plugin(POINTILLO_FREI0R_FILTER_PATH);
    ASSERT_NE(plugin.update, nullptr);
    int row_number = 0;
    for (const Row& row : rows) {
        const std::string scene =
            std::string(R"({"comp": {"width": 96, "height": 64, "fps": 8, "duration": 1.125},)") +
            R"( "sources": [{"image": "disc.png"}, {"image": "disc.png"}], "params": {)" +
            R"("Automatic": false, "Sequence Position": [[0, 1], [1, 2]], )" +
            params_json(row.params) + "}}";
        const auto want = render(scene, "filter" + std::to_string(row_number++));
        ASSERT_EQ(want.size(), 9u);
        expect_moving(want);

        f0r_instance_t instance = plugin.construct(kWidth, kHeight);
        ASSERT_NE(instance, nullptr);
        set_all(plugin, frei0r::PluginKind::kFilter, instance, row.params);
        const std::vector<uint32_t> in = frame_of(disc);
        std::vector<uint32_t> out(in.size());
        for (size_t n = 0; n < want.size(); ++n) {
            plugin.set(instance, "Progress", static_cast<double>(n) / 8.0);
            plugin.update(instance, static_cast<double>(n) / 8.0, in.data(), out.data());
            expect_same_frame(out, want[n], std::string(row.what) + ", frame " + std::to_string(n));
        }
        plugin.destruct(instance);
    }
}

} // namespace
} // namespace pointillo::test
