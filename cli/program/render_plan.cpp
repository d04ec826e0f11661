#include "cli/program/render_plan.h"

#include "cli/base/errors.h"
#include "cli/base/number_text.h"
#include "cli/scene/scene_reader.h"

#include <algorithm>
#include <cctype>
#include <system_error>
#include <thread>
#include <utility>

namespace pointillo {

namespace {

constexpr int32_t kMaxJobs = 1024;
constexpr int32_t kMaxThreads = 1024;

std::string extension_of(const std::string& name) {
    std::string extension = std::filesystem::path(name).extension().string();
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension;
}

// `-o still.png` (or .exr) asks for one file, unless a folder of that name is
// there already.
bool is_still_name(const std::string& output) {
    const std::string extension = extension_of(output);
    std::error_code ec;
    return (extension == ".png" || extension == ".exr") &&
           !std::filesystem::is_directory(output, ec);
}

} // namespace

RenderPlan plan_render(const RenderOptions& o, std::vector<EffectParam> params_given,
                       const std::string& search_path) {
    RenderPlan plan;
    plan.params = std::move(params_given);
    const std::vector<EffectParam>& params = plan.params;
    Scene& scene = plan.scene;
    scene = o.scene.empty() ? demo_scene(params, o.sets) : load_scene_file(o.scene, params, o.sets);

    if (const std::optional<int32_t> depth = o.depth) {
        if (*depth != 8 && *depth != 16 && *depth != 32) {
            throw InputError("--depth " + std::to_string(*depth) + ": must be 8, 16 or 32");
        }
        scene.depth = *depth == 8    ? PixelDepth::k8
                      : *depth == 16 ? PixelDepth::k16
                                     : PixelDepth::k32;
    }
    if (const std::optional<int32_t> downsample = o.downsample) {
        if (*downsample < 1 || *downsample > 8) {
            throw InputError("--downsample " + std::to_string(*downsample) +
                             ": must be a whole number from 1 to 8");
        }
        scene.downsample = *downsample;
    }
    if (const std::optional<std::string>& background = o.background) {
        if (*background == "none") {
            scene.background.reset();
        } else if (const auto color = parse_hex_color(*background)) {
            scene.background = color;
        } else {
            throw InputError("--background " + *background +
                             ": must be a colour '#rrggbb' or 'none'");
        }
    }

    RenderJob& job = plan.job;
    job.frames = FrameRange{0, scene.comp.frame_count - 1};
    const FrameTimes times{scene.comp.frame_count, scene.comp.time_scale};
    if (o.frames) {
        job.frames = parse_frame_range(*o.frames, times, "--frames");
    } else if (o.frame) {
        const int32_t frame = parse_frame(*o.frame, times, "--frame");
        job.frames = FrameRange{frame, frame};
    }
    if (o.jobs && (*o.jobs < 1 || *o.jobs > kMaxJobs)) {
        throw InputError("--jobs " + std::to_string(*o.jobs) + ": must be from 1 to " +
                         std::to_string(kMaxJobs));
    }
    const int32_t cores = std::max(1, static_cast<int32_t>(std::thread::hardware_concurrency()));
    job.jobs = o.jobs.value_or(cores);
    if (o.threads && (*o.threads < 1 || *o.threads > kMaxThreads)) {
        throw InputError("--threads " + std::to_string(*o.threads) + ": must be from 1 to " +
                         std::to_string(kMaxThreads));
    }
    // A still or a short range keeps fewer frames in flight than --jobs, and
    // their frames take the cores the idle jobs leave.
    const int32_t at_once = std::max(1, std::min(job.jobs, job.frames.count()));
    plan.frame_threads = o.threads.value_or(std::max(1, cores / at_once));
    job.out_dir = o.output;
    job.resume = o.resume || o.force_resume;
    job.background = scene.background;
    if (o.output.empty()) {
        throw InputError("-o: names no folder");
    }
    if (is_still_name(o.output)) {
        plan.still = std::filesystem::path(o.output);
        const std::string where = "-o " + o.output + ": ";
        if (job.frames.count() != 1) {
            throw InputError(where + "names one image, but " + std::to_string(job.frames.count()) +
                             " frames are selected; choose one with --frame N (or --frame 1.5s), "
                             "or name a folder");
        }
        const bool exr = extension_of(o.output) == ".exr";
        if (exr != (scene.depth == PixelDepth::k32)) {
            throw InputError(where + (exr ? "OpenEXR holds depth 32 frames; add --depth 32 or "
                                            "name a .png"
                                          : "depth 32 frames are OpenEXR; name an .exr or use "
                                            "--depth 8 or 16"));
        }
        if (o.video || o.resume || o.force_resume) {
            throw InputError(where + "names one image; --video and --resume need a folder of "
                                     "frames");
        }
    }
    if (o.motion_blur) {
        if (*o.motion_blur < 1 || *o.motion_blur > kMaxMotionBlurSamples) {
            throw InputError("--motion-blur " + std::to_string(*o.motion_blur) +
                             ": must be a number of sub-frame samples from 1 to " +
                             std::to_string(kMaxMotionBlurSamples) + " (8 to 16 look smooth)");
        }
        if (o.export_replay) {
            throw InputError("--motion-blur: a replay bundle holds whole frames; leave out "
                             "--motion-blur or --export-replay");
        }
        plan.blur.samples = *o.motion_blur;
    }
    if (const std::optional<double> shutter_angle = o.shutter_angle) {
        if (!o.motion_blur) {
            throw InputError("--shutter-angle: only with --motion-blur N");
        }
        if (!(*shutter_angle > 0.0 && *shutter_angle <= kMaxShutterAngle)) {
            throw InputError("--shutter-angle " + format_float(*shutter_angle) +
                             ": must be more than 0 and at most 720 degrees");
        }
        plan.blur.shutter_angle = *shutter_angle;
    }
    if (o.export_replay && o.export_replay->empty()) {
        throw InputError("--export-replay: names no folder");
    }
    if ((o.quality || o.crf) && !o.video) {
        throw InputError(std::string(o.quality ? "--quality" : "--crf") +
                         ": only with --video FILE");
    }
    if (const std::optional<std::string>& video_file = o.video) {
        const std::string& video = *video_file;
        const std::optional<VideoFormat> format = video_format_of(video);
        if (!format) {
            throw InputError("--video " + video +
                             ": the file must end in .mp4, .mov (ProRes 4444 with alpha), "
                             ".webm (VP9 with alpha) or .gif");
        }
        const std::optional<int32_t> max_crf = video_max_crf(*format);
        if ((o.quality || o.crf) && !max_crf) {
            throw InputError(std::string(o.quality ? "--quality" : "--crf") + ": " +
                             std::filesystem::path(video).extension().string() +
                             " has one quality; --quality and --crf are for .mp4 and .webm");
        }
        if (o.quality) {
            const std::optional<VideoQuality> quality = video_quality_of(*o.quality);
            if (!quality) {
                throw InputError("--quality " + *o.quality + ": must be draft, high or max");
            }
            plan.quality = *quality;
        }
        if (const std::optional<int32_t> crf = o.crf) {
            if (*crf < 0 || *crf > *max_crf) {
                throw InputError("--crf " + std::to_string(*crf) + ": must be from 0 (best) to " +
                                 std::to_string(*max_crf) + " for " +
                                 std::filesystem::path(video).extension().string());
            }
            plan.crf = crf;
        }
        plan.ffmpeg = find_program("ffmpeg", search_path);
        if (!plan.ffmpeg) {
            throw InputError("--video " + video +
                             ": needs ffmpeg, which is not installed (not found on PATH); "
                             "install it (apt-get install ffmpeg) or leave out --video");
        }
    }
    plan.prepared = prepare_scene(scene, &plan.warnings);
    return plan;
}

} // namespace pointillo
