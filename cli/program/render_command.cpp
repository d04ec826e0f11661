#include "cli/program/render_command.h"

#include "cli/base/errors.h"
#include "cli/base/files.h"
#include "cli/base/number_text.h"
#include "cli/frames/render_record.h"
#include "cli/program/effect_reports.h"
#include "cli/program/frames_folder.h"
#include "cli/program/render_plan.h"
#include "cli/run/frame_range.h"
#include "cli/run/motion_blur.h"
#include "cli/run/progress.h"
#include "cli/run/timing.h"
#include "cli/video/video.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <system_error>

namespace pointillo {

namespace {

std::string format_seconds(double seconds) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(seconds < 10 ? 2 : 1) << seconds;
    return text.str();
}

std::string module_version_text(const AppContext& context) {
    return version_text(context.info().version);
}

FrameRenderer frame_renderer(const RenderPlan& plan, const AppContext& context) {
    return plan.blur.samples > 0 ? motion_blur_renderer(context.time_renderer, plan.blur)
                                 : context.renderer;
}

// The warnings, and the timing unless a replay bundle is all that is asked;
// returns the number of warnings.
size_t report_scene(const RenderPlan& plan, const RenderOptions& o, const AppContext& context) {
    const std::vector<TimingSegment> segments = timing_segments(plan.prepared.setup, plan.params);
    std::vector<std::string> warnings = plan.warnings;
    for (std::string& w :
         unreached_source_warnings(plan.prepared.setup, plan.params, segments, plan.scene.file)) {
        warnings.push_back(std::move(w));
    }
    for (const std::string& warning : warnings) {
        *context.err << "pointillo: warning: " << warning << "\n";
    }
    *context.err << std::flush;
    if (!o.export_replay) {
        *context.out << "pointillo: timing: " << timing_summary(plan.prepared.setup, segments)
                     << "\n"
                     << std::flush;
    }
    return warnings.size();
}

// --check: what a render would take and find, and nothing rendered.
void report_check(const RenderPlan& plan, const RenderOptions& o, size_t warnings,
                  const AppContext& context) {
    std::error_code ec;
    if (!plan.still && plan.job.resume && std::filesystem::is_directory(plan.job.out_dir, ec)) {
        settle_frames_folder(plan, o.force_resume, module_version_text(context), *context.err,
                             true);
    }
    const Comp& comp = plan.scene.comp;
    const size_t sources = static_cast<size_t>(
        std::count_if(plan.prepared.setup.sources.begin(), plan.prepared.setup.sources.end(),
                      [](const auto& slot) { return slot.has_value(); }));
    *context.out << "pointillo: " << plan.scene.file << ": ready: " << comp.width << " x "
                 << comp.height << ", " << format_float(comp.fps) << " fps, " << comp.frame_count
                 << (comp.frame_count == 1 ? " frame" : " frames") << " ("
                 << format_seconds_short(static_cast<double>(comp.frame_count) * 1000.0 /
                                         static_cast<double>(comp.time_scale))
                 << " s), " << sources << (sources == 1 ? " source" : " sources") << ", "
                 << warnings << (warnings == 1 ? " warning" : " warnings") << "; nothing rendered\n"
                 << std::flush;
}

// One frame to the file -o names.
int render_still(const RenderPlan& plan, std::atomic<bool>& cancel, const AppContext& context) {
    const std::filesystem::path& file = *plan.still;
    const std::filesystem::path folder = file.parent_path();
    make_writable_folder(folder, "-o " + file.string(), true, "cannot write there");
    RenderJob job = plan.job;
    job.file = file;
    const RenderSummary summary =
        render_frames(plan.prepared, job, frame_renderer(plan, context), cancel, {});
    if (summary.cancelled) {
        *context.err << "pointillo: interrupted; " << file.string() << " was not written\n";
        return kExitInterrupted;
    }
    *context.out << "pointillo: frame " << job.frames.first << " in "
                 << format_seconds(summary.seconds) << " s to " << file.string() << "\n"
                 << std::flush;
    return kExitOk;
}

int export_replay_bundle(const RenderPlan& plan, const std::string& dir,
                         const AppContext& context) {
    std::vector<int32_t> frames;
    for (int32_t n = plan.job.frames.first; n <= plan.job.frames.last; ++n) {
        frames.push_back(n);
    }
    try {
        context.export_replay(plan.prepared, frames, dir);
    } catch (...) {
        throw RenderFailure("--export-replay " + dir + ": " +
                            failure_text(std::current_exception()));
    }
    *context.out << "pointillo: replay bundle of " << frames.size()
                 << (frames.size() == 1 ? " frame" : " frames") << " written to " << dir << "\n"
                 << std::flush;
    return kExitOk;
}

// The video's folder is made if needed and must take new files, and the
// name must not be a folder: found before the first frame, not after the
// last.
void check_video_file(const std::filesystem::path& file) {
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) {
        throw InputError("--video " + file.string() + ": is a folder");
    }
    const std::filesystem::path folder = file.parent_path();
    make_writable_folder(folder, "--video " + file.string(), true,
                         "cannot write to " + (folder.empty() ? std::string("the current folder")
                                                              : folder.string()));
}

void report_frames(const RenderSummary& summary, const RenderJob& job, std::ostream& out) {
    const double rate = summary.seconds > 0 ? summary.rendered / summary.seconds : 0.0;
    if (summary.rendered == 0 && summary.skipped > 0) {
        out << "pointillo: nothing to render: "
            << (summary.skipped == 1 ? "the frame"
                                     : "all " + std::to_string(summary.skipped) + " frames")
            << " of " << frame_list_text({job.frames}) << " already in " << job.out_dir.string();
    } else {
        out << "pointillo: " << summary.rendered << (summary.rendered == 1 ? " frame" : " frames")
            << " in " << format_seconds(summary.seconds) << " s (" << std::fixed
            << std::setprecision(1) << rate << " frames/s) to " << job.out_dir.string();
        if (summary.skipped > 0) {
            out << "; " << summary.skipped << " already there";
        }
    }
    out << "\n" << std::flush;
}

int encode_frames(const RenderPlan& plan, const std::string& file, std::atomic<bool>& cancel,
                  const AppContext& context) {
    VideoJob video;
    video.file = file;
    video.frames_dir = plan.job.out_dir;
    video.frames = plan.job.frames;
    video.depth = plan.prepared.setup.depth;
    video.time_scale = plan.prepared.setup.time_scale;
    video.quality = plan.quality;
    video.crf = plan.crf;
    const ProgressBar bar{context.err, context.terminal_columns};
    if (context.err_is_terminal) {
        video.progress = [&bar](int32_t done, int32_t total) { bar.draw(done, total, "encoded"); };
        bar.draw(0, video.frames.count(), "encoded");
    }
    run_clearing(bar, context.err_is_terminal, [&] { encode_video(*plan.ffmpeg, video, cancel); });
    if (cancel.load()) {
        *context.err << "pointillo: interrupted while writing " << file << "\n";
        return kExitInterrupted;
    }
    *context.out << "pointillo: wrote " << file << "\n";
    return kExitOk;
}

// The frames into their folder, then the video when one is asked for.
int render_folder(RenderPlan& plan, const RenderOptions& o, std::atomic<bool>& cancel,
                  AppContext& context) {
    const RenderJob& job = plan.job;
    make_writable_folder(job.out_dir, "-o " + job.out_dir.string(), false,
                         "cannot write frames there");
    if (plan.ffmpeg) {
        check_video_file(*o.video);
    }
    settle_frames_folder(plan, o.force_resume, module_version_text(context), *context.err, false);
    // Before the progress bar: a set-up failure then reads on a line of its own.
    if (context.hand_over_sources) {
        context.hand_over_sources(plan.prepared.setup, std::move(plan.prepared.pixels));
    }

    const bool nothing_to_do =
        job.resume && frames_to_render(job, plan.prepared.setup.depth).empty();
    const ProgressBar bar{context.err, context.terminal_columns};
    ProgressFn progress;
    if (context.err_is_terminal && !nothing_to_do) {
        progress = [&bar](int32_t done, int32_t total) { bar.draw(done, total, "frames"); };
        bar.draw(0, static_cast<int32_t>(frames_to_render(job, plan.prepared.setup.depth).size()),
                 "frames");
    }
    RenderSummary summary;
    run_clearing(bar, context.err_is_terminal, [&] {
        summary =
            render_frames(plan.prepared, job, frame_renderer(plan, context), cancel, progress);
    });
    if (summary.threads_refused > 0) {
        *context.err << "pointillo: note: the system would not start " << summary.threads_refused
                     << (summary.threads_refused == 1 ? " render thread" : " render threads")
                     << "; the frames were rendered on the others\n";
    }
    if (summary.cancelled) {
        *context.err << "pointillo: interrupted after " << summary.rendered << " of "
                     << job.frames.count() - summary.skipped
                     << " frames; run the same command with --resume to finish\n";
        return kExitInterrupted;
    }
    report_frames(summary, job, *context.out);
    return plan.ffmpeg ? encode_frames(plan, *o.video, cancel, context) : kExitOk;
}

} // namespace

int run_render(const RenderOptions& o, AppContext& context) {
    RenderPlan plan = plan_render(o, context.parameters(), context.search_path);
    if (context.check_only) {
        return kExitOk;
    }
    if (o.print_range) {
        *context.out << plan.job.frames.first << "-" << plan.job.frames.last << "\n" << std::flush;
        return kExitOk;
    }
    const size_t warnings = report_scene(plan, o, context);
    if (o.check) {
        report_check(plan, o, warnings, context);
        return kExitOk;
    }
    if (context.set_frame_threads) {
        context.set_frame_threads(plan.frame_threads);
    }
    std::atomic<bool> own_cancel{false};
    std::atomic<bool>& cancel = context.cancel != nullptr ? *context.cancel : own_cancel;
    if (plan.still) {
        if (context.hand_over_sources) {
            context.hand_over_sources(plan.prepared.setup, std::move(plan.prepared.pixels));
        }
        return render_still(plan, cancel, context);
    }
    if (o.export_replay) {
        return export_replay_bundle(plan, *o.export_replay, context);
    }
    return render_folder(plan, o, cancel, context);
}

} // namespace pointillo
