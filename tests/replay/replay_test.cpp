// Replay bundles: what is saved reads back exactly, what is malformed is
// refused with the file and line, and a bundle renders the very frames of the
// host it was captured from.

#include "hostsim/frame.h"
#include "hostsim/loaded_effect.h"
#include "hostsim/replay.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>
#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;

fs::path fresh_dir(const std::string& name) {
    const fs::path dir = fs::path(::testing::TempDir()) / ("pointillo_replay_" + name);
    fs::remove_all(dir);
    return dir;
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

hostsim::ParamValue number(double value) {
    hostsim::ParamValue v;
    v.number = value;
    return v;
}

PF_Pixel argb(A_u_char alpha, A_u_char red, A_u_char green, A_u_char blue) {
    PF_Pixel pixel;
    pixel.alpha = alpha;
    pixel.red = red;
    pixel.green = green;
    pixel.blue = blue;
    return pixel;
}

// A small replay with awkward values: doubles that print long or not at all
// in a short decimal, a signed zero, a subnormal, uneven downsample factors.
hostsim::Replay sample_replay() {
    hostsim::Replay replay;
    replay.width = 101;
    replay.height = 7;
    replay.time_scale = 30000;
    replay.time_step = 1001;
    replay.depth = 16;
    replay.downsample_x = PF_RationalScale{1, 2};
    replay.downsample_y = PF_RationalScale{2, 3};
    replay.frames = {-3, 0, 7, 2000000};
    replay.param_count = 6;
    replay.params.resize(5);
    for (int32_t i = 0; i < 5; ++i) {
        replay.params[static_cast<std::size_t>(i)].index = i + 1;
    }
    replay.params[0].type = PF_Param_GROUP_START;
    replay.params[1].type = PF_Param_FLOAT_SLIDER;
    replay.params[1].keys = {{-0.5, number(0.1)},
                             {1.0 / 3.0, number(1.7976931348623157e308)},
                             {2.5, number(-0.0)},
                             {4.0, number(4.9406564584124654e-324)}};
    replay.params[2].type = PF_Param_POPUP;
    replay.params[2].value = number(3.0);
    replay.params[3].type = PF_Param_COLOR;
    replay.params[3].value.color = argb(12, 34, 56, 78);
    replay.params[4].type = PF_Param_LAYER;
    replay.params[4].value = number(2.0);

    hostsim::ReplayLayer layer;
    layer.id = 2;
    layer.ref_width = 9; // 5 x 4 at the downsample
    layer.ref_height = 5;
    layer.pixels.depth = 16;
    layer.pixels.width = 5;
    layer.pixels.height = 4;
    layer.pixels.bytes.resize(5 * 4 * 8);
    for (std::size_t i = 0; i < layer.pixels.bytes.size(); ++i) {
        layer.pixels.bytes[i] = static_cast<std::byte>(i * 7 + 3);
    }
    replay.layers.push_back(layer);
    return replay;
}

void expect_same_value(const hostsim::ParamValue& a, const hostsim::ParamValue& b,
                       const std::string& what) {
    // Bits, so that -0.0 and 0.0 differ.
    EXPECT_EQ(std::bit_cast<uint64_t>(a.number), std::bit_cast<uint64_t>(b.number))
        << what << ": " << a.number << " came back as " << b.number;
    EXPECT_EQ(a.color.alpha, b.color.alpha) << what;
    EXPECT_EQ(a.color.red, b.color.red) << what;
    EXPECT_EQ(a.color.green, b.color.green) << what;
    EXPECT_EQ(a.color.blue, b.color.blue) << what;
}

void expect_same_replay(const hostsim::Replay& a, const hostsim::Replay& b) {
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.time_scale, b.time_scale);
    EXPECT_EQ(a.time_step, b.time_step);
    EXPECT_EQ(a.depth, b.depth);
    EXPECT_EQ(a.downsample_x.num, b.downsample_x.num);
    EXPECT_EQ(a.downsample_x.den, b.downsample_x.den);
    EXPECT_EQ(a.downsample_y.num, b.downsample_y.num);
    EXPECT_EQ(a.downsample_y.den, b.downsample_y.den);
    EXPECT_EQ(a.frames, b.frames);
    EXPECT_EQ(a.param_count, b.param_count);
    ASSERT_EQ(a.params.size(), b.params.size());
    for (std::size_t i = 0; i < a.params.size(); ++i) {
        const hostsim::ReplayParam& pa = a.params[i];
        const hostsim::ReplayParam& pb = b.params[i];
        const std::string what = "parameter " + std::to_string(pa.index);
        EXPECT_EQ(pa.index, pb.index) << what;
        EXPECT_EQ(pa.type, pb.type) << what;
        ASSERT_EQ(pa.keys.size(), pb.keys.size()) << what;
        if (pa.keys.empty()) {
            expect_same_value(pa.value, pb.value, what);
        }
        for (std::size_t k = 0; k < pa.keys.size(); ++k) {
            const std::string key = what + " key " + std::to_string(k);
            EXPECT_EQ(std::bit_cast<uint64_t>(pa.keys[k].seconds),
                      std::bit_cast<uint64_t>(pb.keys[k].seconds))
                << key;
            expect_same_value(pa.keys[k].value, pb.keys[k].value, key);
        }
    }
    ASSERT_EQ(a.layers.size(), b.layers.size());
    for (std::size_t i = 0; i < a.layers.size(); ++i) {
        EXPECT_EQ(a.layers[i].id, b.layers[i].id);
        EXPECT_EQ(a.layers[i].ref_width, b.layers[i].ref_width);
        EXPECT_EQ(a.layers[i].ref_height, b.layers[i].ref_height);
        EXPECT_EQ(a.layers[i].pixels.depth, b.layers[i].pixels.depth);
        EXPECT_EQ(a.layers[i].pixels.width, b.layers[i].pixels.width);
        EXPECT_EQ(a.layers[i].pixels.height, b.layers[i].pixels.height);
        EXPECT_TRUE(a.layers[i].pixels.bytes == b.layers[i].pixels.bytes) << "layer " << i;
    }
}

TEST(ReplayFiles, ReadBackExactly) {
    const fs::path dir = fresh_dir("round_trip");
    const hostsim::Replay replay = sample_replay();
    hostsim::save_replay(dir, replay);
    expect_same_replay(replay, hostsim::load_replay(dir));
    EXPECT_EQ(fs::file_size(dir / "layer_2.raw"), 5u * 4u * 8u);
    fs::remove_all(dir);
}

TEST(ReplayFiles, MalformedBundlesAreRefused) {
    struct Row {
        const char* name;
        std::string from; // replaced in replay.txt (empty: the file is left alone)
        std::string to;
        const char* expected; // part of the message
    };
    const Row rows[] = {
        {"version", "pointillo-replay 1", "pointillo-replay 2", "line 1: format version 2"},
        {"size", "size 101 7", "size 101 0", "line 2: \"0\" is not a whole number from 1"},
        {"depth", "depth 16", "depth 12", "line 5: the depth must be 8, 16 or 32"},
        {"downsample", "downsample 1/2", "downsample 1/0", "line 6"},
        {"frame count", "frames 4 ", "frames 5 ", "line 7: \"frames\" takes the frame count"},
        {"frame time", "2000000", "3000000", "line 7: frame 3000000 is beyond"},
        {"kind", "param 3 popup", "param 3 popdown", "line 15: unknown parameter kind"},
        {"index", "param 3 popup", "param 4 popup", "line 15: expected parameter 3"},
        {"key order", "key 2.5", "key 0.2", "line 13: keyframes must be in strictly increasing"},
        {"colour", "color 12 34 56 78", "color 12 34 56 256", "line 16: \"256\""},
        {"colour words", "color 12 34 56 78", "color 12 34 56", "line 16: a colour is four"},
        {"layer size", "layer 2 9 5 5 4", "layer 2 9 5 5 5", "line 19: the pixel size"},
        {"layer count", "layers 1", "layers 2", "line 20: the file ends"},
        {"trailing", "layer 2 9 5 5 4\n", "layer 2 9 5 5 4\nmore\n", "line 20: unexpected text"},
        {"missing line", "depth 16\n", "", "line 5: expected \"depth\""},
        {"short layer file", "", "", "holds 159 bytes"},
        {"no layer file", "", "", "layer_2.raw"},
        {"no manifest", "", "", "cannot read"},
    };
    for (const Row& row : rows) {
        const fs::path dir = fresh_dir("malformed");
        hostsim::save_replay(dir, sample_replay());
        const std::string manifest = read_text(dir / "replay.txt");
        if (!row.from.empty()) {
            const std::size_t at = manifest.find(row.from);
            ASSERT_NE(at, std::string::npos) << row.name << ": \"" << row.from << "\" not in\n"
                                             << manifest;
            write_text(dir / "replay.txt",
                       std::string(manifest).replace(at, row.from.size(), row.to));
        } else if (std::string(row.name) == "short layer file") {
            fs::resize_file(dir / "layer_2.raw", 159);
        } else if (std::string(row.name) == "no layer file") {
            fs::remove(dir / "layer_2.raw");
        } else {
            fs::remove(dir / "replay.txt");
        }
        try {
            hostsim::load_replay(dir);
            ADD_FAILURE() << row.name << ": accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(row.expected), std::string::npos)
                << row.name << ": the message was \"" << e.what() << "\"";
        }
    }
    fs::remove_all(fresh_dir("malformed"));
}

TEST(ReplayFiles, SaveRefusesWhatCannotBeReadBack) {
    struct Row {
        const char* name;
        void (*spoil)(hostsim::Replay&);
    };
    const Row rows[] = {
        {"depth", [](hostsim::Replay& r) { r.depth = 12; }},
        {"size", [](hostsim::Replay& r) { r.width = 30001; }},
        {"downsample", [](hostsim::Replay& r) { r.downsample_y.den = 0; }},
        {"frame time", [](hostsim::Replay& r) { r.frames.push_back(3000000); }},
        {"parameter count", [](hostsim::Replay& r) { r.param_count = 7; }},
        {"parameter order", [](hostsim::Replay& r) { r.params[2].index = 4; }},
        {"parameter kind", [](hostsim::Replay& r) { r.params[2].type = 99; }},
        {"group with keys",
         [](hostsim::Replay& r) {
             r.params[0].keys = {{0.0, number(1)}};
         }},
        {"key order", [](hostsim::Replay& r) { r.params[1].keys[1].seconds = -0.5; }},
        {"pixel depth", [](hostsim::Replay& r) { r.layers[0].pixels.depth = 8; }},
        {"pixel size", [](hostsim::Replay& r) { r.layers[0].pixels.height = 5; }},
        {"pixel bytes", [](hostsim::Replay& r) { r.layers[0].pixels.bytes.pop_back(); }},
        {"layer order", [](hostsim::Replay& r) { r.layers.push_back(r.layers[0]); }},
    };
    const fs::path dir = fresh_dir("refused");
    for (const Row& row : rows) {
        hostsim::Replay replay = sample_replay();
        row.spoil(replay);
        EXPECT_THROW(hostsim::save_replay(dir, replay), std::invalid_argument) << row.name;
    }
    EXPECT_FALSE(fs::exists(dir / "replay.txt"));
    fs::remove_all(dir);
}

// ---- through the module ----

// The module, registered and globally set up, with one instance whose
// parameters are registered; set down at the end.
struct Session {
    hostsim::LoadedEffect effect{POINTILLO_MODULE_PATH};
    hostsim::Module& module = effect.module;
    hostsim::Host& host = effect.host;
    hostsim::Instance& instance = effect.instance;
};

// Blocks of one colour with soft vertical edges: `letters` of them.
hostsim::Layer word(int32_t width, int32_t height, int32_t letters, hostsim::Argb color) {
    return hostsim::pattern_layer(width, height, [=](int32_t x, int32_t y) -> hostsim::Argb {
        const int32_t cell = width / letters;
        const bool row = y >= height / 5 && y < height - height / 5;
        const int32_t at = x % cell;
        float coverage = at >= cell / 6 && at < cell - cell / 6 ? 1.0f : 0.0f;
        if (at == cell / 6 || at == cell - cell / 6 - 1) {
            coverage = 0.5f;
        }
        const float a = row ? color[0] * coverage : 0.0f;
        return {a, color[1] * a, color[2] * a, color[3] * a};
    });
}

TEST(ReplayFrames, ABundleRendersTheFramesItWasCapturedFrom) {
    struct Row {
        int32_t depth;
        PF_RationalScale downsample;
    };
    for (const Row row : {Row{8, {1, 1}}, Row{16, {1, 2}}, Row{32, {1, 1}}}) {
        const std::string name =
            std::to_string(row.depth) + " bits at 1/" + std::to_string(row.downsample.den);
        const fs::path dir = fresh_dir("frames");
        std::vector<hostsim::FrameResult> originals;
        hostsim::FrameCall comp;
        comp.width = 200;
        comp.height = 100;
        comp.time_scale = 600;
        comp.time_step = 20;
        comp.depth = row.depth;
        comp.downsample_x = comp.downsample_y = row.downsample;
        const std::vector<A_long> frames = {6, 30, 45, 60};
        {
            Session original;
            hostsim::Instance& instance = original.instance;
            const int32_t first = original.host.layers.add(word(150, 60, 3, {1, 1, 0.8f, 0.3f}));
            const int32_t second = original.host.layers.add(word(170, 70, 5, {0.6f, 0.1f, 1, 1}));
            const int32_t third = original.host.layers.add(word(120, 50, 2, {1, 0.2f, 1, 0.2f}));
            instance.set_value("Source 1", first);
            // The second slot changes its layer at 1.5 s: layer ids in keys.
            instance.set_keyframes("Source 2", {{0.0, number(second)}, {1.5, number(third)}});
            instance.set_keyframes("Dot Size", {{0.0, number(4.0)}, {2.0, number(6.5)}});
            instance.set_value("Enable Additional Particles", 1);
            instance.set_value("Match Source Colors", 0);
            instance.set_color("Dot Color", argb(255, 250, 120, 30));
            for (const A_long frame : frames) {
                hostsim::FrameCall request = comp;
                request.time = frame * comp.time_step;
                originals.push_back(
                    hostsim::render_frame(original.host, original.module, instance, request));
                ASSERT_TRUE(originals.back().ok()) << name << ": " << originals.back().return_msg;
            }
            hostsim::save_replay(dir, original.host, instance, comp, frames);
        }

        const hostsim::Replay replay = hostsim::load_replay(dir);
        EXPECT_EQ(replay.layers.size(), 3u) << name;
        Session again;
        // A layer the bundle does not know comes first: the bundle's ids move.
        again.host.layers.add(word(10, 10, 1, {1, 1, 1, 1}));
        hostsim::apply_replay(again.host, again.instance, replay);
        ASSERT_EQ(replay.frames, frames);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const hostsim::FrameResult result = hostsim::render_frame(
                again.host, again.module, again.instance, hostsim::replay_call(replay, frames[i]));
            ASSERT_TRUE(result.ok())
                << name << ", frame " << frames[i] << ": " << result.return_msg;
            EXPECT_EQ(result.output_width, originals[i].output_width) << name;
            EXPECT_EQ(result.output_height, originals[i].output_height) << name;
            EXPECT_TRUE(hostsim::packed_output(result) == hostsim::packed_output(originals[i]))
                << name << ", frame " << frames[i] << ": the replayed frame differs";
        }
        EXPECT_EQ(again.host.outstanding_report(), "all clean") << name;
        fs::remove_all(dir);
    }
}

TEST(ReplayFrames, AnotherParameterListIsRefused) {
    Session session;
    hostsim::FrameCall comp;
    comp.width = 64;
    comp.height = 32;
    const hostsim::Replay captured =
        hostsim::capture_replay(session.host, session.instance, comp, {0});

    hostsim::Replay fewer = captured;
    fewer.params.pop_back();
    --fewer.param_count;
    EXPECT_THROW(hostsim::apply_replay(session.host, session.instance, fewer), std::runtime_error);

    hostsim::Replay other_kind = captured;
    other_kind.params[1].type = PF_Param_COLOR;
    EXPECT_THROW(hostsim::apply_replay(session.host, session.instance, other_kind),
                 std::runtime_error);
}

// The tool itself, run as a user runs it. Under Wine a nested program would
// need Wine's own shell, so the Linux build alone runs it.
TEST(ReplayTool, BenchRendersEveryFrameAndWritesNothing) {
#if defined(_WIN32)
    GTEST_SKIP() << "runs the Linux tool";
#else
    const fs::path dir = fresh_dir("bench");
    {
        Session session;
        session.instance.set_value("Source 1",
                                   session.host.layers.add(word(150, 60, 3, {1, 1, 0.8f, 0.3f})));
        session.instance.set_value("Source 2",
                                   session.host.layers.add(word(170, 70, 5, {0.6f, 0.1f, 1, 1})));
        session.instance.set_value("Enable Additional Particles", 1);
        hostsim::FrameCall comp;
        comp.width = 200;
        comp.height = 100;
        comp.time_scale = 600;
        comp.time_step = 20;
        hostsim::save_replay(dir, session.host, session.instance, comp, {30, 45, 60});
    }
    const auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = listing();
    const fs::path out = dir.parent_path() / "pointillo_replay_bench.txt";
    const std::string tool = std::string("\"") + POINTILLO_REPLAY_TOOL + "\" --module \"" +
                             POINTILLO_MODULE_PATH + "\" ";
    const std::string bundle = "\"" + dir.string() + "\"";
    // The closing line, rebuilt from the numbers read out of it: the same
    // text when its format is the one promised.
    const auto bench_line = [](const std::string& line) {
        double median = 0.0;
        double least = 0.0;
        int frames = 0;
        int passes = 0;
        if (std::sscanf(line.c_str(), "bench: median %lf ms, min %lf ms per frame (%d frames x %d)",
                        &median, &least, &frames, &passes) != 4 ||
            !(least <= median) || !(least > 0.0)) {
            return std::string("not a bench line");
        }
        char text[160];
        std::snprintf(text, sizeof(text),
                      "bench: median %.2f ms, min %.2f ms per frame (%d frames x %d)", median,
                      least, frames, passes);
        return line == text
                   ? "(" + std::to_string(frames) + " frames x " + std::to_string(passes) + ")"
                   : std::string("not a bench line");
    };
    struct Row {
        std::string args;
        int status;
        std::string counts; // what the bench line's counts say; empty: no bench line
    };
    const Row rows[] = {
        {"--bench 2 " + bundle, 0, "(3 frames x 2)"},
        {"--bench 1 --frames 45 " + bundle, 0, "(1 frames x 1)"},
        {"--bench 0 " + bundle, 2, ""},
        {"--bench 2 --jobs 2 " + bundle, 2, ""},
        {"--bench 2 " + bundle + " " + bundle, 2, ""}, // no output folder
        {"--bench 2 --compare " + bundle + " " + bundle, 2, ""},
    };
    for (const Row& row : rows) {
        const std::string command = tool + row.args + " > \"" + out.string() + "\" 2>&1";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << row.args;
        const std::string text = read_text(out);
        EXPECT_EQ(WEXITSTATUS(status), row.status) << row.args << ":\n" << text;
        if (row.counts.empty()) {
            EXPECT_EQ(text.find("bench:"), std::string::npos) << row.args << ":\n" << text;
        } else {
            // The bench line ends the output.
            std::string last = text;
            while (!last.empty() && last.back() == '\n') {
                last.pop_back();
            }
            last = last.substr(last.find_last_of('\n') + 1);
            EXPECT_EQ(bench_line(last), row.counts)
                << row.args << ": the last line is \"" << last << "\"";
        }
        EXPECT_EQ(listing(), before) << row.args << ": the bundle's folder changed";
    }
    fs::remove(out);
    fs::remove_all(dir);
#endif
}

} // namespace
