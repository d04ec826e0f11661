// pointillo-replay: renders a replay bundle through the effect module in the
// emulated host, or compares two folders of frames it rendered.
//
//   pointillo-replay [--module FILE] [--jobs N] [--frames A,B,...] BUNDLE_DIR OUT_DIR
//   pointillo-replay --bench N [--module FILE] [--frames A,B,...] BUNDLE_DIR
//   pointillo-replay --compare [--max-diff F] DIR_A DIR_B
//
// The module is loaded from FILE, or else from the folder of this program
// (Pointillo.aex on Windows); --frames renders only those of the bundle's
// frames. A render writes OUT_DIR/frame_<nnnnn>.raw for frame number n (the
// output without row padding: alpha, red, green, blue at the bundle's depth,
// little-endian) and OUT_DIR/frames.txt, a line per frame with its file,
// width, height and depth.
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

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr const char* kIndexFile = "frames.txt";
constexpr const char* kIndexMagic = "pointillo-replay-frames 1";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string frame_file_name(A_long frame) {
    char name[32];
    std::snprintf(name, sizeof(name), "frame_%05ld.raw", static_cast<long>(frame));
    return name;
}

std::vector<char> read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const fs::path& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

// ---- render ----

struct RenderOptions {
    fs::path module;
    int32_t jobs = 0;                          // 0: one per core
    int32_t bench_passes = 0;                  // 0: render, else time this many passes
    std::optional<std::vector<A_long>> frames; // unset: all of the bundle's
    fs::path bundle;
    fs::path out;
};

struct FrameOutcome {
    std::string index_line; // set when the frame was written
    std::string error;      // set when it was not
};

FrameOutcome render_one(hostsim::LoadedEffect& effect, const hostsim::Replay& replay, A_long frame,
                        const fs::path& out_dir) {
    FrameOutcome outcome;
    const std::string name = frame_file_name(frame);
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
        write_bytes(out_dir / name, packed.data(), packed.size());
        outcome.index_line = name + " " + std::to_string(result.output_width) + " " +
                             std::to_string(result.output_height) + " " +
                             std::to_string(replay.depth);
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

    std::string index = std::string(kIndexMagic) + "\n";
    std::size_t written = 0;
    for (const FrameOutcome& outcome : outcomes) {
        if (outcome.error.empty()) {
            index += outcome.index_line + "\n";
            ++written;
        } else {
            std::fprintf(stderr, "pointillo-replay: %s\n", outcome.error.c_str());
            ++failures;
        }
    }
    write_bytes(options.out / kIndexFile, index.data(), index.size());
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

// ---- compare ----

struct IndexEntry {
    std::string file;
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 0;
};

std::vector<IndexEntry> read_index(const fs::path& dir) {
    const std::vector<char> bytes = read_bytes(dir / kIndexFile);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    if (!std::getline(in, line) || line != kIndexMagic) {
        throw std::runtime_error((dir / kIndexFile).string() + " is not a frame index");
    }
    std::vector<IndexEntry> entries;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        std::istringstream words(line);
        IndexEntry entry;
        if (!(words >> entry.file >> entry.width >> entry.height >> entry.depth) ||
            entry.file.find_first_of("/\\") != std::string::npos ||
            (entry.depth != 8 && entry.depth != 16 && entry.depth != 32)) {
            throw std::runtime_error((dir / kIndexFile).string() + ": bad line \"" + line + "\"");
        }
        entries.push_back(entry);
    }
    return entries;
}

// How far two samples of one channel are apart, as a fraction of full scale
// (8 bits: of 255, 16 bits: of 32768; 32 bits: the float difference).
double sample_difference(const char* a, const char* b, int32_t depth) {
    if (depth == 8) {
        const int da = static_cast<unsigned char>(*a);
        const int db = static_cast<unsigned char>(*b);
        return std::abs(da - db) / 255.0;
    }
    if (depth == 16) {
        uint16_t sa = 0;
        uint16_t sb = 0;
        std::memcpy(&sa, a, 2);
        std::memcpy(&sb, b, 2);
        return std::abs(static_cast<int>(sa) - static_cast<int>(sb)) / 32768.0;
    }
    float fa = 0.0f;
    float fb = 0.0f;
    std::memcpy(&fa, a, 4);
    std::memcpy(&fb, b, 4);
    if (std::memcmp(a, b, 4) == 0) {
        return 0.0;
    }
    const double d = std::fabs(static_cast<double>(fa) - static_cast<double>(fb));
    if (std::isnan(d)) {
        return std::numeric_limits<double>::infinity();
    }
    return d > 0.0 ? d : 1e-300; // +0 and -0: equal values, different bytes
}

// Compares one frame; returns the largest difference, and prints a line.
double compare_frame(const fs::path& dir_a, const fs::path& dir_b, const IndexEntry& a,
                     const IndexEntry& b) {
    if (a.width != b.width || a.height != b.height || a.depth != b.depth) {
        std::printf("%s: %dx%d at %d bits against %dx%d at %d bits\n", a.file.c_str(), a.width,
                    a.height, a.depth, b.width, b.height, b.depth);
        return std::numeric_limits<double>::infinity();
    }
    const std::vector<char> pixels_a = read_bytes(dir_a / a.file);
    const std::vector<char> pixels_b = read_bytes(dir_b / b.file);
    const std::size_t channel = static_cast<std::size_t>(a.depth / 8);
    const std::size_t expected =
        static_cast<std::size_t>(a.width) * static_cast<std::size_t>(a.height) * 4 * channel;
    if (pixels_a.size() != expected || pixels_b.size() != expected) {
        std::printf("%s: %zu and %zu bytes, expected %zu\n", a.file.c_str(), pixels_a.size(),
                    pixels_b.size(), expected);
        return std::numeric_limits<double>::infinity();
    }
    if (pixels_a == pixels_b) {
        std::printf("%s: identical\n", a.file.c_str());
        return 0.0;
    }
    std::size_t differing = 0;
    double largest = 0.0;
    std::size_t largest_at = 0;
    for (std::size_t i = 0; i < expected; i += channel) {
        const double d = sample_difference(&pixels_a[i], &pixels_b[i], a.depth);
        if (d > 0.0) {
            ++differing;
            if (d > largest) {
                largest = d;
                largest_at = i / channel;
            }
        }
    }
    static const char* const kChannels[] = {"alpha", "red", "green", "blue"};
    const std::size_t pixel = largest_at / 4;
    std::printf("%s: %zu of %zu channels differ, by at most %.9g (%.3f of 1/255), at pixel "
                "(%zu, %zu) %s\n",
                a.file.c_str(), differing, expected / channel, largest, largest * 255.0,
                pixel % static_cast<std::size_t>(a.width),
                pixel / static_cast<std::size_t>(a.width), kChannels[largest_at % 4]);
    return largest;
}

int compare_dirs(const fs::path& dir_a, const fs::path& dir_b, double max_diff) {
    const std::vector<IndexEntry> index_a = read_index(dir_a);
    const std::vector<IndexEntry> index_b = read_index(dir_b);
    bool ok = true;
    double largest = 0.0;
    for (const IndexEntry& a : index_a) {
        const auto b = std::find_if(index_b.begin(), index_b.end(),
                                    [&](const IndexEntry& e) { return e.file == a.file; });
        if (b == index_b.end()) {
            std::printf("%s: only in %s\n", a.file.c_str(), dir_a.string().c_str());
            ok = false;
            continue;
        }
        const double d = compare_frame(dir_a, dir_b, a, *b);
        largest = std::max(largest, d);
        ok = ok && d <= max_diff;
    }
    for (const IndexEntry& b : index_b) {
        const bool in_a = std::any_of(index_a.begin(), index_a.end(),
                                      [&](const IndexEntry& e) { return e.file == b.file; });
        if (!in_a) {
            std::printf("%s: only in %s\n", b.file.c_str(), dir_b.string().c_str());
            ok = false;
        }
    }
    if (index_a.empty() && index_b.empty()) {
        std::printf("no frames to compare\n");
        ok = false;
    }
    std::printf("%zu frame(s): %s\n", index_a.size(),
                !ok ? "DIFFERENT"
                    : (largest == 0.0 ? "all identical" : "within the allowed difference"));
    return ok ? 0 : 1;
}

// ---- command line ----

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

int run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool compare = false;
    double max_diff = 0.0;
    RenderOptions options;
    std::optional<fs::path> module;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) {
                throw UsageError(arg + " needs a value");
            }
            return args[++i];
        };
        if (arg == "--compare") {
            compare = true;
        } else if (arg == "--max-diff") {
            max_diff = parse_fraction(value());
        } else if (arg == "--module") {
            module = fs::path(value());
        } else if (arg == "--frames") {
            options.frames = parse_frames(value());
        } else if (arg == "--bench") {
            options.bench_passes = parse_count(value(), "--bench");
        } else if (arg == "--jobs") {
            options.jobs = parse_count(value(), "--jobs");
        } else if (arg == "-h" || arg == "--help") {
            throw UsageError("");
        } else if (!arg.empty() && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    const bool bench = options.bench_passes > 0;
    if (compare && bench) {
        throw UsageError("--compare and --bench do not go together");
    }
    if (bench && options.jobs > 0) {
        throw UsageError("--bench renders one frame at a time: no --jobs");
    }
    if (positional.size() != (bench ? 1u : 2u)) {
        throw UsageError(bench ? "expected one bundle folder" : "expected two folders");
    }
    if (compare) {
        return compare_dirs(positional[0], positional[1], max_diff);
    }
    options.module = module ? *module : hostsim::program_folder() / POINTILLO_MODULE_FILE_NAME;
    options.bundle = positional[0];
    if (bench) {
        return bench_bundle(options);
    }
    options.out = positional[1];
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
        std::fprintf(stderr, "usage: pointillo-replay [--module FILE] [--jobs N] "
                             "[--frames A,B,...] BUNDLE_DIR OUT_DIR\n"
                             "       pointillo-replay --bench N [--module FILE] "
                             "[--frames A,B,...] BUNDLE_DIR\n"
                             "       pointillo-replay --compare [--max-diff F] DIR_A DIR_B\n");
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pointillo-replay: %s\n", e.what());
        return 2;
    }
}
