// pointillo-replay: renders a replay bundle through the effect module in the
// emulated host, or compares two folders of frames it rendered.
//
//   pointillo-replay [--module FILE] [--jobs N] [--threads T] [--frames A,B,...] BUNDLE_DIR OUT_DIR
//   pointillo-replay --bench N [--module FILE] [--threads T] [--frames A,B,...] BUNDLE_DIR
//   pointillo-replay --compare [--max-diff F] DIR_A DIR_B
//
// The module is loaded from FILE, or else from the folder of this program
// (Pointillo.aex on Windows); --frames renders only those of the bundle's
// frames. A render writes the frames into OUT_DIR as frame_folder.h says.
// --threads is how many threads the host's iterate suite runs the pieces of
// one frame on (default: one per core); --jobs how many frames render at once.
//
// --bench renders every frame once to warm up, then N more times, one frame
// at a time, writes nothing, and ends with the line
//   bench: median M ms, min m ms per frame (F frames x N)
// The times are those of the module's pre-render and render commands alone
// (host callbacks included), not the host's own work around them.
//
// Exit status: 0 done (for --compare: equal, or within --max-diff); 1 a frame
// that failed, or frames that differ; 2 a bad command line, bundle or module.

#include "hostsim/frame.h"
#include "hostsim/loaded_effect.h"
#include "hostsim/module.h"
#include "hostsim/replay.h"
#include "hostsim/replay/frame_folder.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: pointillo-replay [--module FILE] [--jobs N] [--threads T] [--frames A,B,...] "
    "BUNDLE_DIR OUT_DIR\n"
    "       pointillo-replay --bench N [--module FILE] [--threads T] [--frames A,B,...] "
    "BUNDLE_DIR\n"
    "       pointillo-replay --compare [--max-diff F] DIR_A DIR_B\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct RenderOptions {
    fs::path module;
    int32_t jobs = 0;                          // 0: one per core
    int32_t threads = 0;                       // a frame's, 0: one per core
    int32_t bench_passes = 0;                  // 0: render, else time this many passes
    std::optional<std::vector<A_long>> frames; // unset: all of the bundle's
    fs::path bundle;
    fs::path out;
};

struct FrameOutcome {
    std::optional<hostsim::FrameEntry> entry; // set when the frame was written
    std::string error;                        // set when it was not
};

FrameOutcome render_one(hostsim::LoadedEffect& effect, const hostsim::Replay& replay, A_long frame,
                        const fs::path& out_dir) {
    FrameOutcome outcome;
    const std::string name = hostsim::frame_file_name(frame);
    try {
        const hostsim::FrameResult result = effect.render(hostsim::replay_call(replay, frame));
        if (!result.ok()) {
            outcome.error = "frame " + std::to_string(frame) + ": pre-render returned " +
                            std::to_string(result.pre_render_err) + ", render returned " +
                            std::to_string(result.render_err) +
                            (result.return_msg.empty() ? "" : " (" + result.return_msg + ")");
            return outcome;
        }
        const std::vector<std::byte> packed = hostsim::packed_output(result);
        hostsim::write_frame_file(out_dir / name, packed.data(), packed.size());
        outcome.entry =
            hostsim::FrameEntry{name, result.output_width, result.output_height, replay.depth};
    } catch (const std::exception& e) {
        outcome.error = "frame " + std::to_string(frame) + ": " + e.what();
    }
    return outcome;
}

hostsim::Replay load_frames(const RenderOptions& options) {
    hostsim::Replay replay = hostsim::load_replay(options.bundle);
    if (options.frames) {
        for (const A_long frame : *options.frames) {
            if (std::find(replay.frames.begin(), replay.frames.end(), frame) ==
                replay.frames.end()) {
                throw std::runtime_error("frame " + std::to_string(frame) +
                                         " is not one of the bundle's");
            }
        }
        replay.frames = *options.frames;
    }
    return replay;
}

hostsim::IterateSettings iterate_settings(const RenderOptions& options) {
    hostsim::IterateSettings settings;
    settings.threads = options.threads;
    return settings;
}

// What the module kept and how its set-down went; counts the failures.
int report_end(hostsim::LoadedEffect& effect) {
    const std::vector<std::string> problems = effect.finish();
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "pointillo-replay: %s\n", problem.c_str());
    }
    return static_cast<int>(problems.size());
}

int render_bundle(const RenderOptions& options) {
    const auto start = std::chrono::steady_clock::now();
    const hostsim::Replay replay = load_frames(options);
    hostsim::LoadedEffect effect(options.module.string());
    effect.host.iterate.set(iterate_settings(options));
    hostsim::apply_replay(effect.host, effect.instance, replay);

    std::error_code error;
    fs::create_directories(options.out, error);
    if (error) {
        throw std::runtime_error("cannot create " + options.out.string() + ": " + error.message());
    }

    // Frames are independent: several render at once, each into its own slot.
    const std::size_t count = replay.frames.size();
    std::vector<FrameOutcome> outcomes(count);
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            outcomes[i] = render_one(effect, replay, replay.frames[i], options.out);
        }
    };
    int32_t jobs = options.jobs;
    if (jobs <= 0) {
        jobs = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
    }
    jobs = static_cast<int32_t>(std::min<std::size_t>(static_cast<std::size_t>(jobs), count));
    std::vector<std::thread> threads;
    for (int32_t t = 1; t < jobs; ++t) {
        threads.emplace_back(work);
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }

    int failures = report_end(effect);

    std::vector<hostsim::FrameEntry> index;
    for (const FrameOutcome& outcome : outcomes) {
        if (outcome.entry) {
            index.push_back(*outcome.entry);
        } else {
            std::fprintf(stderr, "pointillo-replay: %s\n", outcome.error.c_str());
            ++failures;
        }
    }
    hostsim::write_frame_index(options.out, index);
    const std::size_t written = index.size();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("pointillo-replay: %zu of %zu frames (comp %dx%d, %d bits) in %.2f s, "
                "%d job(s)\n",
                written, count, replay.width, replay.height, static_cast<int>(replay.depth),
                seconds, static_cast<int>(jobs));
    return failures == 0 ? 0 : 1;
}

// ---- bench ----

// One frame at a time, so that a figure is a frame's own time, not a share of
// the machine. The output world lives in one buffer for the whole run: the
// host's page faults stay out of the figures as its other work does.
int bench_bundle(const RenderOptions& options) {
    const hostsim::Replay replay = load_frames(options);
    if (replay.frames.empty()) {
        throw std::runtime_error("the bundle has no frames");
    }
    hostsim::LoadedEffect effect(options.module.string());
    effect.host.iterate.set(iterate_settings(options));
    hostsim::apply_replay(effect.host, effect.instance, replay);

    std::vector<std::byte> output;
    const auto render = [&](A_long frame) {
        hostsim::FrameCall request = hostsim::replay_call(replay, frame);
        request.output_storage = &output;
        const hostsim::FrameResult result = effect.render(request);
        if (!result.ok()) {
            throw std::runtime_error("frame " + std::to_string(frame) + ": pre-render returned " +
                                     std::to_string(result.pre_render_err) + ", render returned " +
                                     std::to_string(result.render_err));
        }
        return result.module_seconds * 1e3;
    };
    for (const A_long frame : replay.frames) {
        render(frame); // the host's layer worlds, the module's clouds and buffers
    }
    std::vector<double> ms;
    ms.reserve(replay.frames.size() * static_cast<std::size_t>(options.bench_passes));
    for (int32_t pass = 0; pass < options.bench_passes; ++pass) {
        for (const A_long frame : replay.frames) {
            ms.push_back(render(frame));
        }
    }
    const int failures = report_end(effect);

    std::sort(ms.begin(), ms.end());
    const std::size_t n = ms.size();
    const double median = n % 2 == 1 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2.0;
    std::printf("bench: median %.2f ms, min %.2f ms per frame (%zu frames x %d)\n", median, ms[0],
                replay.frames.size(), static_cast<int>(options.bench_passes));
    return failures == 0 ? 0 : 1;
}

double parse_fraction(const std::string& text) {
    const std::size_t slash = text.find('/');
    const auto number = [&](const std::string& part) {
        double value = 0.0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (error != std::errc() || end != part.data() + part.size() || !(value >= 0.0)) {
            throw UsageError("--max-diff takes a number or a fraction such as 1/255");
        }
        return value;
    };
    if (slash == std::string::npos) {
        return number(text);
    }
    const double den = number(text.substr(slash + 1));
    if (!(den > 0.0)) {
        throw UsageError("--max-diff: the denominator must be positive");
    }
    return number(text.substr(0, slash)) / den;
}

std::vector<A_long> parse_frames(const std::string& text) {
    std::vector<A_long> frames;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        A_long frame = 0;
        const char* first = text.data() + start;
        const char* last = text.data() + end;
        const auto [stop, error] = std::from_chars(first, last, frame);
        if (error != std::errc() || stop != last || first == last) {
            throw UsageError("--frames takes frame numbers separated by commas");
        }
        frames.push_back(frame);
        start = end + 1;
    }
    return frames;
}

int32_t parse_count(const std::string& text, const std::string& option) {
    int32_t count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (error != std::errc() || end != text.data() + text.size() || count < 1) {
        throw UsageError(option + " takes a whole number of at least 1");
    }
    return count;
}

// The command line as given, before its values are read.
struct CommandLine {
    bool compare = false;
    std::optional<std::string> max_diff;
    std::optional<std::string> module;
    std::optional<std::string> frames;
    std::optional<std::string> bench;
    std::optional<std::string> jobs;
    std::optional<std::string> threads;
    bool help = false;
    std::vector<std::string> folders;
};

CommandLine parse(int argc, char** argv) {
    CommandLine line;
    CLI::App app{"Renders a replay bundle through the effect module, or compares frames.",
                 "pointillo-replay"};
    app.set_help_flag(); // -h is a usage error of its own below, as it always was
    const auto last = CLI::MultiOptionPolicy::TakeLast;
    app.add_flag("--compare", line.compare, "compare two folders of frames")
        ->multi_option_policy(last);
    app.add_option("--max-diff", line.max_diff, "allowed difference, such as 1/255")
        ->multi_option_policy(last);
    app.add_option("--module", line.module, "the module file")->multi_option_policy(last);
    app.add_option("--frames", line.frames, "frame numbers, A,B,...")->multi_option_policy(last);
    app.add_option("--bench", line.bench, "time N passes")->multi_option_policy(last);
    app.add_option("--jobs", line.jobs, "frames at once")->multi_option_policy(last);
    app.add_option("--threads", line.threads, "threads a frame")->multi_option_policy(last);
    app.add_flag("-h,--help", line.help, "this text")->multi_option_policy(last);
    app.add_option("folders", line.folders, "bundle and output, or two frame folders");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        throw UsageError(e.what());
    }
    if (line.help) {
        throw UsageError("");
    }
    return line;
}

int run(int argc, char** argv) {
    const CommandLine line = parse(argc, argv);
    double max_diff = 0.0;
    RenderOptions options;
    if (line.max_diff) {
        max_diff = parse_fraction(*line.max_diff);
    }
    if (line.frames) {
        options.frames = parse_frames(*line.frames);
    }
    if (line.bench) {
        options.bench_passes = parse_count(*line.bench, "--bench");
    }
    if (line.jobs) {
        options.jobs = parse_count(*line.jobs, "--jobs");
    }
    if (line.threads) {
        options.threads = parse_count(*line.threads, "--threads");
    }
    const bool bench = options.bench_passes > 0;
    if (line.compare && bench) {
        throw UsageError("--compare and --bench do not go together");
    }
    if (bench && options.jobs > 0) {
        throw UsageError("--bench renders one frame at a time: no --jobs");
    }
    if (line.folders.size() != (bench ? 1u : 2u)) {
        throw UsageError(bench ? "expected one bundle folder" : "expected two folders");
    }
    if (line.compare) {
        return hostsim::compare_frame_folders(line.folders[0], line.folders[1], max_diff) ? 0 : 1;
    }
    options.module = line.module ? fs::path(*line.module)
                                 : hostsim::program_folder() / POINTILLO_MODULE_FILE_NAME;
    options.bundle = line.folders[0];
    if (bench) {
        return bench_bundle(options);
    }
    options.out = line.folders[1];
    return render_bundle(options);
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const UsageError& e) {
        if (e.what()[0] != '\0') {
            std::fprintf(stderr, "pointillo-replay: %s\n", e.what());
        }
        std::fputs(kUsage, stderr);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pointillo-replay: %s\n", e.what());
        return 2;
    }
}
