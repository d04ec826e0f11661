#pragma once

#include "cli/base/image.h"
#include "cli/run/frame_range.h"
#include "cli/scene/prepared_scene.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace pointillo {

// A rendered frame as a worker keeps it: the effect's output, premultiplied,
// at the scene's depth, in `view`, which points into `bytes` (rows may be
// padded). A worker keeps one and renders every frame into it, so that its
// memory is reused rather than allocated and faulted in for every frame.
struct FrameImage {
    std::vector<std::byte> bytes;
    ConstPixelView view;
};

// Makes `frame` hold a copy of `image` (for renderers that make whole images).
void set_frame_image(FrameImage& frame, const ArgbImage& image);

// Renders one frame into `image`. Throws RenderCancelled once `cancel` is
// true, EffectError (or another std::exception) on failure.
using FrameRenderer = std::function<void(const PreparedScene& scene, int32_t frame,
                                         const std::atomic<bool>& cancel, FrameImage& image)>;

// Called after each written frame with the frames done and the frames to do;
// calls never overlap.
using ProgressFn = std::function<void(int32_t done, int32_t total)>;

struct RenderJob {
    FrameRange frames;
    std::filesystem::path out_dir;
    int32_t jobs = 1; // frames rendered at once
    bool resume = false;
    std::optional<Rgb8> background;
    // One frame written to this file instead of into out_dir.
    std::optional<std::filesystem::path> file;
};

struct RenderSummary {
    int32_t rendered = 0;
    int32_t skipped = 0; // already on disk (resume)
    double seconds = 0.0;
    bool cancelled = false;      // stopped by `cancel` before all frames were done
    int32_t threads_refused = 0; // render threads the system would not start
};

// The frames of `job` whose files are still to be written: all of them, or
// with `resume` those without a whole file (frame_file_is_whole).
std::vector<int32_t> frames_to_render(const RenderJob& job, PixelDepth depth);

// Renders the frames of `job` on `job.jobs` threads (the calling one among
// them; fewer when the system refuses to start some) and writes each to
// out_dir/frame_NNNNN.png (or .exr), or to `file`, as it completes; a frame's file depends
// only on the scene and its number, never on the order or the chunking.
// When a frame fails, the frames in flight are cancelled through `cancel` and
// RenderFailure is thrown with the failure of the lowest frame number, after
// all threads have stopped. A `cancel` raised from outside stops the render
// (frames in flight are abandoned, nothing partial is left) and is reported
// in the summary.
RenderSummary render_frames(const PreparedScene& scene, const RenderJob& job,
                            const FrameRenderer& renderer, std::atomic<bool>& cancel,
                            const ProgressFn& progress);

} // namespace pointillo
