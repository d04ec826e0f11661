#include "cli/app.h"
#include "cli/effect_bridge.h"
#include "test_session.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <sstream>

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
    EXPECT_EQ(file_names(dir / "out"),
              (std::vector<std::string>{"frame_00000.png", "frame_00001.png", "frame_00002.png",
                                        "frame_00003.png", "frame_00004.png"}));
    EXPECT_TRUE(contains(r.out, "5 frames in")) << r.out;
    EXPECT_TRUE(contains(r.out, "frames/s")) << r.out;

    const RunResult again =
        run({"render", (dir / "scene.json").string(), "-o", (dir / "out").string(), "--resume"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(contains(again.out, "0 frames in")) << again.out;
    EXPECT_TRUE(contains(again.out, "5 already there")) << again.out;
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
    EXPECT_EQ(file_names(dir / "out"), std::vector<std::string>{"frame_00002.exr"});
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

} // namespace
} // namespace pointillo
