// Frames rendered on several threads, in chunks, resumed or cancelled must
// leave exactly the files a plain sequential render leaves.

#include "cli/base/errors.h"
#include "cli/base/files.h"
#include "cli/effect/effect_bridge.h"
#include "cli/frames/frame_file.h"
#include "cli/run/render.h"
#include "test_support.h"

#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>

namespace pointillo {
namespace {

using testing_support::file_names;
using testing_support::read_bytes;
using testing_support::TempDir;

PreparedScene small_scene(PixelDepth depth) {
    PreparedScene scene;
    scene.setup.width = 9;
    scene.setup.height = 5;
    scene.setup.frame_count = 40;
    scene.setup.depth = depth;
    return scene;
}

// A frame whose every sample depends on the frame number.
ArgbImage patterned_frame(const PreparedScene& scene, int32_t frame) {
    ArgbImage image = make_argb_image(scene.setup.width, scene.setup.height, scene.setup.depth);
    const size_t count =
        static_cast<size_t>(scene.setup.width) * static_cast<size_t>(scene.setup.height) * 4;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t v = static_cast<uint32_t>(frame) * 2654435761u + static_cast<uint32_t>(i);
        switch (scene.setup.depth) {
        case PixelDepth::k8:
            image.samples8[i] = static_cast<uint8_t>(v >> 7);
            break;
        case PixelDepth::k16:
            image.samples16[i] = static_cast<uint16_t>((v >> 5) % 32769);
            break;
        case PixelDepth::k32:
            image.samples32[i] = static_cast<float>(v % 1000) / 999.0f;
            break;
        }
    }
    return image;
}

// The same frame as a renderer hands it over: rows padded, as the host pads
// its worlds, with bytes in the padding that must not reach the files.
void patterned(const PreparedScene& scene, int32_t frame, const std::atomic<bool>&,
               FrameImage& out) {
    const ArgbImage image = patterned_frame(scene, frame);
    const ConstPixelView packed = view_of(image);
    const auto row = static_cast<size_t>(packed.rowbytes);
    const size_t rowbytes = row + 24;
    out.bytes.assign(rowbytes * static_cast<size_t>(packed.height), std::byte{0xCD});
    for (int32_t y = 0; y < packed.height; ++y) {
        std::memcpy(out.bytes.data() + static_cast<size_t>(y) * rowbytes,
                    packed.data + static_cast<size_t>(y) * row, row);
    }
    out.view = packed;
    out.view.data = out.bytes.data();
    out.view.rowbytes = static_cast<std::ptrdiff_t>(rowbytes);
}

RenderJob job_for(const TempDir& dir, int32_t first, int32_t last, int32_t jobs) {
    RenderJob job;
    job.frames = FrameRange{first, last};
    job.out_dir = dir.path;
    job.jobs = jobs;
    return job;
}

void expect_same_files(const TempDir& a, const TempDir& b, const char* what) {
    const auto names = file_names(a.path);
    ASSERT_EQ(names, file_names(b.path)) << what;
    for (const std::string& name : names) {
        EXPECT_EQ(read_bytes(a / name), read_bytes(b / name)) << what << ": " << name;
    }
}

// Frames come with padded rows; the files hold the frame, as if it had been
// packed, at every depth, with and without a background.
TEST(Render, RowPaddingNeverReachesTheFiles) {
    for (const PixelDepth depth : {PixelDepth::k8, PixelDepth::k16, PixelDepth::k32}) {
        for (const std::optional<Rgb8> background :
             {std::optional<Rgb8>{}, std::optional{Rgb8{9, 80, 200}}}) {
            const PreparedScene scene = small_scene(depth);
            std::atomic<bool> cancel{false};
            const TempDir dir;
            RenderJob job = job_for(dir, 3, 4, 2);
            job.background = background;
            render_frames(scene, job, patterned, cancel, nullptr);
            for (const int32_t frame : {3, 4}) {
                EXPECT_EQ(read_bytes(dir / frame_file_name(frame, depth)),
                          encode_frame_file(patterned_frame(scene, frame), background))
                    << "depth " << static_cast<int>(depth) << " frame " << frame
                    << (background ? " over a background" : "");
            }
        }
    }
}

TEST(Render, AnyChunkingAndThreadCountGiveTheSameBytes) {
    for (const PixelDepth depth : {PixelDepth::k8, PixelDepth::k16, PixelDepth::k32}) {
        const PreparedScene scene = small_scene(depth);
        std::atomic<bool> cancel{false};
        const TempDir sequential;
        const RenderSummary summary =
            render_frames(scene, job_for(sequential, 0, 23, 1), patterned, cancel, nullptr);
        EXPECT_EQ(summary.rendered, 24);
        EXPECT_FALSE(summary.cancelled);
        ASSERT_EQ(file_names(sequential.path).size(), 24u);

        const TempDir parallel;
        render_frames(scene, job_for(parallel, 0, 23, 5), patterned, cancel, nullptr);
        expect_same_files(sequential, parallel, "five threads");

        // Uneven chunks, last first, each on its own thread count.
        const TempDir chunked;
        const FrameRange chunks[] = {{17, 23}, {4, 16}, {0, 0}, {1, 3}};
        int32_t threads = 1;
        for (const FrameRange& chunk : chunks) {
            render_frames(scene, job_for(chunked, chunk.first, chunk.last, threads++), patterned,
                          cancel, nullptr);
        }
        expect_same_files(sequential, chunked, "chunks");
    }
}

TEST(Render, FramesLandUnderTheirOwnNumbers) {
    const PreparedScene scene = small_scene(PixelDepth::k8);
    std::atomic<bool> cancel{false};
    const TempDir dir;
    render_frames(scene, job_for(dir, 5, 8, 3), patterned, cancel, nullptr);
    EXPECT_EQ(file_names(dir.path),
              (std::vector<std::string>{"frame_00005.png", "frame_00006.png", "frame_00007.png",
                                        "frame_00008.png"}));
    EXPECT_EQ(read_bytes(dir / "frame_00007.png"),
              encode_frame_file(patterned_frame(scene, 7), std::nullopt));
}

TEST(Render, ResumeRendersOnlyTheMissingFrames) {
    const PreparedScene scene = small_scene(PixelDepth::k8);
    std::atomic<bool> cancel{false};
    const TempDir dir;
    render_frames(scene, job_for(dir, 0, 9, 2), patterned, cancel, nullptr);
    std::filesystem::remove(dir / "frame_00003.png");
    std::filesystem::remove(dir / "frame_00009.png");
    // Files that are not whole frames are rendered again: empty, cut short,
    // not a PNG at all.
    testing_support::write_text(dir / "frame_00004.png", "");
    const std::vector<uint8_t> whole = read_bytes(dir / "frame_00005.png");
    testing_support::write_bytes(dir / "frame_00005.png",
                                 std::vector<uint8_t>(whole.begin(), whole.end() - 1));
    testing_support::write_text(dir / "frame_00006.png", "not a frame");

    std::mutex mutex;
    std::set<int32_t> rendered;
    const FrameRenderer counting = [&](const PreparedScene& s, int32_t frame,
                                       const std::atomic<bool>& c, FrameImage& image) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            rendered.insert(frame);
        }
        patterned(s, frame, c, image);
    };
    RenderJob job = job_for(dir, 0, 9, 3);
    job.resume = true;
    const RenderSummary summary = render_frames(scene, job, counting, cancel, nullptr);
    EXPECT_EQ(rendered, (std::set<int32_t>{3, 4, 5, 6, 9}));
    EXPECT_EQ(summary.rendered, 5);
    EXPECT_EQ(summary.skipped, 5);
    EXPECT_EQ(file_names(dir.path).size(), 10u);
    EXPECT_EQ(read_bytes(dir / "frame_00005.png"), whole);
    EXPECT_EQ(read_bytes(dir / "frame_00006.png"),
              encode_frame_file(patterned_frame(scene, 6), std::nullopt));

    // Without --resume every frame is written again.
    rendered.clear();
    job.resume = false;
    render_frames(scene, job, counting, cancel, nullptr);
    EXPECT_EQ(rendered.size(), 10u);
    EXPECT_EQ(read_bytes(dir / "frame_00004.png"),
              encode_frame_file(patterned_frame(scene, 4), std::nullopt));
}

TEST(Render, AFailingFrameStopsTheRenderWithTheEffectsMessage) {
    const PreparedScene scene = small_scene(PixelDepth::k8);
    const FrameRenderer failing = [](const PreparedScene& s, int32_t frame,
                                     const std::atomic<bool>& cancel, FrameImage& image) {
        if (frame == 6) {
            throw EffectError("Pointillo: Output exceeds the supported 64 megapixels");
        }
        patterned(s, frame, cancel, image);
    };
    {
        std::atomic<bool> cancel{false};
        const TempDir dir;
        try {
            render_frames(scene, job_for(dir, 0, 20, 1), failing, cancel, nullptr);
            FAIL() << "no failure reported";
        } catch (const RenderFailure& e) {
            EXPECT_STREQ(e.what(),
                         "frame 6: Pointillo: Output exceeds the supported 64 megapixels");
        }
        // In order on one thread: frames before the failure are written, none after.
        EXPECT_EQ(file_names(dir.path).size(), 6u);
        EXPECT_FALSE(std::filesystem::exists(dir / "frame_00006.png"));
    }
    {
        std::atomic<bool> cancel{false};
        const TempDir dir;
        EXPECT_THROW(render_frames(scene, job_for(dir, 0, 39, 4), failing, cancel, nullptr),
                     RenderFailure);
        EXPECT_FALSE(std::filesystem::exists(dir / "frame_00006.png"));
        EXPECT_LT(file_names(dir.path).size(), 40u);
        for (const std::string& name : file_names(dir.path)) {
            EXPECT_EQ(name.rfind("frame_", 0), 0u) << "left behind: " << name;
        }
    }
}

TEST(Render, TheLowestFailingFrameIsReported) {
    const PreparedScene scene = small_scene(PixelDepth::k8);
    // Frames 2 and 3 both fail, each only once both have started, so both
    // failures are always recorded whatever the scheduling.
    std::atomic<int> started{0};
    const FrameRenderer failing = [&](const PreparedScene& s, int32_t frame,
                                      const std::atomic<bool>& cancel, FrameImage& image) {
        if (frame == 2 || frame == 3) {
            ++started;
            while (started.load() < 2) {
                std::this_thread::yield();
            }
            throw EffectError("broken " + std::to_string(frame));
        }
        patterned(s, frame, cancel, image);
    };
    std::atomic<bool> cancel{false};
    const TempDir dir;
    RenderJob job = job_for(dir, 2, 3, 2);
    try {
        render_frames(scene, job, failing, cancel, nullptr);
        FAIL() << "no failure reported";
    } catch (const RenderFailure& e) {
        EXPECT_STREQ(e.what(), "frame 2: broken 2");
    }
}

TEST(Render, CancelStopsCleanlyAndFramesInFlightAreDropped) {
    const PreparedScene scene = small_scene(PixelDepth::k8);
    std::atomic<bool> cancel{false};
    std::atomic<int> waiting{0};
    // Frame 5 plays Ctrl-C once three other frames are in flight; they see
    // the flag through their abort poll and give up.
    const FrameRenderer renderer = [&](const PreparedScene& s, int32_t frame,
                                       const std::atomic<bool>& flag, FrameImage& image) {
        if (frame < 5) {
            patterned(s, frame, flag, image);
            return;
        }
        if (frame == 5) {
            while (waiting.load() < 3) {
                std::this_thread::yield();
            }
            cancel.store(true);
            throw RenderCancelled();
        }
        ++waiting;
        while (!flag.load()) {
            std::this_thread::yield();
        }
        throw RenderCancelled();
    };
    const TempDir dir;
    RenderJob job = job_for(dir, 0, 30, 4);
    int32_t last_done = 0;
    const RenderSummary summary = render_frames(scene, job, renderer, cancel,
                                                [&](int32_t done, int32_t) { last_done = done; });
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(summary.rendered, 5);
    EXPECT_EQ(last_done, 5);
    EXPECT_EQ(file_names(dir.path).size(), 5u) << "only whole frames, no temporary files";
}

TEST(Render, ProgressCountsEveryFrame) {
    const PreparedScene scene = small_scene(PixelDepth::k8);
    std::atomic<bool> cancel{false};
    const TempDir dir;
    std::vector<int32_t> seen;
    render_frames(scene, job_for(dir, 0, 9, 3), patterned, cancel,
                  [&](int32_t done, int32_t total) {
                      EXPECT_EQ(total, 10);
                      seen.push_back(done);
                  });
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST(AtomicWrite, ReplacesWholeFilesAndLeavesNoTemporaryFile) {
    const TempDir dir;
    testing_support::write_text(dir / "frame.png", "old contents that are longer");
    const std::vector<uint8_t> bytes = {1, 2, 3};
    write_file_atomically(dir / "frame.png", bytes);
    EXPECT_EQ(read_bytes(dir / "frame.png"), bytes);
    EXPECT_EQ(file_names(dir.path), std::vector<std::string>{"frame.png"});

    EXPECT_THROW(write_file_atomically(dir / "absent" / "frame.png", bytes), RenderFailure);
    EXPECT_EQ(file_names(dir.path), std::vector<std::string>{"frame.png"});
}

} // namespace
} // namespace pointillo
