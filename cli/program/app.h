#pragma once

#include "cli/effect/effect_bridge.h"
#include "cli/program/exit_status.h"
#include "cli/run/motion_blur.h"
#include "cli/run/render.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace pointillo {

// What the command line runs against; main() fills it with the real effect
// (effect_app_context), the terminal and the Ctrl-C flag, tests with their own.
struct AppContext {
    std::ostream* out = nullptr;
    std::ostream* err = nullptr;
    bool err_is_terminal = false;              // draw a progress bar on `err`
    std::function<int32_t()> terminal_columns; // its width now; null or 0: 80
    std::atomic<bool>* cancel = nullptr;       // raised by Ctrl-C; null: a private flag
    FrameRenderer renderer;
    TimeRenderer time_renderer; // sub-frames, for motion blur
    std::function<std::vector<EffectParam>()> parameters;
    std::function<EffectInfo()> info;
    // Called once the scene is checked, before the first frame, with the
    // scene's source pixels moved out of it: the renderer takes them into its
    // own keeping (null: they stay in the scene).
    std::function<void(const SceneSetup&, ScenePixels&&)> hand_over_sources;
    // Called before the first frame with the threads each frame is drawn on
    // (null: the renderer's own choice).
    std::function<void(int32_t)> set_frame_threads;
    std::function<void(const PreparedScene&, std::span<const int32_t>,
                       const std::filesystem::path&)>
        export_replay;
    std::string search_path; // where to look for ffmpeg (the PATH value)
    // Stop `render` after checking the command line and loading the scene.
    bool check_only = false;
};

// A context whose renderer, parameters, info and replay export are the
// session's; `session` must outlive every use of the context.
AppContext effect_app_context(EffectSession& session);

// Runs `pointillo` with `args` (without the program name) and returns its
// exit status: 0 done, 1 render failure, 2 bad command line or scene, 130
// interrupted.
int run_app(const std::vector<std::string>& args, AppContext& context);

// Parses a render command line and loads its scene without rendering; the
// exit status `run_app` would give for bad input (2) or 0. Messages go to
// `err`.
int check_render_command(const std::vector<std::string>& args, std::ostream& err);

} // namespace pointillo
