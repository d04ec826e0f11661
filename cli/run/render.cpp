#include "cli/run/render.h"

#include "cli/base/errors.h"
#include "cli/base/files.h"
#include "cli/effect/effect_bridge.h"
#include "cli/frames/frame_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace pointillo {

namespace {

struct Failure {
    int32_t frame = 0;
    std::string message;
};

} // namespace

void set_frame_image(FrameImage& frame, const ArgbImage& image) {
    const ConstPixelView view = view_of(image);
    const auto size = static_cast<size_t>(view.rowbytes) * static_cast<size_t>(view.height);
    frame.bytes.resize(size);
    if (size != 0) {
        std::memcpy(frame.bytes.data(), view.data, size);
    }
    frame.view = view;
    frame.view.data = frame.bytes.data();
}

std::vector<int32_t> frames_to_render(const RenderJob& job, PixelDepth depth) {
    std::vector<int32_t> frames;
    for (int32_t n = job.frames.first; n <= job.frames.last; ++n) {
        // An empty or cut-off file (copied in, or left by a full disk) is
        // rendered again.
        if (job.resume && frame_file_is_whole(job.out_dir / frame_file_name(n, depth), depth)) {
            continue;
        }
        frames.push_back(n);
    }
    return frames;
}

RenderSummary render_frames(const PreparedScene& scene, const RenderJob& job,
                            const FrameRenderer& renderer, std::atomic<bool>& cancel,
                            const ProgressFn& progress) {
    const auto start = std::chrono::steady_clock::now();
    const std::vector<int32_t> frames = frames_to_render(job, scene.setup.depth);
    RenderSummary summary;
    summary.skipped = job.frames.count() - static_cast<int32_t>(frames.size());
    const int32_t total = static_cast<int32_t>(frames.size());

    std::atomic<size_t> next{0};
    std::mutex mutex; // guards the fields below and the progress calls
    std::optional<Failure> failure;
    int32_t done = 0;

    const auto fail = [&](int32_t frame, std::string message) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!failure || frame < failure->frame) {
            failure = Failure{frame, std::move(message)};
        }
        cancel.store(true);
    };
    const auto worker = [&]() {
        // Reused from frame to frame: a worker's frames fault in no fresh pages.
        FrameImage image;
        std::vector<uint8_t> bytes;
        for (;;) {
            if (cancel.load()) {
                return;
            }
            const size_t i = next.fetch_add(1);
            if (i >= frames.size()) {
                return;
            }
            const int32_t frame = frames[i];
            try {
                // A frame that completes is written even when a cancel came
                // meanwhile: it is whole, and a resumed render keeps it.
                renderer(scene, frame, cancel, image);
                encode_frame_file(image.view, job.background, bytes);
                write_file_atomically(
                    job.file ? *job.file : job.out_dir / frame_file_name(frame, scene.setup.depth),
                    bytes);
            } catch (const RenderCancelled&) {
                return;
            } catch (...) {
                fail(frame, failure_text(std::current_exception()));
                return;
            }
            const std::lock_guard<std::mutex> lock(mutex);
            ++done;
            if (progress) {
                progress(done, total);
            }
        }
    };

    // The calling thread is one of the workers. A thread the system refuses
    // to start leaves its frames to the others.
    const size_t thread_count =
        std::min(frames.size(), static_cast<size_t>(std::max(job.jobs, int32_t{1})));
    {
        std::vector<std::jthread> threads;
        threads.reserve(thread_count);
        for (size_t t = 1; t < thread_count; ++t) {
            try {
                threads.emplace_back(worker);
            } catch (const std::system_error&) {
                summary.threads_refused = static_cast<int32_t>(thread_count - t);
                break;
            }
        }
        worker();
    }

    summary.rendered = done;
    summary.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (failure) {
        throw RenderFailure("frame " + std::to_string(failure->frame) + ": " + failure->message);
    }
    summary.cancelled = done < total;
    return summary;
}

} // namespace pointillo
