#include "cli/program/app.h"

#include "cli/base/errors.h"
#include "cli/base/files.h"
#include "cli/frames/frame_file.h"
#include "cli/frames/render_record.h"
#include "cli/run/motion_blur.h"
#include "cli/run/progress.h"
#include "cli/run/timing.h"
#include "cli/scene/scene.h"
#include "cli/scene/scene_reader.h"
#include "cli/video/video.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <nlohmann/json.hpp>
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
    bool force_resume = false;     // keep frames of another render
    std::vector<std::string> sets; // --set KEY=VALUE, in order
    int32_t motion_blur = 0;
    double shutter_angle = 180.0;
    std::string quality;
    int32_t crf = 0;
    bool check = false; // --check: validate and report, render nothing
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
    bool motion_blur = false;
    bool shutter_angle = false;
    bool quality = false;
    bool crf = false;
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

// A registered 32-bit float as the shortest decimal that reads back as it
// (0.01, not 0.009999999776).
double float_value(double value) {
    return std::strtod(format_float(value).c_str(), nullptr);
}

// Why a row takes no value in a scene's "params", or nullptr. The hidden rows
// are the ones the controls do not offer as values: the slot count, the
// buttons, the slots and the ends of groups.
const char* hidden_reason(const EffectParam& p) {
    constexpr uint32_t kInvisible = 0x200;
    switch (p.kind) {
    case ParamKind::Layer:
        return "a source slot, filled from the scene's \"sources\"";
    case ParamKind::Button:
        return "a button";
    case ParamKind::GroupEnd:
        return "the end of a group";
    default:
        return (p.ui_flags & kInvisible) != 0 ? "set by the renderer from the number of sources"
                                              : nullptr;
    }
}

void print_params_json(std::ostream& out, const std::vector<EffectParam>& params) {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const EffectParam& p : params) {
        nlohmann::ordered_json row;
        row["index"] = p.index;
        row["id"] = p.id;
        row["name"] = p.kind == ParamKind::GroupEnd ? "" : p.name;
        row["type"] = kind_name(p.kind);
        const char* reason = hidden_reason(p);
        row["hidden"] = reason != nullptr;
        if (reason != nullptr) {
            row["why"] = reason;
        }
        switch (p.kind) {
        case ParamKind::Slider:
            row["valid_min"] = float_value(p.valid_min);
            row["valid_max"] = float_value(p.valid_max);
            row["slider_min"] = float_value(p.slider_min);
            row["slider_max"] = float_value(p.slider_max);
            row["default"] = float_value(p.default_value);
            break;
        case ParamKind::Popup:
            row["choices"] = p.choices;
            row["default"] = static_cast<int32_t>(p.default_value);
            break;
        case ParamKind::Checkbox:
            row["default"] = p.default_value != 0.0;
            break;
        case ParamKind::Color:
            row["default"] = format_hex_color(p.default_color);
            break;
        case ParamKind::Button:
            row["label"] = p.choices.empty() ? "" : p.choices[0];
            break;
        default:
            break;
        }
        rows.push_back(std::move(row));
    }
    out << rows.dump(2) << "\n";
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

// Redraws one status line on a terminal, fitted to its width at each draw.
struct ProgressBar {
    std::ostream* err = nullptr;
    std::function<int32_t()> columns;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    void draw(int32_t done, int32_t total, const std::string& what) const {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const int32_t width = columns ? columns() : 0;
        *err << "\r" << progress_line(done, total, seconds, width > 0 ? width : 80, what)
             << "\x1b[K" << std::flush;
    }
    void clear() const { *err << "\r\x1b[K" << std::flush; }
};

std::string format_seconds(double seconds) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(seconds < 10 ? 2 : 1) << seconds;
    return text.str();
}

struct Loaded {
    std::vector<EffectParam> params;
    Scene scene;
    std::vector<std::string> warnings;
    PreparedScene prepared;
    RenderJob job;
    MotionBlur blur;
    VideoQuality quality = VideoQuality::High;
    std::optional<int32_t> crf;
    // -o names one image file rather than a folder.
    std::optional<std::filesystem::path> still;
    std::optional<std::filesystem::path> ffmpeg;
};

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

Loaded load_render(const RenderOptions& o, const Given& given, const AppContext& context) {
    Loaded loaded;
    loaded.params = context.parameters();
    const std::vector<EffectParam>& params = loaded.params;
    Scene& scene = loaded.scene;
    scene = o.scene.empty() ? demo_scene(params, o.sets) : load_scene_file(o.scene, params, o.sets);

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
    const FrameTimes times{scene.comp.frame_count, scene.comp.time_scale};
    if (given.frames) {
        job.frames = parse_frame_range(o.frames, times, "--frames");
    } else if (given.frame) {
        const int32_t frame = parse_frame(o.frame, times, "--frame");
        job.frames = FrameRange{frame, frame};
    }
    if (given.jobs && (o.jobs < 1 || o.jobs > kMaxJobs)) {
        throw InputError("--jobs " + std::to_string(o.jobs) + ": must be from 1 to " +
                         std::to_string(kMaxJobs));
    }
    job.jobs = given.jobs ? o.jobs
                          : std::max(1, static_cast<int32_t>(std::thread::hardware_concurrency()));
    job.out_dir = o.output;
    job.resume = o.resume || o.force_resume;
    job.background = scene.background;
    if (o.output.empty()) {
        throw InputError("-o: names no folder");
    }
    if (is_still_name(o.output)) {
        loaded.still = std::filesystem::path(o.output);
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
        if (given.video || o.resume || o.force_resume) {
            throw InputError(where + "names one image; --video and --resume need a folder of "
                                     "frames");
        }
    }
    if (given.motion_blur) {
        if (o.motion_blur < 1 || o.motion_blur > kMaxMotionBlurSamples) {
            throw InputError("--motion-blur " + std::to_string(o.motion_blur) +
                             ": must be a number of sub-frame samples from 1 to " +
                             std::to_string(kMaxMotionBlurSamples) + " (8 to 16 look smooth)");
        }
        if (given.export_replay) {
            throw InputError("--motion-blur: a replay bundle holds whole frames; leave out "
                             "--motion-blur or --export-replay");
        }
        loaded.blur.samples = o.motion_blur;
    }
    if (given.shutter_angle) {
        if (!given.motion_blur) {
            throw InputError("--shutter-angle: only with --motion-blur N");
        }
        if (!(o.shutter_angle > 0.0 && o.shutter_angle <= kMaxShutterAngle)) {
            throw InputError("--shutter-angle " + format_float(o.shutter_angle) +
                             ": must be more than 0 and at most 720 degrees");
        }
        loaded.blur.shutter_angle = o.shutter_angle;
    }
    if (given.export_replay && o.export_replay.empty()) {
        throw InputError("--export-replay: names no folder");
    }
    if ((given.quality || given.crf) && !given.video) {
        throw InputError(std::string(given.quality ? "--quality" : "--crf") +
                         ": only with --video FILE");
    }
    if (given.video) {
        const std::optional<VideoFormat> format = video_format_of(o.video);
        if (!format) {
            throw InputError("--video " + o.video +
                             ": the file must end in .mp4, .mov (ProRes 4444 with alpha), "
                             ".webm (VP9 with alpha) or .gif");
        }
        const std::optional<int32_t> max_crf = video_max_crf(*format);
        if ((given.quality || given.crf) && !max_crf) {
            throw InputError(std::string(given.quality ? "--quality" : "--crf") + ": " +
                             std::filesystem::path(o.video).extension().string() +
                             " has one quality; --quality and --crf are for .mp4 and .webm");
        }
        if (given.quality) {
            const std::optional<VideoQuality> quality = video_quality_of(o.quality);
            if (!quality) {
                throw InputError("--quality " + o.quality + ": must be draft, high or max");
            }
            loaded.quality = *quality;
        }
        if (given.crf) {
            if (o.crf < 0 || o.crf > *max_crf) {
                throw InputError("--crf " + std::to_string(o.crf) + ": must be from 0 (best) to " +
                                 std::to_string(*max_crf) + " for " +
                                 std::filesystem::path(o.video).extension().string());
            }
            loaded.crf = o.crf;
        }
        loaded.ffmpeg = find_program("ffmpeg", context.search_path);
        if (!loaded.ffmpeg) {
            throw InputError("--video " + o.video +
                             ": needs ffmpeg, which is not installed (not found on PATH); "
                             "install it (apt-get install ffmpeg) or leave out --video");
        }
    }
    loaded.prepared = prepare_scene(scene, &loaded.warnings);
    return loaded;
}

std::string module_version_text(const AppContext& context) {
    const uint32_t version = context.info().version;
    return describe_version(version) + " (" + hex_word(version) + ")";
}

// Checks the frames folder against this render and brings its record up to
// date (unless `check_only`). A --resume into a folder of another render, or
// onto frames another render left there, is refused unless forced; a forced
// resume adopts the frames it keeps. A render without --resume replaces the
// other render's frames in its range, removing them first so that an
// interrupted render cannot leave them looking like its own; frames outside
// the range stay, marked in the record as another render's.
void settle_frames_folder(const Loaded& loaded, const RenderOptions& o, const AppContext& context,
                          bool check_only) {
    const std::filesystem::path& dir = loaded.job.out_dir;
    const PixelDepth depth = loaded.prepared.depth;
    const FrameRange range = loaded.job.frames;
    RenderRecord now = make_render_record(loaded.scene, loaded.prepared, loaded.job.background,
                                          loaded.blur, module_version_text(context));
    const std::optional<RenderRecord> there = read_render_record(dir);
    const std::set<int32_t> files = frame_files_in(dir, depth);
    const bool same = there && there->entries == now.entries;
    const std::string where = "-o " + dir.string() + ": ";

    if (loaded.job.resume) {
        std::string problem;
        if (there && !same) {
            const std::vector<std::string> differences = record_differences(*there, now);
            problem = "its frames come from another render (";
            for (size_t i = 0; i < differences.size() && i < 6; ++i) {
                problem += (i == 0 ? "" : "; ") + differences[i];
            }
            if (differences.size() > 6) {
                problem += "; and " + std::to_string(differences.size() - 6) + " more";
            }
            problem += ")";
        } else if (!there && !files.empty()) {
            problem = "it holds frames but no " + std::string(kRenderRecordName) +
                      " saying what rendered them";
        } else if (same) {
            std::set<int32_t> stale;
            for (const int32_t n : files) {
                if (n >= range.first && n <= range.last && in_ranges(there->foreign, n)) {
                    stale.insert(n);
                }
            }
            if (!stale.empty()) {
                problem = frames_text(frame_ranges_of(stale)) + " there come" +
                          (stale.size() == 1 ? "s" : "") + " from another render";
            }
        }
        if (!problem.empty() && !o.force_resume) {
            throw InputError(where + problem +
                             "; render into another folder, leave out --resume to render these "
                             "frames again, or use --force-resume to keep the frames there");
        }
        now.foreign = without_frames(same ? there->foreign : frame_ranges_of(files), range);
    } else {
        std::set<int32_t> replaced;
        for (const int32_t n : files) {
            if (n >= range.first && n <= range.last && (!same || in_ranges(there->foreign, n))) {
                replaced.insert(n);
            }
        }
        now.foreign = without_frames(same ? there->foreign : frame_ranges_of(files), range);
        if (check_only) {
            return;
        }
        for (const int32_t n : replaced) {
            std::error_code ec;
            std::filesystem::remove(dir / frame_file_name(n, depth), ec);
        }
        if (!replaced.empty() || !now.foreign.empty()) {
            *context.err << "pointillo: note: " << dir.string()
                         << " held frames of another render; "
                         << (replaced.empty()
                                 ? std::string()
                                 : frames_text(frame_ranges_of(replaced)) + " rendered again, ")
                         << (now.foreign.empty() ? "none stay"
                                                 : frames_text(now.foreign) +
                                                       " stay, and --resume will not take them")
                         << "\n";
        }
    }
    if (!check_only && (!there || !(*there == now))) {
        write_render_record(dir, now);
    }
}

// The video's folder is made if needed and must take new files, and the
// name must not be a folder: found before the first frame, not after the
// last.
void check_video_file(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.parent_path();
    std::error_code ec;
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            throw InputError("--video " + file.string() + ": cannot create the folder " +
                             folder.string() + ": " + ec.message());
        }
    }
    if (std::filesystem::is_directory(file, ec)) {
        throw InputError("--video " + file.string() + ": is a folder");
    }
    if (const std::string problem = folder_write_problem(folder); !problem.empty()) {
        throw InputError("--video " + file.string() + ": cannot write to " +
                         (folder.empty() ? std::string("the current folder") : folder.string()) +
                         ": " + problem);
    }
}

FrameRenderer frame_renderer(const Loaded& loaded, const AppContext& context) {
    return loaded.blur.samples > 0 ? motion_blur_renderer(context.time_renderer, loaded.blur)
                                   : context.renderer;
}

// Runs `work`, then takes the bar off the terminal, also when `work` throws.
template <typename Work> void run_clearing(const ProgressBar& bar, bool shown, Work&& work) {
    try {
        work();
    } catch (...) {
        if (shown) {
            bar.clear();
        }
        throw;
    }
    if (shown) {
        bar.clear();
    }
}

// One frame to the file -o names.
int render_still(const Loaded& loaded, AppContext& context) {
    const std::filesystem::path& file = *loaded.still;
    const std::filesystem::path folder = file.parent_path();
    std::error_code ec;
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            throw InputError("-o " + file.string() + ": cannot create the folder " +
                             folder.string() + ": " + ec.message());
        }
    }
    if (const std::string problem = folder_write_problem(folder); !problem.empty()) {
        throw InputError("-o " + file.string() + ": cannot write there: " + problem);
    }
    std::atomic<bool> own_cancel{false};
    std::atomic<bool>& cancel = context.cancel != nullptr ? *context.cancel : own_cancel;
    const int32_t frame = loaded.job.frames.first;
    const FrameRenderer renderer = frame_renderer(loaded, context);
    const auto start = std::chrono::steady_clock::now();
    FrameImage image;
    try {
        renderer(loaded.prepared, frame, cancel, image);
    } catch (const RenderCancelled&) {
        *context.err << "pointillo: interrupted; " << file.string() << " was not written\n";
        return kExitInterrupted;
    } catch (const std::bad_alloc&) {
        throw RenderFailure("frame " + std::to_string(frame) + ": out of memory");
    } catch (const std::exception& e) {
        throw RenderFailure("frame " + std::to_string(frame) + ": " + e.what());
    }
    std::vector<uint8_t> bytes;
    encode_frame_file(image.view, loaded.job.background, bytes);
    write_file_atomically(file, bytes);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    *context.out << "pointillo: frame " << frame << " in " << format_seconds(seconds) << " s to "
                 << file.string() << "\n"
                 << std::flush;
    return kExitOk;
}

int render(const RenderOptions& o, const Given& given, AppContext& context) {
    std::ostream& out = *context.out;
    std::ostream& err = *context.err;
    Loaded loaded = load_render(o, given, context);
    if (context.check_only) {
        return kExitOk;
    }
    if (o.print_range) {
        out << loaded.job.frames.first << "-" << loaded.job.frames.last << "\n" << std::flush;
        return kExitOk;
    }
    const std::vector<TimingSegment> segments = timing_segments(loaded.prepared, loaded.params);
    std::vector<std::string> warnings = loaded.warnings;
    for (std::string& w :
         unreached_source_warnings(loaded.prepared, loaded.params, segments, loaded.scene.file)) {
        warnings.push_back(std::move(w));
    }
    for (const std::string& warning : warnings) {
        err << "pointillo: warning: " << warning << "\n";
    }
    err << std::flush;
    if (!given.export_replay) {
        out << "pointillo: timing: " << timing_summary(loaded.prepared, segments) << "\n"
            << std::flush;
    }
    if (o.check) {
        std::error_code ec;
        if (!loaded.still && loaded.job.resume &&
            std::filesystem::is_directory(loaded.job.out_dir, ec)) {
            settle_frames_folder(loaded, o, context, true);
        }
        const Comp& comp = loaded.scene.comp;
        const size_t sources = static_cast<size_t>(
            std::count_if(loaded.prepared.sources.begin(), loaded.prepared.sources.end(),
                          [](const auto& slot) { return slot.has_value(); }));
        out << "pointillo: " << loaded.scene.file << ": ready: " << comp.width << " x "
            << comp.height << ", " << format_float(comp.fps) << " fps, " << comp.frame_count
            << (comp.frame_count == 1 ? " frame" : " frames") << " ("
            << format_seconds_short(static_cast<double>(comp.frame_count) * 1000.0 /
                                    static_cast<double>(comp.time_scale))
            << " s), " << sources << (sources == 1 ? " source" : " sources") << ", "
            << warnings.size() << (warnings.size() == 1 ? " warning" : " warnings")
            << "; nothing rendered\n"
            << std::flush;
        return kExitOk;
    }
    const auto hand_over_sources = [&] {
        if (context.hand_over_sources) {
            context.hand_over_sources(loaded.prepared);
        }
    };
    if (loaded.still) {
        hand_over_sources();
        return render_still(loaded, context);
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
    if (const std::string problem = folder_write_problem(loaded.job.out_dir); !problem.empty()) {
        throw InputError("-o " + loaded.job.out_dir.string() +
                         ": cannot write frames there: " + problem);
    }
    if (loaded.ffmpeg) {
        check_video_file(o.video);
    }
    settle_frames_folder(loaded, o, context, false);
    // Before the progress bar: a set-up failure then reads on a line of its own.
    hand_over_sources();

    std::atomic<bool> own_cancel{false};
    std::atomic<bool>& cancel = context.cancel != nullptr ? *context.cancel : own_cancel;
    const bool nothing_to_do =
        loaded.job.resume && frames_to_render(loaded.job, loaded.prepared.depth).empty();
    const ProgressBar bar{&err, context.terminal_columns};
    ProgressFn progress;
    if (context.err_is_terminal && !nothing_to_do) {
        progress = [&bar](int32_t done, int32_t total) { bar.draw(done, total, "frames"); };
        bar.draw(0,
                 static_cast<int32_t>(frames_to_render(loaded.job, loaded.prepared.depth).size()),
                 "frames");
    }
    RenderSummary summary;
    run_clearing(bar, context.err_is_terminal, [&] {
        summary = render_frames(loaded.prepared, loaded.job, frame_renderer(loaded, context),
                                cancel, progress);
    });
    if (summary.cancelled) {
        err << "pointillo: interrupted after " << summary.rendered << " of "
            << loaded.job.frames.count() - summary.skipped
            << " frames; run the same command with --resume to finish\n";
        return kExitInterrupted;
    }
    const double rate = summary.seconds > 0 ? summary.rendered / summary.seconds : 0.0;
    if (summary.rendered == 0 && summary.skipped > 0) {
        out << "pointillo: nothing to render: "
            << (summary.skipped == 1 ? "the frame"
                                     : "all " + std::to_string(summary.skipped) + " frames")
            << " of " << frame_list_text({loaded.job.frames}) << " already in "
            << loaded.job.out_dir.string();
    } else {
        out << "pointillo: " << summary.rendered << (summary.rendered == 1 ? " frame" : " frames")
            << " in " << format_seconds(summary.seconds) << " s (" << std::fixed
            << std::setprecision(1) << rate << " frames/s) to " << loaded.job.out_dir.string();
        if (summary.skipped > 0) {
            out << "; " << summary.skipped << " already there";
        }
    }
    out << "\n" << std::flush;

    if (loaded.ffmpeg) {
        VideoJob video;
        video.file = o.video;
        video.frames_dir = loaded.job.out_dir;
        video.frames = loaded.job.frames;
        video.depth = loaded.prepared.depth;
        video.time_scale = loaded.prepared.time_scale;
        video.quality = loaded.quality;
        video.crf = loaded.crf;
        const ProgressBar encode_bar{&err, context.terminal_columns};
        if (context.err_is_terminal) {
            video.progress = [&encode_bar](int32_t done, int32_t total) {
                encode_bar.draw(done, total, "encoded");
            };
            encode_bar.draw(0, video.frames.count(), "encoded");
        }
        run_clearing(encode_bar, context.err_is_terminal,
                     [&] { encode_video(*loaded.ffmpeg, video, cancel); });
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
    bool params_json = false;
    CLI::Option* frames = nullptr;
    CLI::Option* frame = nullptr;
    CLI::Option* jobs = nullptr;
    CLI::Option* depth = nullptr;
    CLI::Option* downsample = nullptr;
    CLI::Option* background = nullptr;
    CLI::Option* video = nullptr;
    CLI::Option* export_replay = nullptr;
    CLI::Option* motion_blur = nullptr;
    CLI::Option* shutter_angle = nullptr;
    CLI::Option* quality = nullptr;
    CLI::Option* crf = nullptr;

    Cli() {
        app.set_version_flag("--version", std::string("pointillo ") + POINTILLO_VERSION_TEXT);
        app.require_subcommand(1);
        render = app.add_subcommand("render", "Render a scene (or the built-in demo) to frames");
        render->add_option("scene", options.scene,
                           "Scene file (JSON); without one, the built-in demo");
        CLI::Option* output =
            render
                ->add_option("-o,--output", options.output,
                             "Folder for the frames, or with one frame FILE.png or FILE.exr")
                ->capture_default_str();
        frames = render->add_option("--frames", options.frames,
                                    "Inclusive range A-B of frame numbers or times (0.5s-2s)");
        frame = render->add_option("--frame", options.frame,
                                   "A single frame, by number or time (1.5s)");
        frames->excludes(frame);
        jobs = render->add_option("--jobs", options.jobs,
                                  "Frames rendered at once (default: number of cores)");
        depth = render->add_option("--depth", options.depth, "Bits per channel: 8, 16 or 32");
        downsample = render->add_option("--downsample", options.downsample,
                                        "Render at 1/N resolution, N from 1 to 8");
        background = render->add_option("--background", options.background,
                                        "Composite over '#rrggbb' and write opaque frames");
        video = render->add_option("--video", options.video,
                                   "Also encode FILE.mp4, FILE.mov or FILE.webm (both with alpha) "
                                   "or FILE.gif with ffmpeg");
        quality = render->add_option("--quality", options.quality,
                                     "Video quality: draft, high (default) or max");
        crf = render->add_option("--crf", options.crf,
                                 "Video rate factor instead of the level's: 0 (best) to 51 for "
                                 ".mp4, 63 for .webm");
        CLI::Option* resume = render->add_flag("--resume", options.resume,
                                               "Skip frames already written by this same render");
        CLI::Option* force_resume = render->add_flag(
            "--force-resume", options.force_resume,
            "Resume even into a folder whose frames come from another render, keeping them");
        render
            ->add_option("--set", options.sets,
                         "KEY=VALUE: override a scene field or parameter, for example "
                         "'sources[0].text=ALICE' or 'params.Dot Size=9' (repeatable)")
            ->allow_extra_args(false);
        motion_blur = render->add_option(
            "--motion-blur", options.motion_blur,
            "Motion blur: average N sub-frame renders over the shutter (default off)");
        shutter_angle = render->add_option(
            "--shutter-angle", options.shutter_angle,
            "With --motion-blur: degrees of a frame the shutter is open (default 180)");
        render->add_flag("--check", options.check,
                         "Check the scene and options, print the timing and the warnings, and "
                         "render nothing");
        export_replay = render->add_option(
            "--export-replay", options.export_replay,
            "Write a replay bundle of the selected frames to DIR instead of rendering them");
        export_replay->excludes(video)->excludes(resume)->excludes(force_resume)->excludes(output);
        render
            ->add_flag("--print-range", options.print_range,
                       "Print the selected frames as A-B and exit (for farm scripts)")
            ->excludes(export_replay)
            ->excludes(video);
        params = app.add_subcommand("params", "List the effect's parameters");
        params->add_flag("--json", params_json,
                         "As a JSON array for tools, hidden rows marked \"hidden\": true");
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
        g.motion_blur = motion_blur->count() > 0;
        g.quality = quality->count() > 0;
        g.crf = crf->count() > 0;
        g.shutter_angle = shutter_angle->count() > 0;
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
            if (cli.params_json) {
                print_params_json(*context.out, context.parameters());
            } else {
                print_params(*context.out, context.parameters());
            }
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
    context.time_renderer = [&session](const PreparedScene& scene, int32_t current_time,
                                       const std::atomic<bool>& cancel) {
        return session.render_at_time(scene, current_time, cancel);
    };
    context.hand_over_sources = [&session](PreparedScene& scene) {
        session.hand_over_sources(scene);
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
