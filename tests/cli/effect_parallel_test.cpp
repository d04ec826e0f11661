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
              const std::string& frames, int jobs) {
    return run_pointillo({"render", (dir / "scene.json").string(), "-o", out.path.string(),
                          "--depth", depth, "--frames", frames, "--jobs", std::to_string(jobs)});
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
        ASSERT_EQ(file_names(one.path).size(), 24u);

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

} // namespace
} // namespace pointillo
