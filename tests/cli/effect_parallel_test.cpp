// Through the real module, a frame's file depends only on the scene and its
// number: any thread count and any split into chunks write the same bytes.

#include "effect_support.h"

#include <gtest/gtest.h>

namespace pointillo {
namespace {

using testing_support::AppRun;
using testing_support::file_names;
using testing_support::read_bytes;
using testing_support::run_pointillo;
using testing_support::TempDir;

// Particles carry emission history from earlier times and keyframes change
// values over the range: both must come out the same however frames are
// shared out.
constexpr const char* kScene = R"json({
    "comp": {"width": 160, "height": 90, "fps": 10, "duration": 2.4},
    "sources": [{"image": "dot.png"}, {"text": "Hi", "size": 50, "color": "#7ad3ff"}],
    "params": {"Spacing": 4, "Dot Size": 3, "Scatter": [[0, 20], [2, 90]],
               "Motion Style": [[0, "Swirl"], [1.3, "Center Out"]],
               "Enable Additional Particles": true, "Emission Rate (per second)": 600}})json";

AppRun render(const TempDir& dir, const TempDir& out, const std::string& depth,
              const std::string& frames, int jobs, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"render",   (dir / "scene.json").string(),
                                     "-o",       out.path.string(),
                                     "--depth",  depth,
                                     "--frames", frames,
                                     "--jobs",   std::to_string(jobs)};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_pointillo(args);
}

void expect_same_files(const TempDir& a, const TempDir& b, const std::string& what) {
    const std::vector<std::string> names = file_names(a.path);
    ASSERT_EQ(names, file_names(b.path)) << what;
    for (const std::string& name : names) {
        EXPECT_TRUE(read_bytes(a / name) == read_bytes(b / name)) << what << ": " << name;
    }
}

TEST(EffectParallel, JobsAndChunksWriteTheSameBytes) {
    const TempDir dir;
    testing_support::write_word_png(dir / "dot.png", "DOT", 160, 90, 5, 8, {255, 255, 255, 255});
    testing_support::write_text(dir / "scene.json", kScene);
    for (const std::string depth : {"8", "16", "32"}) {
        const TempDir one;
        const AppRun sequential = render(dir, one, depth, "0-23", 1);
        ASSERT_EQ(sequential.status, 0) << sequential.err;
        ASSERT_EQ(file_names(one.path).size(), 25u) << "24 frames and the render record";

        const TempDir four;
        const AppRun parallel = render(dir, four, depth, "0-23", 4);
        ASSERT_EQ(parallel.status, 0) << parallel.err;
        expect_same_files(one, four, "depth " + depth + ", --jobs 4");

        // Chunks out of order, each with its own thread count.
        const TempDir chunked;
        const std::pair<const char*, int> chunks[] = {
            {"15-23", 3}, {"7-14", 2}, {"0-0", 1}, {"1-6", 4}};
        for (const auto& [frames, jobs] : chunks) {
            const AppRun run = render(dir, chunked, depth, frames, jobs);
            ASSERT_EQ(run.status, 0) << frames << ": " << run.err;
        }
        expect_same_files(one, chunked, "depth " + depth + ", chunks");
    }
}

// Frames drawn on several threads each, however the cores are shared
// between frames at once and threads per frame, and a still on every core,
// write the bytes of one thread and one job.
TEST(EffectParallel, ThreadsPerFrameWriteTheSameBytes) {
    const TempDir dir;
    testing_support::write_word_png(dir / "dot.png", "DOT", 160, 90, 5, 8, {255, 255, 255, 255});
    testing_support::write_text(dir / "scene.json", kScene);
    for (const std::string depth : {"8", "32"}) {
        const TempDir one;
        const AppRun serial = render(dir, one, depth, "10-15", 1, {"--threads", "1"});
        ASSERT_EQ(serial.status, 0) << serial.err;
        struct Split {
            int jobs;
            std::vector<std::string> threads; // empty: the renderer's share
        };
        const Split splits[] = {{1, {"--threads", "2"}},
                                {1, {"--threads", "7"}},
                                {2, {"--threads", "3"}},
                                {3, {"--threads", "16"}},
                                {2, {}},
                                {1, {}}};
        for (const Split& split : splits) {
            const std::string what =
                "depth " + depth + ", --jobs " + std::to_string(split.jobs) +
                (split.threads.empty() ? "" : " --threads " + split.threads[1]);
            const TempDir out;
            const AppRun run = render(dir, out, depth, "10-15", split.jobs, split.threads);
            ASSERT_EQ(run.status, 0) << what << ": " << run.err;
            expect_same_files(one, out, what);
        }
        const TempDir stills;
        const std::string name = depth == "32" ? "still.exr" : "still.png";
        for (const char* threads : {"1", "5"}) {
            const AppRun run = run_pointillo({"render", (dir / "scene.json").string(), "-o",
                                              (stills / threads).string() + name, "--depth", depth,
                                              "--frame", "12", "--threads", threads});
            ASSERT_EQ(run.status, 0) << run.err;
        }
        const AppRun every_core =
            run_pointillo({"render", (dir / "scene.json").string(), "-o",
                           (stills / "all").string() + name, "--depth", depth, "--frame", "12"});
        ASSERT_EQ(every_core.status, 0) << every_core.err;
        const std::vector<uint8_t> still = read_bytes(stills / ("1" + name));
        EXPECT_TRUE(still == read_bytes(stills / ("5" + name))) << depth;
        EXPECT_TRUE(still == read_bytes(stills / ("all" + name))) << depth;
        EXPECT_TRUE(still == read_bytes(one / ("frame_00012" + name.substr(5)))) << depth;
    }
}

// Sub-frames are summed in time order inside one frame's render, so motion
// blur too gives the same bytes for any thread count and chunking. Depth 32
// is the one whose sums (in double) would show another order.
TEST(EffectParallel, MotionBlurJobsAndChunksWriteTheSameBytes) {
    const TempDir dir;
    testing_support::write_word_png(dir / "dot.png", "DOT", 160, 90, 5, 8, {255, 255, 255, 255});
    testing_support::write_text(dir / "scene.json", kScene);
    // Particles are left out: they cost most under ThreadSanitizer and have
    // their own test above.
    const std::vector<std::string> blur = {
        "--motion-blur", "3",     "--shutter-angle",
        "270",           "--set", "params.Enable Additional Particles=false"};
    const TempDir one;
    const AppRun sequential = render(dir, one, "32", "8-15", 1, blur);
    ASSERT_EQ(sequential.status, 0) << sequential.err;
    const TempDir three;
    const AppRun parallel = render(dir, three, "32", "8-15", 3, blur);
    ASSERT_EQ(parallel.status, 0) << parallel.err;
    expect_same_files(one, three, "motion blur, --jobs 3");
    const TempDir chunked;
    for (const auto& [frames, jobs] : {std::pair{"12-15", 2}, std::pair{"8-11", 3}}) {
        const AppRun run = render(dir, chunked, "32", frames, jobs, blur);
        ASSERT_EQ(run.status, 0) << frames << ": " << run.err;
    }
    expect_same_files(one, chunked, "motion blur, chunks");
}

} // namespace
} // namespace pointillo
