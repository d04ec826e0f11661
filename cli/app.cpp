#include "cli/app.h"

#include "cli/errors.h"
#include "cli/frame_file.h"
#include "cli/scene.h"
#include "cli/video.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <iomanip>
#include <sstream>
#include <thread>

#ifndef POINTILLO_VERSION_TEXT
#define POINTILLO_VERSION_TEXT "unknown"
#endif

namespace pointillo {

namespace {

constexpr int32_t kMaxJobs = 1024;

struct RenderOptions {
    std::string scene;
    std::string output = "out";
    std::string frames;
    std::string frame;
    int32_t jobs = 0;
    int32_t depth = 0;
    int32_t downsample = 0;
    std::string background;
    std::string video;
    std::string export_replay;
    bool resume = false;
    bool print_range = false;
};

struct Given {
    bool frames = false;
    bool frame = false;
    bool jobs = false;
    bool depth = false;
    bool downsample = false;
    bool background = false;
    bool video = false;
    bool export_replay = false;
};

std::string format_float(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, static_cast<float>(value));
    return std::string(text, result.ptr);
}

const char* kind_name(ParamKind kind) {
    switch (kind) {
    case ParamKind::Slider:
        return "slider";
    case ParamKind::Popup:
        return "popup";
    case ParamKind::Checkbox:
        return "checkbox";
    case ParamKind::Color:
        return "color";
    case ParamKind::Layer:
        return "layer";
    case ParamKind::Button:
        return "button";
    case ParamKind::Group:
        return "group";
    case ParamKind::GroupEnd:
        return "group end";
    }
    return "?";
}

std::string default_text(const EffectParam& p) {
    switch (p.kind) {
    case ParamKind::Slider:
        return format_float(p.default_value);
    case ParamKind::Popup: {
        const auto item = static_cast<size_t>(p.default_value);
        const std::string name =
            item >= 1 && item <= p.choices.size() ? " (" + p.choices[item - 1] + ")" : "";
        return std::to_string(item) + name;
    }
    case ParamKind::Checkbox:
        return p.default_value != 0.0 ? "true" : "false";
    case ParamKind::Color:
        return format_hex_color(p.default_color);
    case ParamKind::Layer:
        return "none";
    case ParamKind::Button:
        return p.choices.empty() ? "" : "label \"" + p.choices[0] + "\"";
    default:
        return "";
    }
}

void print_params(std::ostream& out, const std::vector<EffectParam>& params) {
    constexpr uint32_t kInvisible = 0x200;
    out << std::left << std::setw(6) << "Index" << std::setw(5) << "Id" << std::setw(31) << "Name"
        << std::setw(10) << "Type" << std::setw(18) << "Valid range" << std::setw(18)
        << "Slider range"
        << "Default\n";
    for (const EffectParam& p : params) {
        std::string valid;
        std::string slider;
        if (p.kind == ParamKind::Slider) {
            valid = format_float(p.valid_min) + " to " + format_float(p.valid_max);
            slider = format_float(p.slider_min) + " to " + format_float(p.slider_max);
        } else if (p.kind == ParamKind::Popup) {
            valid = "1 to " + std::to_string(p.choices.size());
        }
        const std::string name = p.kind == ParamKind::GroupEnd ? "(end of group)" : p.name;
        std::ostringstream row;
        row << std::left << std::setw(6) << p.index << std::setw(5) << p.id << std::setw(31) << name
            << std::setw(10) << kind_name(p.kind) << std::setw(18) << valid << std::setw(18)
            << slider << default_text(p);
        if ((p.ui_flags & kInvisible) != 0) {
            row << "  (hidden; set by the renderer)";
        }
        std::string line = row.str();
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << "\n";
        if (p.kind == ParamKind::Popup) {
            out << std::string(11, ' ') << "choices:";
            for (size_t i = 0; i < p.choices.size(); ++i) {
                out << " " << i + 1 << " " << p.choices[i] << (i + 1 < p.choices.size() ? "," : "");
            }
            out << "\n";
        }
    }
}

std::string hex_word(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string flag_names(uint32_t flags, const std::vector<std::pair<int, const char*>>& known) {
    std::string text;
    for (int bit = 0; bit < 32; ++bit) {
        if ((flags >> bit & 1u) == 0) {
            continue;
        }
        std::string name = "bit " + std::to_string(bit);
        for (const auto& [b, n] : known) {
            if (b == bit) {
                name = n;
            }
        }
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

void print_info(std::ostream& out, const EffectInfo& info) {
    const std::vector<std::pair<int, const char*>> flags = {
        {1, "WIDE_TIME_INPUT"}, {2, "NON_PARAM_VARY"},    {8, "DISPLAY_ERROR_MESSAGE"},
        {22, "FORCE_RERENDER"}, {25, "DEEP_COLOR_AWARE"}, {26, "SEND_UPDATE_PARAMS_UI"}};
    const std::vector<std::pair<int, const char*>> flags2 = {
        {3, "PARAM_GROUP_START_COLLAPSED_FLAG"},
        {7, "REVEALS_ZERO_ALPHA"},
        {10, "SUPPORTS_SMART_RENDER"},
        {12, "FLOAT_COLOR_AWARE"},
        {27, "SUPPORTS_THREADED_RENDERING"}};
    out << "Name          " << info.name << "\n"
        << "Match name    " << info.match_name << "\n"
        << "Category      " << info.category << "\n"
        << "Entry point   " << info.entry_point << "\n"
        << "API version   " << info.api_major << "." << info.api_minor << "\n"
        << "Version       " << describe_version(info.version) << " (" << hex_word(info.version)
        << ")\n"
        << "Out flags     " << hex_word(info.out_flags) << "  " << flag_names(info.out_flags, flags)
        << "\n"
        << "Out flags 2   " << hex_word(info.out_flags2) << "  "
        << flag_names(info.out_flags2, flags2) << "\n";
    if (!info.support_url.empty()) {
        out << "Support       " << info.support_url << "\n";
    }
}

// Redraws one status line on a terminal.
struct ProgressBar {
    std::ostream* err = nullptr;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    void draw(int32_t done, int32_t total) const {
        constexpr int kWidth = 30;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double rate = seconds > 0 ? done / seconds : 0.0;
        const int filled = total > 0 ? static_cast<int>(int64_t{kWidth} * done / total) : kWidth;
        std::ostringstream line;
        line << "\r[" << std::string(static_cast<size_t>(filled), '#')
             << std::string(static_cast<size_t>(kWidth - filled), '.') << "] " << done << "/"
             << total << " frames  " << std::fixed << std::setprecision(1) << rate << " frames/s";
        if (rate > 0 && done < total) {
            line << "  " << static_cast<int64_t>((total - done) / rate + 0.5) << " s left";
        }
        line << "\x1b[K";
        *err << line.str() << std::flush;
    }
    void clear() const { *err << "\r\x1b[K" << std::flush; }
};

std::string format_seconds(double seconds) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(seconds < 10 ? 2 : 1) << seconds;
    return text.str();
}

struct Loaded {
    Scene scene;
    PreparedScene prepared;
    RenderJob job;
    std::optional<std::filesystem::path> ffmpeg;
};

Loaded load_render(const RenderOptions& o, const Given& given, const AppContext& context) {
    const std::vector<EffectParam> params = context.parameters();
    Loaded loaded;
    Scene& scene = loaded.scene;
    scene = o.scene.empty() ? demo_scene(params) : load_scene_file(o.scene, params);

    if (given.depth) {
        if (o.depth != 8 && o.depth != 16 && o.depth != 32) {
            throw InputError("--depth " + std::to_string(o.depth) + ": must be 8, 16 or 32");
        }
        scene.depth = o.depth == 8    ? PixelDepth::k8
                      : o.depth == 16 ? PixelDepth::k16
                                      : PixelDepth::k32;
    }
    if (given.downsample) {
        if (o.downsample < 1 || o.downsample > 8) {
            throw InputError("--downsample " + std::to_string(o.downsample) +
                             ": must be a whole number from 1 to 8");
        }
        scene.downsample = o.downsample;
    }
    if (given.background) {
        if (o.background == "none") {
            scene.background.reset();
        } else if (const auto color = parse_hex_color(o.background)) {
            scene.background = color;
        } else {
            throw InputError("--background " + o.background +
                             ": must be a colour '#rrggbb' or 'none'");
        }
    }

    RenderJob& job = loaded.job;
    job.frames = FrameRange{0, scene.comp.frame_count - 1};
    if (given.frames) {
        job.frames = parse_frame_range(o.frames, scene.comp.frame_count, "--frames");
    } else if (given.frame) {
        if (o.frame.find('-') != std::string::npos) {
            throw InputError("--frame " + o.frame + ": takes one frame number; use --frames A-B");
        }
        job.frames = parse_frame_range(o.frame, scene.comp.frame_count, "--frame");
    }
    if (given.jobs && (o.jobs < 1 || o.jobs > kMaxJobs)) {
        throw InputError("--jobs " + std::to_string(o.jobs) + ": must be from 1 to " +
                         std::to_string(kMaxJobs));
    }
    job.jobs = given.jobs ? o.jobs
                          : std::max(1, static_cast<int32_t>(std::thread::hardware_concurrency()));
    job.out_dir = o.output;
    job.resume = o.resume;
    job.background = scene.background;
    if (o.output.empty()) {
        throw InputError("-o: names no folder");
    }
    if (given.export_replay && o.export_replay.empty()) {
        throw InputError("--export-replay: names no folder");
    }
    if (given.video) {
        if (!video_format_of(o.video)) {
            throw InputError("--video " + o.video + ": the file must end in .mp4 or .gif");
        }
        loaded.ffmpeg = find_program("ffmpeg", context.search_path);
        if (!loaded.ffmpeg) {
            throw InputError("--video " + o.video +
                             ": needs ffmpeg, which is not installed (not found on PATH); "
                             "install it (apt-get install ffmpeg) or leave out --video");
        }
    }
    loaded.prepared = prepare_scene(scene);
    return loaded;
}

int render(const RenderOptions& o, const Given& given, AppContext& context) {
    std::ostream& out = *context.out;
    std::ostream& err = *context.err;
    const Loaded loaded = load_render(o, given, context);
    if (context.check_only) {
        return kExitOk;
    }
    if (o.print_range) {
        out << loaded.job.frames.first << "-" << loaded.job.frames.last << "\n" << std::flush;
        return kExitOk;
    }
    if (given.export_replay) {
        std::vector<int32_t> frames;
        for (int32_t n = loaded.job.frames.first; n <= loaded.job.frames.last; ++n) {
            frames.push_back(n);
        }
        try {
            context.export_replay(loaded.prepared, frames, o.export_replay);
        } catch (const std::exception& e) {
            throw RenderFailure("--export-replay " + o.export_replay + ": " + e.what());
        }
        out << "pointillo: replay bundle of " << frames.size()
            << (frames.size() == 1 ? " frame" : " frames") << " written to " << o.export_replay
            << "\n"
            << std::flush;
        return kExitOk;
    }
    std::error_code ec;
    std::filesystem::create_directories(loaded.job.out_dir, ec);
    if (ec) {
        throw InputError("-o " + loaded.job.out_dir.string() +
                         ": cannot create the folder: " + ec.message());
    }

    std::atomic<bool> own_cancel{false};
    std::atomic<bool>& cancel = context.cancel != nullptr ? *context.cancel : own_cancel;
    const ProgressBar bar{&err};
    ProgressFn progress;
    if (context.err_is_terminal) {
        progress = [&bar](int32_t done, int32_t total) { bar.draw(done, total); };
        bar.draw(0,
                 static_cast<int32_t>(frames_to_render(loaded.job, loaded.prepared.depth).size()));
    }
    RenderSummary summary;
    try {
        summary = render_frames(loaded.prepared, loaded.job, context.renderer, cancel, progress);
    } catch (...) {
        if (context.err_is_terminal) {
            bar.clear();
        }
        throw;
    }
    if (context.err_is_terminal) {
        bar.clear();
    }
    if (summary.cancelled) {
        err << "pointillo: interrupted after " << summary.rendered << " of "
            << loaded.job.frames.count() - summary.skipped
            << " frames; run the same command with --resume to finish\n";
        return kExitInterrupted;
    }
    const double rate = summary.seconds > 0 ? summary.rendered / summary.seconds : 0.0;
    out << "pointillo: " << summary.rendered << (summary.rendered == 1 ? " frame" : " frames")
        << " in " << format_seconds(summary.seconds) << " s (" << std::fixed << std::setprecision(1)
        << rate << " frames/s) to " << loaded.job.out_dir.string();
    if (summary.skipped > 0) {
        out << "; " << summary.skipped << " already there";
    }
    out << "\n" << std::flush;

    if (loaded.ffmpeg) {
        VideoJob video;
        video.file = o.video;
        video.frames_dir = loaded.job.out_dir;
        video.frames = loaded.job.frames;
        video.depth = loaded.prepared.depth;
        video.time_scale = loaded.prepared.time_scale;
        encode_video(*loaded.ffmpeg, video, cancel);
        if (cancel.load()) {
            err << "pointillo: interrupted while writing " << o.video << "\n";
            return kExitInterrupted;
        }
        out << "pointillo: wrote " << o.video << "\n";
    }
    return kExitOk;
}

struct Cli {
    CLI::App app{"Renders scenes with the Pointillo effect.", "pointillo"};
    CLI::App* render = nullptr;
    CLI::App* params = nullptr;
    CLI::App* info = nullptr;
    RenderOptions options;
    CLI::Option* frames = nullptr;
    CLI::Option* frame = nullptr;
    CLI::Option* jobs = nullptr;
    CLI::Option* depth = nullptr;
    CLI::Option* downsample = nullptr;
    CLI::Option* background = nullptr;
    CLI::Option* video = nullptr;
    CLI::Option* export_replay = nullptr;

    Cli() {
        app.set_version_flag("--version", std::string("pointillo ") + POINTILLO_VERSION_TEXT);
        app.require_subcommand(1);
        render = app.add_subcommand("render", "Render a scene (or the built-in demo) to frames");
        render->add_option("scene", options.scene,
                           "Scene file (JSON); without one, the built-in demo");
        CLI::Option* output =
            render->add_option("-o,--output", options.output, "Folder for the frames")
                ->capture_default_str();
        frames =
            render->add_option("--frames", options.frames, "Inclusive range of frame numbers A-B");
        frame = render->add_option("--frame", options.frame, "A single frame number");
        frames->excludes(frame);
        jobs = render->add_option("--jobs", options.jobs,
                                  "Frames rendered at once (default: number of cores)");
        depth = render->add_option("--depth", options.depth, "Bits per channel: 8, 16 or 32");
        downsample = render->add_option("--downsample", options.downsample,
                                        "Render at 1/N resolution, N from 1 to 8");
        background = render->add_option("--background", options.background,
                                        "Composite over '#rrggbb' and write opaque frames");
        video = render->add_option("--video", options.video,
                                   "Also encode FILE.mp4 or FILE.gif with ffmpeg");
        CLI::Option* resume =
            render->add_flag("--resume", options.resume, "Skip frames whose files already exist");
        export_replay = render->add_option(
            "--export-replay", options.export_replay,
            "Write a replay bundle of the selected frames to DIR instead of rendering them");
        export_replay->excludes(video)->excludes(resume)->excludes(output);
        render
            ->add_flag("--print-range", options.print_range,
                       "Print the selected frames as A-B and exit (for farm scripts)")
            ->excludes(export_replay)
            ->excludes(video);
        params = app.add_subcommand("params", "List the effect's parameters");
        info = app.add_subcommand("info", "Show the effect module's registration");
    }

    Given given() const {
        Given g;
        g.frames = frames->count() > 0;
        g.frame = frame->count() > 0;
        g.jobs = jobs->count() > 0;
        g.depth = depth->count() > 0;
        g.downsample = downsample->count() > 0;
        g.background = background->count() > 0;
        g.video = video->count() > 0;
        g.export_replay = export_replay->count() > 0;
        return g;
    }
};

// Parses; returns an exit status when the command line is done with (help,
// version, a usage error), or -1 to go on.
int parse(Cli& cli, const std::vector<std::string>& args, AppContext& context) {
    std::vector<const char*> argv = {"pointillo"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    try {
        cli.app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp& e) {
        return cli.app.exit(e, *context.out, *context.err);
    } catch (const CLI::CallForAllHelp& e) {
        return cli.app.exit(e, *context.out, *context.err);
    } catch (const CLI::CallForVersion& e) {
        return cli.app.exit(e, *context.out, *context.err);
    } catch (const CLI::ParseError& e) {
        *context.err << "pointillo: " << e.what() << "\nRun with --help for more information.\n";
        return kExitBadInput;
    }
    return -1;
}

} // namespace

std::string describe_version(uint32_t version) {
    const uint32_t major = ((version >> 19) & 0x7) | (((version >> 26) & 0xF) << 3);
    const uint32_t minor = (version >> 15) & 0xF;
    const uint32_t fix = (version >> 11) & 0xF;
    const uint32_t stage = (version >> 9) & 0x3;
    const uint32_t build = version & 0x1FF;
    static constexpr const char* kStages[] = {"development", "alpha", "beta", "release"};
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(fix) + " " +
           kStages[stage] + ", build " + std::to_string(build);
}

int run_app(const std::vector<std::string>& args, AppContext& context) {
    Cli cli;
    if (const int status = parse(cli, args, context); status >= 0) {
        return status;
    }
    std::ostream& err = *context.err;
    try {
        if (cli.params->parsed()) {
            print_params(*context.out, context.parameters());
            return kExitOk;
        }
        if (cli.info->parsed()) {
            print_info(*context.out, context.info());
            return kExitOk;
        }
        return render(cli.options, cli.given(), context);
    } catch (const InputError& e) {
        err << "pointillo: " << e.what() << "\n";
        return kExitBadInput;
    } catch (const RenderFailure& e) {
        err << "pointillo: " << e.what() << "\n";
        return kExitRenderFailure;
    } catch (const std::bad_alloc&) {
        err << "pointillo: out of memory\n";
        return kExitRenderFailure;
    } catch (const std::exception& e) {
        err << "pointillo: " << e.what() << "\n";
        return kExitRenderFailure;
    }
}

AppContext effect_app_context(EffectSession& session) {
    AppContext context;
    context.renderer = [&session](const PreparedScene& scene, int32_t frame,
                                  const std::atomic<bool>& cancel, FrameImage& image) {
        session.render_frame(scene, frame, cancel, image);
    };
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
