// Frames of pointillo-ofx-host over still images equal `pointillo render` of
// the equivalent scene byte for byte: the transition against the two images
// as sources with "Automatic" off and "Sequence Position" keyed from 1 at
// frame 0 to 2 at the last (or the general context's own timing against the
// same timing), the filter against the image as both sources. Both programs
// run by their command lines, as a user runs them.

#include "../cli/test_support.h"
#include "cli/base/image.h"
#include "cli/frames/png_io.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pointillo::test {
namespace {

using testing_support::read_bytes;
using testing_support::TempDir;
using testing_support::write_bytes;
using testing_support::write_text;

constexpr int32_t kWidth = 96;
constexpr int32_t kHeight = 64;
constexpr double kFps = 25.0;
constexpr int kFrames = 10;

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

// A parameter as both programs take it: the scene's JSON value and the
// host's --param value.
struct Param {
    std::string name;
    std::string json;
    std::string host;
};

struct Row {
    const char* what;
    const char* plugin;
    const char* context;
    bool manual; // "Sequence Position" keyed; else the effect's own timing
    std::vector<Param> params;
};

class OfxRendererMatch : public ::testing::Test {
  protected:
    TempDir dir;

    void SetUp() override {
        write_bytes(dir / "disc.png", encode_png(disc_image()));
        write_bytes(dir / "bars.png", encode_png(bars_image()));
    }

    static int run(const std::string& command) { return std::system(command.c_str()); }

    // Renders the row both ways and compares every frame file.
    void expect_same(const Row& row, int depth, const std::string& name) {
        const bool filter = std::string(row.plugin) == "org.pointillo.Filter";
        char last[32];
        std::snprintf(last, sizeof last, "%.17g", (kFrames - 1) / kFps);
        std::string params;
        std::string host_params;
        if (row.manual) {
            params += std::string(R"("Automatic": false, "Sequence Position": [[0, 1], [)") + last +
                      ", 2]]";
            if (filter) {
                host_params += " --param \"Progress=0@0,1@" + std::to_string(kFrames - 1) + "\"";
            } else if (std::string(row.context) == "general") {
                host_params += " --param \"Automatic=0\" --param \"Sequence Position=1@0,2@" +
                               std::to_string(kFrames - 1) + "\"";
            }
        }
        for (const Param& p : row.params) {
            params += (params.empty() ? "\"" : ", \"") + p.name + "\": " + p.json;
            host_params += " --param \"" + p.name + "=" + p.host + "\"";
        }
        const std::string sources = filter ? R"([{"image": "disc.png"}, {"image": "disc.png"}])"
                                           : R"([{"image": "disc.png"}, {"image": "bars.png"}])";
        char comp[160];
        std::snprintf(comp, sizeof comp,
                      R"({"comp": {"width": %d, "height": %d, "fps": %g, "duration": %.17g}, )",
                      kWidth, kHeight, kFps, kFrames / kFps);
        write_text(dir / (name + ".json"), std::string(comp) + "\"sources\": " + sources +
                                               ", \"params\": {" + params + "}}");
        const std::string scene_out = (dir / (name + "_renderer")).string();
        const std::string host_out = (dir / (name + "_ofx")).string();
        const std::string depth_flag = " --depth " + std::to_string(depth);
        ASSERT_EQ(run(std::string("\"") + POINTILLO_RENDERER + "\" render \"" +
                      (dir / (name + ".json")).string() + "\" -o \"" + scene_out + "\"" +
                      depth_flag + " > \"" + scene_out + ".log\" 2>&1"),
                  0)
            << read_text(scene_out + ".log");
        const std::string inputs = filter
                                       ? " --input \"" + (dir / "disc.png").string() + "\""
                                       : " --input \"" + (dir / "disc.png").string() +
                                             "\" --input \"" + (dir / "bars.png").string() + "\"";
        ASSERT_EQ(run(std::string("\"") + POINTILLO_OFX_HOST + "\" \"" + POINTILLO_OFX_BUNDLE +
                      "\" --plugin " + row.plugin + " --context " + row.context + inputs +
                      " --fps 25 --frames " + std::to_string(kFrames) + host_params + depth_flag +
                      " -o \"" + host_out + "\" > \"" + host_out + ".log\" 2>&1"),
                  0)
            << read_text(host_out + ".log");
        const auto names = frame_files(scene_out);
        ASSERT_EQ(names.size(), static_cast<size_t>(kFrames));
        EXPECT_EQ(frame_files(host_out), names);
        std::vector<std::vector<uint8_t>> frames;
        for (const std::string& file : names) {
            const auto want = read_bytes(std::filesystem::path(scene_out) / file);
            const auto got = read_bytes(std::filesystem::path(host_out) / file);
            EXPECT_TRUE(got == want) << row.what << ", depth " << depth << ": " << file
                                     << " differs from the renderer's";
            frames.push_back(want);
        }
        // Frames that are all alike prove nothing about time.
        EXPECT_NE(frames.front(), frames[kFrames / 2]) << row.what;
        EXPECT_NE(frames[kFrames / 2], frames.back()) << row.what;
    }

    // The frame files of a folder (the renderer also leaves its record).
    static std::vector<std::string> frame_files(const std::string& folder) {
        std::vector<std::string> names = testing_support::file_names(folder);
        names.erase(std::remove_if(names.begin(), names.end(),
                                   [](const std::string& n) { return n.rfind("frame_", 0) != 0; }),
                    names.end());
        return names;
    }

    static std::string read_text(const std::string& path) {
        const auto bytes = read_bytes(path);
        return {bytes.begin(), bytes.end()};
    }
};

TEST_F(OfxRendererMatch, FramesOverStillsEqualTheRenderersScene) {
    const std::vector<Param> particles = {{"Spacing", "5", "5"},
                                          {"Dot Size", "4.5", "4.5"},
                                          {"Enable Additional Particles", "true", "1"},
                                          {"Emission Rate (per second)", "900", "900"},
                                          {"Gravity (px/sec2)", "120", "120"}};
    const Row rows[] = {
        {"transition, particles", "org.pointillo.Transition", "transition", true, particles},
        {"transition, rings in a dot colour, swirl, by dots at random",
         "org.pointillo.Transition",
         "transition",
         true,
         {{"Spacing", "6", "6"},
          {"Dot Shape", "4", "4"},
          {"Motion Style", "2", "2"},
          {"Transition By", "4", "4"},
          {"Order", "6", "6"},
          {"Form Solid Source", "false", "0"},
          {"Match Source Colors", "false", "0"},
          {"Dot Color", "\"#ff8800\"", "#ff8800"},
          {"Random Seed", "7", "7"},
          {"Enable Additional Particles", "true", "1"},
          {"Match Main Particle Color", "false", "0"},
          {"Particle Color", "\"#0080ff\"", "#0080ff"}}},
        {"general transition, position keyed", "org.pointillo.Transition", "general", true,
         particles},
        {"general transition, its own timing",
         "org.pointillo.Transition",
         "general",
         false,
         {{"Spacing", "5", "5"},
          {"Hold (seconds)", "0.08", "0.08"},
          {"Transition (seconds)", "0.24", "0.24"},
          {"Enable Additional Particles", "true", "1"}}},
        {"filter, particles", "org.pointillo.Filter", "filter", true, particles},
        {"general filter, pop",
         "org.pointillo.Filter",
         "general",
         true,
         {{"Spacing", "4", "4"}, {"Form Solid Source", "false", "0"}, {"Motion Style", "4", "4"}}},
    };
    int n = 0;
    for (const Row& row : rows) {
        expect_same(row, 8, "row" + std::to_string(n));
        // The float frames of a few rows: the same bits as the renderer's EXR.
        if (n % 2 == 0) {
            expect_same(row, 32, "row" + std::to_string(n) + "_32");
        }
        ++n;
    }
}

} // namespace
} // namespace pointillo::test
