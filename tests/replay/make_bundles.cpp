// Writes the replay bundles that the Windows build's frames are compared on:
// three text-like words in sequence at 8, 16 and 32 bits, as dots only, with
// additional particles, and with particles at half resolution; a handful of
// frames each (holds, the break-apart, mid-transition, the settle). The
// effect's parameters are set through the emulated host as a user sets them.
//
//   make_replay_bundles [--module FILE] OUT_DIR
//
// writes OUT_DIR/<set>-<depth>/ for every set and depth.

#include "hostsim/command.h"
#include "hostsim/frame.h"
#include "hostsim/replay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// 30 frames a second in the renderer's time base: frame n at n x 1000.
constexpr A_u_long kTimeScale = 30000;
constexpr A_long kTimeStep = 1000;
constexpr int32_t kWidth = 960;
constexpr int32_t kHeight = 540;

// Coverage of a pixel centre `distance` pixels outside an edge (negative:
// inside); it falls from 1 to 0 over the pixel across the edge.
float edge(float distance) {
    const float c = 0.5f - distance;
    return !(c > 0.0f) ? 0.0f : (c < 1.0f ? c : 1.0f);
}

float box(float x, float y, float x0, float x1, float y0, float y1) {
    return std::min(std::min(edge(x0 - x), edge(x - x1)), std::min(edge(y0 - y), edge(y - y1)));
}

// Glyph-like shapes with anti-aliased edges, so that the sources carry partial
// coverage: letter k of a word is a ring (an O), a T or a slanted stroke (a /),
// in a w x h cell with (x, y) measured from its top left corner.
float letter_coverage(int32_t kind, float x, float y, float w, float h) {
    const float cx = w * 0.5f;
    const float cy = h * 0.5f;
    switch (kind % 3) {
    case 0: {
        const float dx = (x - cx) / cx;
        const float dy = (y - cy) / cy;
        const auto r = static_cast<float>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
        const float scale = std::min(cx, cy);
        return std::min(edge((r - 1.0f) * scale), edge((0.55f - r) * scale));
    }
    case 1:
        return std::max(box(x, y, cx - w * 0.15f, cx + w * 0.15f, 0.0f, h),
                        box(x, y, 0.0f, w, 0.0f, h * 0.2f));
    default: {
        const float along = x - cx - (cy - y) * 0.4f;
        return std::min(edge(std::fabs(along) - w * 0.18f), box(x, y, 0.0f, w, 0.0f, h));
    }
    }
}

// A word of `letters` glyphs, `color` straight (alpha, red, green, blue).
hostsim::Layer word_layer(int32_t width, int32_t height, int32_t letters, hostsim::Argb color) {
    return hostsim::pattern_layer(width, height, [=](int32_t px, int32_t py) -> hostsim::Argb {
        const float cell = static_cast<float>(width) / static_cast<float>(letters);
        const float x = static_cast<float>(px) + 0.5f;
        const float y = static_cast<float>(py) + 0.5f;
        const auto k = static_cast<int32_t>(x / cell);
        const float gap = cell * 0.12f;
        const float top = static_cast<float>(height) * 0.15f;
        const float coverage =
            letter_coverage(k, x - static_cast<float>(k) * cell - gap, y - top, cell - 2.0f * gap,
                            static_cast<float>(height) * 0.7f);
        const float a = color[0] * coverage;
        return {a, color[1] * a, color[2] * a, color[3] * a};
    });
}

PF_Pixel rgb(A_u_char red, A_u_char green, A_u_char blue) {
    PF_Pixel pixel;
    pixel.alpha = 255;
    pixel.red = red;
    pixel.green = green;
    pixel.blue = blue;
    return pixel;
}

hostsim::ParamValue number(double value) {
    hostsim::ParamValue v;
    v.number = value;
    return v;
}

void expect_ok(PF_Err err, const char* what) {
    if (err != PF_Err_NONE) {
        throw std::runtime_error(std::string(what) + " failed with error " + std::to_string(err));
    }
}

struct BundleSet {
    const char* name;
    bool particles;
    A_u_long downsample = 1; // renders at 1/downsample both ways
};

void write_set(const std::string& module_path, const BundleSet& set, int32_t depth,
               const std::filesystem::path& dir) {
    hostsim::Module module(module_path);
    hostsim::Host host;
    hostsim::CommandIo setup;
    expect_ok(hostsim::send_command(host, module, nullptr, PF_Cmd_GLOBAL_SETUP, setup),
              "PF_Cmd_GLOBAL_SETUP");
    hostsim::Instance instance;
    hostsim::CommandIo params;
    expect_ok(hostsim::send_command(host, module, &instance, PF_Cmd_PARAMS_SETUP, params),
              "PF_Cmd_PARAMS_SETUP");

    instance.set_value("Source 1", host.add_layer(word_layer(630, 180, 4, {1.0f, 1, 1, 1})));
    instance.set_value("Source 2",
                       host.add_layer(word_layer(540, 165, 4, {1.0f, 1.0f, 0.82f, 0.48f})));
    instance.set_value("Source 3",
                       host.add_layer(word_layer(750, 195, 5, {0.9f, 0.48f, 0.83f, 1.0f})));
    instance.set_value("Text Count", 3);
    // A slider in motion and a popup that switches: values between keys.
    instance.set_keyframes("Dot Size", {{0.0, number(5.0)}, {3.0, number(8.5)}});
    instance.set_keyframes("Order", {{0.0, number(5.0)}, {2.0, number(1.0)}});
    if (!set.particles) {
        instance.set_value("Motion Style", 2);  // Swirl
        instance.set_value("Transition By", 2); // Letters
        instance.set_value("Spacing", 7);
    } else {
        instance.set_value("Motion Style", 3);  // Chaos
        instance.set_value("Transition By", 3); // Words
        instance.set_value("Dot Shape", 4);     // Ring
        instance.set_value("Match Source Colors", 0);
        instance.set_color("Dot Color", rgb(255, 190, 70));
        instance.set_value("Enable Additional Particles", 1);
        instance.set_value("Emission Rate (per second)", 400);
        instance.set_value("Gravity (px/sec2)", 240);
        // A short life keeps the emission history, and the Wine run, short.
        instance.set_value("Life (seconds)", 0.45);
        instance.set_value("Match Main Particle Color", 0);
        instance.set_color("Particle Color", rgb(120, 220, 255));
    }

    hostsim::FrameRequest comp;
    comp.width = kWidth;
    comp.height = kHeight;
    comp.time_scale = kTimeScale;
    comp.time_step = kTimeStep;
    comp.depth = depth;
    comp.downsample_x = comp.downsample_y = PF_RationalScale{1, set.downsample};
    // A hold, the break-apart, mid-transition, the settle, the next hold, and
    // the middle of the second transition.
    hostsim::save_replay(dir, host, instance, comp, {12, 30, 42, 54, 75, 90});

    hostsim::CommandIo setdown;
    expect_ok(hostsim::send_command(host, module, nullptr, PF_Cmd_GLOBAL_SETDOWN, setdown),
              "PF_Cmd_GLOBAL_SETDOWN");
}

} // namespace

int main(int argc, char** argv) {
    std::string module_path = POINTILLO_MODULE_PATH;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "--module") {
        module_path = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: make_replay_bundles [--module FILE] OUT_DIR\n");
        return 2;
    }
    try {
        for (const BundleSet set : {BundleSet{"words", false}, BundleSet{"particles", true},
                                    BundleSet{"draft", true, 2}}) {
            for (const int32_t depth : {8, 16, 32}) {
                const std::string name = std::string(set.name) + "-" + std::to_string(depth);
                write_set(module_path, set, depth, std::filesystem::path(args[0]) / name);
                std::printf("%s\n", name.c_str());
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_replay_bundles: %s\n", e.what());
        return 1;
    }
    return 0;
}
