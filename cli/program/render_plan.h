#pragma once

#include "cli/effect/effect_bridge.h"
#include "cli/program/options.h"
#include "cli/run/motion_blur.h"
#include "cli/run/render.h"
#include "cli/scene/scene.h"
#include "cli/video/video.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pointillo {

// A render command checked against its scene: what to render, where, and how.
struct RenderPlan {
    std::vector<EffectParam> params;
    Scene scene;
    std::vector<std::string> warnings;
    PreparedScene prepared;
    RenderJob job;
    // Threads each frame is drawn on: with job.jobs frames at once, together
    // no more than the cores unless --threads asks for more.
    int32_t frame_threads = 1;
    MotionBlur blur;
    VideoQuality quality = VideoQuality::High;
    std::optional<int32_t> crf;
    // -o names one image file rather than a folder.
    std::optional<std::filesystem::path> still;
    std::optional<std::filesystem::path> ffmpeg;
};

// Loads the scene (or the demo), applies the options to it and prepares it.
// Every bad option or scene throws InputError naming the option or field;
// `search_path` (a PATH value) is where --video looks for ffmpeg.
RenderPlan plan_render(const RenderOptions& o, std::vector<EffectParam> params,
                       const std::string& search_path);

} // namespace pointillo
