#include "cli/program/app.h"

#include "cli/base/errors.h"
#include "cli/program/effect_reports.h"
#include "cli/program/frei0r_values.h"
#include "cli/program/options.h"
#include "cli/program/render_command.h"

#include <cstdlib>
#include <exception>
#include <sstream>

namespace pointillo {

namespace {

// A failure that ends the program: bad input is 2, anything else 1.
int exit_status_of(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const InputError&) {
        return kExitBadInput;
    } catch (...) {
        return kExitRenderFailure;
    }
}

} // namespace

int run_app(const std::vector<std::string>& args, AppContext& context) {
    CommandLine line;
    if (const std::optional<int> status =
            parse_command_line(args, line, *context.out, *context.err)) {
        return *status;
    }
    try {
        switch (line.command) {
        case Command::kParams:
            if (line.params_json) {
                print_params_json(*context.out, context.parameters());
            } else {
                print_params(*context.out, context.parameters());
            }
            return kExitOk;
        case Command::kInfo:
            print_info(*context.out, context.info());
            return kExitOk;
        case Command::kFrei0rValues:
            print_frei0r_values(*context.out, line.frei0r_values);
            return kExitOk;
        case Command::kRender:
            return run_render(line.render, context);
        }
        return kExitOk;
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        *context.err << "pointillo: " << failure_text(failure) << "\n";
        return exit_status_of(failure);
    }
}

AppContext effect_app_context(EffectSession& session) {
    AppContext context;
    context.renderer = [&session](const PreparedScene& scene, int32_t frame,
                                  const std::atomic<bool>& cancel, FrameImage& image) {
        session.render_frame(scene, frame, cancel, image);
    };
    context.time_renderer = [&session](const PreparedScene& scene, int32_t current_time,
                                       const std::atomic<bool>& cancel) {
        return session.render_at_time(scene, current_time, cancel);
    };
    context.hand_over_sources = [&session](const SceneSetup& setup, ScenePixels&& pixels) {
        session.hand_over_sources(setup, std::move(pixels));
    };
    context.set_frame_threads = [&session](int32_t threads) { session.set_frame_threads(threads); };
    context.parameters = [&session] { return session.parameters(); };
    context.info = [&session] { return session.info(); };
    context.export_replay = [&session](const PreparedScene& scene, std::span<const int32_t> frames,
                                       const std::filesystem::path& dir) {
        session.export_replay(scene, frames, dir);
    };
    return context;
}

int check_render_command(const std::vector<std::string>& args, std::ostream& err) {
    std::ostringstream out;
    EffectSession session;
    AppContext context = effect_app_context(session);
    context.out = &out;
    context.err = &err;
    context.check_only = true;
    if (const char* path = std::getenv("PATH")) {
        context.search_path = path;
    }
    return run_app(args, context);
}

} // namespace pointillo
