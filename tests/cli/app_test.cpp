#include "cli/effect/effect_bridge.h"
#include "cli/frames/png_io.h"
#include "cli/program/app.h"
#include "cli/program/effect_reports.h"
#include "cli/video/video.h"
#include "test_session.h"
#include "test_support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>

namespace pointillo {
namespace {

using testing_support::file_names;
using testing_support::TempDir;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

AppContext effect_context() {
    return effect_app_context(testing_support::test_session());
}

RunResult run(const std::vector<std::string>& args, AppContext context = effect_context()) {
    std::ostringstream out;
    std::ostringstream err;
    context.out = &out;
    context.err = &err;
    RunResult result;
    result.status = run_app(args, context);
    result.out = out.str();
    result.err = err.str();
    return result;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

constexpr const char* kScene = R"({"comp": {"width": 16, "height": 8, "fps": 10, "duration": 0.5},
    "sources": [{"text": "A", "size": 8}]})";

TEST(App, ParamsListsTheRegisteredParameters) {
    const RunResult r = run({"params"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "Dot Size")) << r.out;
    EXPECT_TRUE(contains(r.out, "0.5 to 300")) << r.out;
    EXPECT_TRUE(contains(r.out, "0.01 to 3600")) << r.out;
    EXPECT_TRUE(contains(r.out, "1 Drift, 2 Swirl, 3 Chaos, 4 Pop, 5 Center Out")) << r.out;
    EXPECT_TRUE(contains(r.out, "3 (Chaos)")) << r.out;
    EXPECT_TRUE(contains(r.out, "#ffffff")) << r.out;
    EXPECT_TRUE(contains(r.out, "Source 16")) << r.out;
}

TEST(App, ParamsAsJsonForTools) {
    const RunResult r = run({"params", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json rows = nlohmann::json::parse(r.out);
    const std::vector<EffectParam> params = testing_support::test_session().parameters();
    ASSERT_EQ(rows.size(), params.size());
    const auto row = [&rows](const std::string& name) {
        for (const nlohmann::json& item : rows) {
            if (item["name"] == name) {
                return item;
            }
        }
        return nlohmann::json();
    };
    const nlohmann::json dot_size = row("Dot Size");
    EXPECT_EQ(dot_size["type"], "slider");
    EXPECT_EQ(dot_size["valid_min"], 0.5);
    EXPECT_EQ(dot_size["valid_max"], 300.0);
    EXPECT_EQ(dot_size["default"], 7.0);
    EXPECT_EQ(dot_size["hidden"], false);
    EXPECT_EQ(row("Transition (seconds)")["valid_min"], 0.01) << "the float's shortest decimal";
    EXPECT_EQ(row("Motion Style")["choices"][1], "Swirl");
    EXPECT_EQ(row("Motion Style")["default"], 3);
    EXPECT_EQ(row("Loop")["default"], false);
    EXPECT_EQ(row("Dot Color")["default"], "#ffffff");
    EXPECT_EQ(row("Sequence")["hidden"], false) << "a group's heading is shown";
    // The slot count, buttons, slots and group ends are marked, with the reason.
    for (const char* name :
         {"Text Count", "Add Source", "Remove Last Source", "Source 1", "Source 16"}) {
        EXPECT_EQ(row(name)["hidden"], true) << name;
        EXPECT_TRUE(row(name)["why"].is_string()) << name;
    }
    int group_ends = 0;
    for (const nlohmann::json& item : rows) {
        if (item["type"] == "group end") {
            ++group_ends;
            EXPECT_EQ(item["hidden"], true);
        }
    }
    EXPECT_GT(group_ends, 0);
}

TEST(App, InfoShowsTheRegistration) {
    const RunResult r = run({"info"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* part :
         {"Pointillo", "Brindlex Pointillo", "Brindlex", "13.29", "1.1.1 beta, build 1",
          "0x00088C01", "0x06000006", "0x08001488", "SUPPORTS_THREADED_RENDERING"}) {
        EXPECT_TRUE(contains(r.out, part)) << part << " missing from\n" << r.out;
    }
}

TEST(App, VersionWords) {
    EXPECT_EQ(describe_version(0x00088C01), "1.1.1 beta, build 1");
    EXPECT_EQ(describe_version(0), "0.0.0 development, build 0");
    // Majors above 7 keep their high bits at bit 26.
    EXPECT_EQ(describe_version((1u << 26) | (1u << 19) | (3u << 9) | 5u), "9.0.0 release, build 5");
}

TEST(App, HelpEverywhereSucceeds) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"render", "--help"}, {"params", "--help"}, {"info", "-h"}}) {
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_TRUE(contains(r.out, "Usage")) << r.out;
    }
}

TEST(App, RenderWritesFramesAndASummary) {
    const TempDir dir;
    testing_support::write_text(dir / "scene.json", kScene);
    const RunResult r =
        run({"render", (dir / "scene.json").string(), "-o", (dir / "out").string(), "--jobs", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        file_names(dir / "out"),
        (std::vector<std::string>{"frame_00000.png", "frame_00001.png", "frame_00002.png",
                                  "frame_00003.png", "frame_00004.png", "pointillo-render.json"}));
    EXPECT_TRUE(contains(r.out, "5 frames in")) << r.out;
    EXPECT_TRUE(contains(r.out, "frames/s")) << r.out;

    const RunResult again =
        run({"render", (dir / "scene.json").string(), "-o", (dir / "out").string(), "--resume"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(
        contains(again.out, "pointillo: nothing to render: all 5 frames of 0-4 already in " +
                                (dir / "out").string() + "\n"))
        << again.out;
    EXPECT_EQ(again.err, "") << "no progress bar, no 0/0";

    std::filesystem::remove(dir / "out" / "frame_00003.png");
    const RunResult one_left =
        run({"render", (dir / "scene.json").string(), "-o", (dir / "out").string(), "--resume"});
    EXPECT_TRUE(contains(one_left.out, "pointillo: 1 frame in ")) << one_left.out;
    EXPECT_TRUE(contains(one_left.out, "; 4 already there\n")) << one_left.out;
}

TEST(App, TheProgressBarFitsANarrowTerminalAndCoversTheEncode) {
    const TempDir dir;
    testing_support::write_text(dir / "scene.json", kScene);
    AppContext context = effect_context();
    context.err_is_terminal = true;
    context.terminal_columns = [] { return 40; };
    if (const char* path = std::getenv("PATH")) {
        context.search_path = path;
    }
    const bool video = find_program("ffmpeg", context.search_path).has_value();
    std::vector<std::string> args = {"render", (dir / "scene.json").string(), "-o",
                                     (dir / "out").string()};
    if (video) {
        args.insert(args.end(), {"--video", (dir / "a.gif").string()});
    }
    const RunResult r = run(args, context);
    ASSERT_EQ(r.status, 0) << r.err;
    // Every redraw starts with a carriage return and clears to the end of the line.
    size_t lines = 0;
    for (size_t at = r.err.find('\r'); at != std::string::npos; at = r.err.find('\r', at + 1)) {
        const size_t end = r.err.find("\x1b[K", at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = r.err.substr(at + 1, end - at - 1);
        EXPECT_LT(line.size(), 40u) << line;
        ++lines;
    }
    // A first line, one per frame and the clearing one; as many for the encode.
    EXPECT_EQ(lines, video ? 14u : 7u) << r.err;
}

TEST(App, PrintRangeNamesTheSelectedFramesAndRendersNothing) {
    const TempDir dir;
    testing_support::write_text(dir / "scene.json", kScene);
    const std::string scene = (dir / "scene.json").string();
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{}, "0-4\n"}, {{"--frames", "1-3"}, "1-3\n"}, {{"--frame", "2"}, "2-2\n"}};
    for (const auto& [extra, expected] : rows) {
        std::vector<std::string> args = {"render", scene, "-o", (dir / "out").string(),
                                         "--print-range"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, expected);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
    EXPECT_EQ(run({"render", scene, "--print-range", "--frames", "3-9"}).status, 2);
}

TEST(App, DepthOverrideWritesOpenExr) {
    const TempDir dir;
    testing_support::write_text(dir / "scene.json", kScene);
    const RunResult r = run({"render", (dir / "scene.json").string(), "-o", (dir / "out").string(),
                             "--frame", "2", "--depth", "32"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file_names(dir / "out"),
              (std::vector<std::string>{"frame_00002.exr", "pointillo-render.json"}));
}

TEST(App, AnEffectFailureExitsWithOneAndTheEffectsMessage) {
    const TempDir dir;
    testing_support::write_text(dir / "scene.json", kScene);
    AppContext context = effect_context();
    context.renderer = [](const PreparedScene&, int32_t, const std::atomic<bool>&, FrameImage&) {
        throw EffectError("Pointillo: Output exceeds the supported 64 megapixels");
    };
    const RunResult r =
        run({"render", (dir / "scene.json").string(), "-o", (dir / "out").string(), "--frame", "1"},
            context);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pointillo: frame 1: Pointillo: Output exceeds the supported 64 megapixels\n");
}

TEST(App, CancelExitsWith130) {
    const TempDir dir;
    testing_support::write_text(dir / "scene.json", kScene);
    std::atomic<bool> cancel{false};
    AppContext context = effect_context();
    context.cancel = &cancel;
    context.renderer = [&cancel](const PreparedScene&, int32_t, const std::atomic<bool>&,
                                 FrameImage&) {
        cancel.store(true);
        throw RenderCancelled();
    };
    const RunResult r =
        run({"render", (dir / "scene.json").string(), "-o", (dir / "out").string(), "--jobs", "1"},
            context);
    EXPECT_EQ(r.status, 130);
    EXPECT_TRUE(contains(r.err, "interrupted after 0 of 5 frames")) << r.err;
    EXPECT_TRUE(contains(r.err, "--resume")) << r.err;
}

TEST(App, VideoWithoutFfmpegIsAClearUsageError) {
    const TempDir dir;
    testing_support::write_text(dir / "scene.json", kScene);
    AppContext context = effect_context();
    context.search_path = dir.path.string(); // no ffmpeg there
    const RunResult r = run({"render", (dir / "scene.json").string(), "-o", (dir / "out").string(),
                             "--video", (dir / "a.mp4").string()},
                            context);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "needs ffmpeg")) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out")) << "nothing rendered";
}

TEST(App, UnwritableOutputsAreFoundBeforeTheFirstFrame) {
    const TempDir dir;
    testing_support::write_text(dir / "scene.json", kScene);
    testing_support::write_text(dir / "file.txt", "a file, not a folder");
    std::filesystem::create_directories(dir / "folder.mp4");
    std::filesystem::create_directories(dir / "bin");
    testing_support::write_text(dir / "bin" / "ffmpeg", "#!/bin/sh\nexit 0\n");
    ::chmod((dir / "bin" / "ffmpeg").c_str(), 0755);
    struct Row {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string out = (dir / "out").string();
    const Row rows[] = {
        {{"-o", out, "--video", (dir / "file.txt" / "a.mp4").string()},
         "/file.txt/a.mp4: cannot create the folder"},
        // Permissions do not stop root; a file system that takes no files does.
        {{"-o", out, "--video", "/proc/a.mp4"}, "--video /proc/a.mp4: cannot write to /proc: "},
        {{"-o", out, "--video", (dir / "folder.mp4").string()}, "folder.mp4: is a folder"},
        {{"-o", "/proc"}, "-o /proc: cannot write frames there: "},
        {{"-o", (dir / "file.txt" / "frames").string()}, "cannot create the folder"},
    };
    for (const Row& row : rows) {
        std::filesystem::create_directories(dir / "out");
        AppContext context = effect_context();
        context.search_path = (dir / "bin").string();
        context.renderer = [](const PreparedScene&, int32_t, const std::atomic<bool>&,
                              FrameImage&) { throw EffectError("rendered a frame"); };
        std::vector<std::string> args = {"render", (dir / "scene.json").string()};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const RunResult r = run(args, context);
        EXPECT_EQ(r.status, 2) << row.message << ": " << r.err;
        EXPECT_TRUE(contains(r.err, row.message)) << r.err;
    }
    // A video's missing folder is made, like the frames'.
    AppContext context = effect_context();
    context.search_path = (dir / "bin").string();
    const RunResult made = run({"render", (dir / "scene.json").string(), "-o", out, "--video",
                                (dir / "videos" / "a.mp4").string()},
                               context);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "videos")) << made.err;
}

// ---- quick looks -----------------------------------------------------------------------

TEST(QuickLook, OneFrameToTheFileOutputNames) {
    const TempDir dir;
    testing_support::write_text(dir / "scene.json", kScene);
    const std::string scene = (dir / "scene.json").string();
    ASSERT_EQ(run({"render", scene, "-o", (dir / "all").string()}).status, 0);
    struct Row {
        std::vector<std::string> args;
        std::string file;
        std::string same_as; // the folder render's frame
    };
    const Row rows[] = {
        {{"--frame", "0.2s", "-o", (dir / "shots" / "still.png").string()}, "shots/still.png", ""},
        {{"--frames", "3-3", "-o", (dir / "three.PNG").string()}, "three.PNG", "frame_00003.png"},
        {{"--frame", "4", "--depth", "32", "-o", (dir / "four.exr").string()}, "four.exr", ""},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = {"render", scene};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const RunResult r = run(args);
        ASSERT_EQ(r.status, 0) << row.file << ": " << r.err;
        EXPECT_TRUE(std::filesystem::is_regular_file(dir / row.file)) << row.file;
        EXPECT_TRUE(contains(r.out, " s to " + (dir / row.file).string() + "\n")) << r.out;
        if (!row.same_as.empty()) {
            EXPECT_EQ(testing_support::read_bytes(dir / row.file),
                      testing_support::read_bytes(dir / "all" / row.same_as));
        }
    }
    EXPECT_EQ(testing_support::read_bytes(dir / "shots" / "still.png"),
              testing_support::read_bytes(dir / "all" / "frame_00002.png"));
    EXPECT_EQ(file_names(dir / "shots"), std::vector<std::string>{"still.png"});

    // A folder that is there already stays a folder, whatever its name.
    std::filesystem::create_directories(dir / "folder.png");
    ASSERT_EQ(run({"render", scene, "--frame", "1", "-o", (dir / "folder.png").string()}).status,
              0);
    EXPECT_TRUE(std::filesystem::exists(dir / "folder.png" / "frame_00001.png"));
}

TEST(QuickLook, AStillNeedsOneFrameAndItsOwnFileType) {
    const TempDir dir;
    testing_support::write_text(dir / "scene.json", kScene);
    const std::string scene = (dir / "scene.json").string();
    const std::string still = (dir / "still.png").string();
    struct Row {
        std::vector<std::string> args;
        std::string message;
    };
    const Row rows[] = {
        {{"-o", still}, "names one image, but 5 frames are selected; choose one with --frame N"},
        {{"-o", still, "--frames", "0-1"}, "but 2 frames are selected"},
        {{"-o", still, "--frame", "1", "--depth", "32"}, "depth 32 frames are OpenEXR"},
        {{"-o", (dir / "a.exr").string(), "--frame", "1"}, "OpenEXR holds depth 32 frames"},
        {{"-o", still, "--frame", "1", "--resume"}, "--video and --resume need a folder"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = {"render", scene};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 2) << row.message;
        EXPECT_TRUE(contains(r.err, row.message)) << r.err;
    }
    EXPECT_EQ(file_names(dir.path), std::vector<std::string>{"scene.json"});
}

TEST(QuickLook, CheckValidatesReportsAndRendersNothing) {
    const TempDir dir;
    testing_support::write_text(dir / "scene.json", R"({"comp": {"width": 16, "height": 8,
        "fps": 10, "duration": 3}, "sources": [{"text": "A\u4E2D", "size": 6}, {"text": "B",
        "size": 6}]})");
    const std::string scene = (dir / "scene.json").string();
    const RunResult ok = run({"render", "--check", scene, "-o", (dir / "out").string()});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_TRUE(contains(ok.out, "pointillo: timing: Source 1 0-0.8 s, into Source 2 0.8-2 s"))
        << ok.out;
    EXPECT_TRUE(contains(ok.out, "pointillo: " + scene +
                                     ": ready: 16 x 8, 10 fps, 30 frames (3 s), 2 sources, 1 "
                                     "warning; nothing rendered\n"))
        << ok.out;
    EXPECT_TRUE(contains(ok.err, "has no glyph for U+4E2D")) << ok.err;
    EXPECT_EQ(file_names(dir.path), std::vector<std::string>{"scene.json"}) << "nothing written";

    // What a render would refuse, --check refuses.
    testing_support::write_text(dir / "bad.json", R"({"comp": {"width": 0}})");
    EXPECT_EQ(run({"render", "--check", (dir / "bad.json").string()}).status, 2);
    ASSERT_EQ(run({"render", scene, "-o", (dir / "out").string(), "--frame", "0"}).status, 0);
    const RunResult mixed = run({"render", "--check", scene, "-o", (dir / "out").string(),
                                 "--resume", "--set", "params.Dot Size=9"});
    EXPECT_EQ(mixed.status, 2);
    EXPECT_TRUE(contains(mixed.err, "its frames come from another render")) << mixed.err;
    EXPECT_EQ(file_names(dir / "out"),
              (std::vector<std::string>{"frame_00000.png", "pointillo-render.json"}));
}

TEST(QuickLook, TheExamplesCheckWithoutWarnings) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(POINTILLO_EXAMPLES_DIR)) {
        if (entry.path().extension() != ".json") {
            continue;
        }
        ++count;
        const RunResult r = run({"render", "--check", entry.path().string()});
        EXPECT_EQ(r.status, 0) << entry.path() << ": " << r.err;
        EXPECT_EQ(r.err, "") << entry.path();
        EXPECT_TRUE(contains(r.out, "0 warnings; nothing rendered")) << r.out;
    }
    EXPECT_EQ(count, 4u);
}

// ---- warnings and the timing summary ----------------------------------------------------

TEST(Warnings, WhatRendersButNotAsMeantIsSaidAndTheRenderGoesOn) {
    const TempDir dir;
    testing_support::write_text(dir / "scene.json", R"({"comp": {"width": 16, "height": 8,
        "fps": 10, "duration": 3}, "sources": [
          {"text": "A\u4E2D", "size": 6},
          {"text": "WIDEWIDE", "font": "DejaVu Sans:black", "size": 10},
          {"text": "C", "size": 6},
          {"text": "D", "size": 6}]})");
    const RunResult r = run(
        {"render", (dir / "scene.json").string(), "-o", (dir / "out").string(), "--frames", "0-1"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string scene = (dir / "scene.json").string();
    for (const std::string& part : {
             "pointillo: warning: " + scene +
                 ": sources[0] (Source 1).text: the font \"DejaVu "
                 "Sans Book\" (",
             std::string(") has no glyph for U+4E2D, drawn as boxes"),
             "pointillo: warning: " + scene +
                 ": sources[1] (Source 2).font: \"DejaVu Sans:black\" is not installed in that "
                 "style (weight black; got weight bold): drawn with \"DejaVu Sans Bold\"",
             "pointillo: warning: " + scene + ": sources[1] (Source 2).text: the text is ",
             std::string(" pixels and the comp 16 x 8: it is cut at the left and right edges; "
                         "lower \"size\""),
             "pointillo: warning: " + scene +
                 ": sources[3] (Source 4) is never shown: the comp's 30 frames (3 s) end before "
                 "it (it would start to form at 4.8 s)",
         }) {
        EXPECT_TRUE(contains(r.err, part)) << part << "\nnot in\n" << r.err;
    }
    EXPECT_FALSE(contains(r.err, "sources[2] (Source 3) is never shown")) << "it starts to form";
    EXPECT_TRUE(contains(r.out, "pointillo: timing: Source 1 0-0.8 s, into Source 2 0.8-2 s, "
                                "Source 2 2-2.8 s, into Source 3 2.8 s on, cut at the end; the "
                                "last transition is cut off by the end of the comp\n"))
        << r.out;
    EXPECT_TRUE(std::filesystem::exists(dir / "out" / "frame_00001.png"));
}

TEST(Warnings, TimingSummariesAndSourcesNeverReached) {
    struct Row {
        const char* what;
        std::string scene;
        std::string timing;  // the summary after "timing: "
        std::string warning; // empty: none
    };
    const std::string comp = R"("comp": {"width": 16, "height": 8, "fps": 10, "duration": 2.5})";
    const std::string two = R"("sources": [{"text": "A", "size": 6}, {"text": "B", "size": 6}])";
    const Row rows[] = {
        {"defaults", "{" + comp + ", " + two + "}",
         "Source 1 0-0.8 s, into Source 2 0.8-2 s, Source 2 2 s on; the last transition ends at 2 "
         "s",
         ""},
        {"one source", "{" + comp + R"(, "sources": [{"text": "A", "size": 6}]})",
         "Source 1 0 s on; no transition", ""},
        {"an empty slot between",
         "{" + comp + R"(, "sources": [{"text": "A", "size": 6}, null, {"text": "B", "size": 6}]})",
         "Source 1 0-0.8 s, into Source 3 0.8-2 s, Source 3 2 s on; the last transition ends at 2 "
         "s",
         ""},
        {"keyframed hold",
         "{" + comp + ", " + two +
             R"json(, "params": {"Hold (seconds)": [[0, 0.3], [2, 0.3]]}})json",
         "Source 1 0-0.3 s, into Source 2 0.3-1.5 s, Source 2 1.5 s on; the last transition ends "
         "at 1.5 s",
         ""},
        {"late start", "{" + comp + ", " + two + R"json(, "params": {"Start (seconds)": 2}})json",
         "Source 1 0 s on; no transition",
         "sources[1] (Source 2) is never shown: the comp's 25 frames (2.5 s) end before it (it "
         "would start to form at 2.8 s); lengthen comp.duration"},
        {"manual",
         "{" + comp + ", " + two +
             R"(, "params": {"Automatic": false, "Sequence Position": [[0, 1], [2, 2]]}})",
         "Source 1 0 s, into Source 2 0-2 s, Source 2 2 s on; the last transition ends at 2 s", ""},
        {"manual, held", "{" + comp + ", " + two + R"(, "params": {"Automatic": false}})",
         "Source 1 0 s on; no transition",
         "sources[1] (Source 2) is never shown: the comp's 25 frames (2.5 s) end before it; "
         "\"Sequence Position\" must go above 1 to turn towards it (2 shows it whole)"},
        {"nothing visible", "{" + comp + R"(, "sources": [null, {"text": ""}]})",
         "Source 2 0 s on; no transition",
         "no source is visible, so every frame is empty: every source is empty or fully "
         "transparent"},
        {"no sources", "{" + comp + "}", "no source",
         "no source is visible, so every frame is empty: the scene has no sources"},
    };
    for (const Row& row : rows) {
        const TempDir dir;
        testing_support::write_text(dir / "scene.json", row.scene);
        const RunResult r = run({"render", (dir / "scene.json").string(), "-o",
                                 (dir / "out").string(), "--frame", "0"});
        EXPECT_EQ(r.status, 0) << row.what << ": " << r.err;
        EXPECT_TRUE(contains(r.out, "pointillo: timing: " + row.timing + "\n")) << row.what << ":\n"
                                                                                << r.out;
        if (row.warning.empty()) {
            EXPECT_FALSE(contains(r.err, "warning")) << row.what << ": " << r.err;
        } else {
            EXPECT_TRUE(contains(r.err, "pointillo: warning: " + (dir / "scene.json").string() +
                                            ": " + row.warning))
                << row.what << ":\n"
                << r.err;
        }
    }
}

// ---- resume never mixes renders -----------------------------------------------------

struct Folder {
    TempDir dir;
    std::string scene;
    std::string out;
    Folder() : scene((dir / "scene.json").string()), out((dir / "out").string()) {
        testing_support::write_text(dir / "scene.json", R"({"comp": {"width": 16, "height": 8,
            "fps": 10, "duration": 0.5}, "sources": [{"text": "A", "size": 8},
            {"image": "logo.png"}]})");
        write_logo(255);
    }
    void write_logo(uint16_t alpha) const {
        StraightImage logo = make_straight_image(4, 4, 8);
        for (size_t i = 3; i < logo.samples.size(); i += 4) {
            logo.samples[i] = alpha;
        }
        testing_support::write_bytes(dir / "logo.png", encode_png(logo));
    }
    RunResult render(std::vector<std::string> extra, AppContext context = effect_context()) const {
        std::vector<std::string> args = {"render", scene, "-o", out};
        args.insert(args.end(), extra.begin(), extra.end());
        return run(args, context);
    }
};

TEST(Resume, RefusesTheFramesOfAnotherRenderAndSaysWhatDiffers) {
    struct Row {
        const char* what;
        std::vector<std::string> change;
        std::string message;
        bool new_logo = false;
        uint32_t module_version = 0; // 0: the real module's
    };
    const Row rows[] = {
        {"depth", {"--depth", "16"}, "depth: 8 there, 16 now"},
        {"downsample", {"--downsample", "2"}, "downsample: 1 there, 2 now"},
        {"background", {"--background", "#ff0000"}, "background: none there, #ff0000 now"},
        {"parameter",
         {"--set", "params.Dot Size=9"},
         "params[\"Dot Size\"]: the default there, 9 now"},
        {"text", {"--set", "sources[0].text=B"}, "sources[0] (Source 1): text \"A\""},
        {"comp",
         {"--set", "comp.width=18"},
         "comp: 16 x 8, time scale 10000, 5 frames there, 18 x 8"},
        {"motion blur",
         {"--motion-blur", "2"},
         "motion blur: off there, 2 samples, 180 degrees now"},
        {"image file",
         {},
         "sources[1] (Source 2) pixels changed (its image file or font changed)",
         true},
        {"module",
         {},
         "module: 1.1.1 beta, build 1 (0x00088C01) there, 1.1.1 beta, build 2",
         false,
         0x00088C02},
    };
    for (const Row& row : rows) {
        const Folder folder;
        ASSERT_EQ(folder.render({}).status, 0) << row.what;
        const std::vector<uint8_t> before =
            testing_support::read_bytes(folder.dir / "out" / "frame_00003.png");
        if (row.new_logo) {
            folder.write_logo(128);
        }
        AppContext context = effect_context();
        if (row.module_version != 0) {
            context.info = [&row] {
                EffectInfo info = testing_support::test_session().info();
                info.version = row.module_version;
                return info;
            };
        }
        std::vector<std::string> args = row.change;
        args.push_back("--resume");
        const RunResult refused = folder.render(args, context);
        EXPECT_EQ(refused.status, 2) << row.what;
        EXPECT_TRUE(
            contains(refused.err, "-o " + folder.out + ": its frames come from another render"))
            << row.what << ": " << refused.err;
        EXPECT_TRUE(contains(refused.err, row.message)) << row.what << ": " << refused.err;
        EXPECT_TRUE(contains(refused.err, "--force-resume")) << row.what;
        EXPECT_EQ(testing_support::read_bytes(folder.dir / "out" / "frame_00003.png"), before)
            << row.what << ": nothing is touched";

        // Forced, the frames there are kept and count as this render's from then on.
        args.back() = "--force-resume";
        const RunResult forced = folder.render(args, context);
        EXPECT_EQ(forced.status, 0) << row.what << ": " << forced.err;
        args.back() = "--resume";
        EXPECT_EQ(folder.render(args, context).status, 0) << row.what;
    }
}

TEST(Resume, FramesLeftByAnotherRenderAreNeverTakenAsThisOnes) {
    const Folder folder;
    ASSERT_EQ(folder.render({}).status, 0);
    // A quick look at frame 1 with another dot size replaces frame 1 only.
    const std::vector<std::string> other = {"--set", "params.Dot Size=9"};
    std::vector<std::string> args = other;
    args.insert(args.end(), {"--frame", "1"});
    const RunResult look = folder.render(args);
    ASSERT_EQ(look.status, 0) << look.err;
    EXPECT_TRUE(contains(look.err, "frame 1 rendered again, frames 0, 2-4 stay, and --resume "
                                   "will not take them"))
        << look.err;

    args = other;
    args.push_back("--resume");
    const RunResult refused = folder.render(args);
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(contains(refused.err, "frames 0, 2-4 there come from another render"))
        << refused.err;
    // The frame it rendered is its own; the original render is another one now.
    args.insert(args.end(), {"--frame", "1"});
    EXPECT_EQ(folder.render(args).status, 0);
    EXPECT_EQ(folder.render({"--resume"}).status, 2);

    // Rendering the whole range again makes the folder one render's.
    args = other;
    const RunResult all = folder.render(args);
    ASSERT_EQ(all.status, 0) << all.err;
    args.push_back("--resume");
    const RunResult nothing_left = folder.render(args);
    EXPECT_EQ(nothing_left.status, 0) << nothing_left.err;
}

TEST(Resume, AnInterruptedReplacementLeavesNoFrameOfTheOldRender) {
    const Folder folder;
    ASSERT_EQ(folder.render({}).status, 0);
    // Another render over the same frames, stopped after its first frame.
    std::atomic<bool> cancel{false};
    AppContext context = effect_context();
    context.cancel = &cancel;
    context.renderer = [&cancel](const PreparedScene& scene, int32_t frame,
                                 const std::atomic<bool>& flag, FrameImage& image) {
        if (frame > 0) {
            cancel.store(true);
            throw RenderCancelled();
        }
        testing_support::test_session().render_frame(scene, frame, flag, image);
    };
    const RunResult stopped = folder.render({"--set", "params.Dot Size=9", "--jobs", "1"}, context);
    EXPECT_EQ(stopped.status, 130) << stopped.err;
    EXPECT_EQ(file_names(folder.dir / "out"),
              (std::vector<std::string>{"frame_00000.png", "pointillo-render.json"}));
    const RunResult finished = folder.render({"--set", "params.Dot Size=9", "--resume"});
    EXPECT_EQ(finished.status, 0) << finished.err;
    EXPECT_TRUE(contains(finished.out, "4 frames")) << finished.out;
}

TEST(Resume, AFolderWithoutARecordOrWithABrokenOneIsRefused) {
    const Folder folder;
    std::filesystem::create_directories(folder.dir / "out");
    testing_support::write_bytes(folder.dir / "out" / "frame_00002.png", {1, 2, 3});
    const RunResult unknown = folder.render({"--resume"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(contains(unknown.err, "it holds frames but no pointillo-render.json saying what "
                                      "rendered them"))
        << unknown.err;
    ASSERT_EQ(folder.render({}).status, 0) << "a render without --resume replaces them";
    EXPECT_EQ(folder.render({"--resume"}).status, 0);

    testing_support::write_text(folder.dir / "out" / "pointillo-render.json", "{\"made by\": 3}");
    const RunResult broken = folder.render({"--resume"});
    EXPECT_EQ(broken.status, 2);
    EXPECT_TRUE(contains(broken.err, "pointillo-render.json cannot be read")) << broken.err;

    // An empty folder, or one without frames of this depth, is a fresh start.
    const Folder fresh;
    std::filesystem::create_directories(fresh.dir / "out");
    testing_support::write_text(fresh.dir / "out" / "notes.txt", "mine");
    EXPECT_EQ(fresh.render({"--resume"}).status, 0);
}

} // namespace
} // namespace pointillo
