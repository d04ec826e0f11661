// Replay bundles through the module: a bundle renders the very frames of the
// host it was captured from, and the tool renders and times bundles.

#include "hostsim/frame.h"
#include "hostsim/loaded_effect.h"
#include "hostsim/replay.h"
#include "replay_support.h"

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

using namespace replay_test;

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
// need Wine's own shell, so the Linux builds alone run it (ARM64's under
// qemu, as the test itself is).
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
    const std::string tool = std::string(POINTILLO_TOOL_RUNNER) + "\"" + POINTILLO_REPLAY_TOOL +
                             "\" --module \"" + POINTILLO_MODULE_PATH + "\" ";
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
        {"--bench 2 --threads 3 " + bundle, 0, "(3 frames x 2)"},
        {"--bench 2 --threads 0 " + bundle, 2, ""},
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

// Every command line the scripts use, through the tool as a user runs it:
// rendering (all frames, some, on several threads), comparing (equal,
// different, within a difference), and command lines it refuses.
TEST(ReplayTool, RendersAndComparesFromEveryCommandLine) {
#if defined(_WIN32)
    GTEST_SKIP() << "runs the Linux tool";
#else
    const fs::path dir = fresh_dir("tool");
    const fs::path bundle = dir / "bundle";
    {
        Session session;
        session.instance.set_value("Source 1",
                                   session.host.layers.add(word(150, 60, 3, {1, 1, 0.8f, 0.3f})));
        hostsim::FrameCall comp;
        comp.width = 120;
        comp.height = 60;
        comp.time_scale = 600;
        comp.time_step = 20;
        hostsim::save_replay(bundle, session.host, session.instance, comp, {30, 45, 60});
    }
    const auto folder = [&](const char* name) { return "\"" + (dir / name).string() + "\""; };
    const std::string tool =
        std::string(POINTILLO_TOOL_RUNNER) + "\"" + POINTILLO_REPLAY_TOOL + "\" ";
    const std::string module = "--module \"" + std::string(POINTILLO_MODULE_PATH) + "\" ";
    const fs::path out = dir / "output.txt";
    const auto run = [&](const std::string& args, int& status) {
        const std::string command = tool + args + " > \"" + out.string() + "\" 2>&1";
        const int raw = std::system(command.c_str());
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return read_text(out);
    };
    const std::string magic = "pointillo-replay-frames 1\n";

    struct Row {
        std::string args;
        int status;
        std::string expected; // in the output
    };
    const Row rows[] = {
        {module + folder("bundle") + " " + folder("all"), 0, "3 of 3 frames (comp 120x60, 8 bits)"},
        {module + "--jobs 2 --threads 3 --frames 45,30 " + folder("bundle") + " " + folder("some"),
         0, "2 of 2 frames"},
        {"--compare " + folder("all") + " " + folder("all"), 0, "3 frame(s): all identical"},
        {"--compare " + folder("all") + " " + folder("some"), 1,
         "frame_00060.raw: only in " + (dir / "all").string()},
        {"--compare " + folder("all") + " " + folder("near"), 1, "3 frame(s): DIFFERENT"},
        {"--compare --max-diff 1/255 " + folder("all") + " " + folder("near"), 0,
         "within the allowed difference"},
        {module + "--frames 4x " + folder("bundle") + " " + folder("bad"), 2,
         "--frames takes frame numbers separated by commas"},
        {module + "--frames 7 " + folder("bundle") + " " + folder("bad"), 2,
         "frame 7 is not one of the bundle's"},
        {module + "--jobs 0 " + folder("bundle") + " " + folder("bad"), 2,
         "--jobs takes a whole number of at least 1"},
        {"--compare --max-diff 1/0 " + folder("all") + " " + folder("all"), 2,
         "the denominator must be positive"},
        {"--compare " + folder("all"), 2, "expected two folders"},
        {"--nonsense " + folder("all") + " " + folder("all"), 2, "usage: pointillo-replay"},
        {"-h", 2, "usage: pointillo-replay"},
    };
    for (const Row& row : rows) {
        if (row.args.find(folder("near")) != std::string::npos && !fs::exists(dir / "near")) {
            // A copy of the full render with one sample one step away.
            fs::copy(dir / "all", dir / "near");
            std::fstream frame(dir / "near" / "frame_00045.raw",
                               std::ios::binary | std::ios::in | std::ios::out);
            frame.seekg(1000);
            const int byte = frame.get();
            frame.seekp(1000);
            frame.put(static_cast<char>(byte ^ 1));
        }
        int status = -1;
        const std::string text = run(row.args, status);
        EXPECT_EQ(status, row.status) << row.args << ":\n" << text;
        EXPECT_NE(text.find(row.expected), std::string::npos) << row.args << ":\n" << text;
    }
    // The frames in the order asked for, each with its size and depth.
    EXPECT_EQ(read_text(dir / "all" / "frames.txt"),
              magic + "frame_00030.raw 120 60 8\nframe_00045.raw 120 60 8\n" +
                  "frame_00060.raw 120 60 8\n");
    EXPECT_EQ(read_text(dir / "some" / "frames.txt"),
              magic + "frame_00045.raw 120 60 8\nframe_00030.raw 120 60 8\n");
    EXPECT_FALSE(fs::exists(dir / "bad" / "frames.txt"));
    fs::remove_all(dir);
#endif
}

} // namespace
