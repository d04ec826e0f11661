#include "cli/program/options.h"

#include "cli/program/exit_status.h"

#include <CLI/CLI.hpp>

#ifndef POINTILLO_VERSION_TEXT
#define POINTILLO_VERSION_TEXT "unknown"
#endif

namespace pointillo {

std::optional<int> parse_command_line(const std::vector<std::string>& args, CommandLine& line,
                                      std::ostream& out, std::ostream& err) {
    CLI::App app{"Renders scenes with the Pointillo effect.", "pointillo"};
    app.set_version_flag("--version", std::string("pointillo ") + POINTILLO_VERSION_TEXT);
    app.require_subcommand(1);

    RenderOptions& o = line.render;
    CLI::App* render =
        app.add_subcommand("render", "Render a scene (or the built-in demo) to frames");
    render->add_option("scene", o.scene, "Scene file (JSON); without one, the built-in demo");
    CLI::Option* output =
        render
            ->add_option("-o,--output", o.output,
                         "Folder for the frames, or with one frame FILE.png or FILE.exr")
            ->capture_default_str();
    CLI::Option* frames = render->add_option(
        "--frames", o.frames, "Inclusive range A-B of frame numbers or times (0.5s-2s)");
    CLI::Option* frame =
        render->add_option("--frame", o.frame, "A single frame, by number or time (1.5s)");
    frames->excludes(frame);
    render->add_option("--jobs", o.jobs, "Frames rendered at once (default: number of cores)");
    render->add_option("--threads", o.threads,
                       "Threads each frame is drawn on (default: the cores shared among the "
                       "frames rendered at once)");
    render->add_option("--depth", o.depth, "Bits per channel: 8, 16 or 32");
    render->add_option("--downsample", o.downsample, "Render at 1/N resolution, N from 1 to 8");
    render->add_option("--background", o.background,
                       "Composite over '#rrggbb' and write opaque frames");
    CLI::Option* video =
        render->add_option("--video", o.video,
                           "Also encode FILE.mp4, FILE.mov or FILE.webm (both with alpha) "
                           "or FILE.gif with ffmpeg");
    render->add_option("--quality", o.quality, "Video quality: draft, high (default) or max");
    render->add_option("--crf", o.crf,
                       "Video rate factor instead of the level's: 0 (best) to 51 for "
                       ".mp4, 63 for .webm");
    CLI::Option* resume =
        render->add_flag("--resume", o.resume, "Skip frames already written by this same render");
    CLI::Option* force_resume = render->add_flag(
        "--force-resume", o.force_resume,
        "Resume even into a folder whose frames come from another render, keeping them");
    render
        ->add_option("--set", o.sets,
                     "KEY=VALUE: override a scene field or parameter, for example "
                     "'sources[0].text=ALICE' or 'params.Dot Size=9' (repeatable)")
        ->allow_extra_args(false);
    render->add_option("--motion-blur", o.motion_blur,
                       "Motion blur: average N sub-frame renders over the shutter (default off)");
    render->add_option("--shutter-angle", o.shutter_angle,
                       "With --motion-blur: degrees of a frame the shutter is open (default 180)");
    render->add_flag("--check", o.check,
                     "Check the scene and options, print the timing and the warnings, and "
                     "render nothing");
    CLI::Option* export_replay = render->add_option(
        "--export-replay", o.export_replay,
        "Write a replay bundle of the selected frames to DIR instead of rendering them");
    export_replay->excludes(video)->excludes(resume)->excludes(force_resume)->excludes(output);
    render
        ->add_flag("--print-range", o.print_range,
                   "Print the selected frames as A-B and exit (for farm scripts)")
        ->excludes(export_replay)
        ->excludes(video);
    CLI::App* params = app.add_subcommand("params", "List the effect's parameters");
    params->add_flag("--json", line.params_json,
                     "As a JSON array for tools, hidden rows marked \"hidden\": true");
    CLI::App* info = app.add_subcommand("info", "Show the effect module's registration");
    CLI::App* frei0r_values = add_frei0r_values_command(app, line.frei0r_values);

    std::vector<const char*> argv = {"pointillo"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        err << "pointillo: " << e.what() << "\nRun with --help for more information.\n";
        return kExitBadInput;
    }
    line.command = params->parsed()          ? Command::kParams
                   : info->parsed()          ? Command::kInfo
                   : frei0r_values->parsed() ? Command::kFrei0rValues
                                             : Command::kRender;
    return std::nullopt;
}

} // namespace pointillo
