// The core's replay player: renders a replay bundle through the core
// directly, with no module and no emulated host, into the same files as
// pointillo-replay (built as build/wasm/pointillo-replay.js for WebAssembly,
// pointillo-core-replay natively).
//
//   pointillo-replay [--frames A,B,...] BUNDLE_DIR OUT_DIR
//   pointillo-replay --compare DIR_A DIR_B
//
// --frames renders only those of the bundle's frames, one at a time. The
// frames are written into OUT_DIR as hostsim/replay/frame_folder.h says.
//
// Exit status: 0 done (for --compare: equal); 1 a frame that failed, or
// frames that differ; 2 a bad command line or bundle, or a bundle beyond
// what this build can hold.

#include "hostsim/replay/bundle.h"
#include "hostsim/replay/frame_folder.h"
#include "player/core_replay.h"
#include "render/set_down.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage = "usage: pointillo-replay [--frames A,B,...] BUNDLE_DIR OUT_DIR\n"
                               "       pointillo-replay --compare DIR_A DIR_B\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Memory ran out: with 32-bit sizes everything shares one address space.
std::string out_of_memory() {
    return sizeof(std::size_t) < 8 ? "out of memory (this build has at most 4 GiB for the "
                                     "bundle's layers and a frame)"
                                   : "out of memory";
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

int render_bundle(const fs::path& bundle, const fs::path& out,
                  const std::optional<std::vector<A_long>>& frames) {
    const auto start = std::chrono::steady_clock::now();
    hostsim::Replay replay = hostsim::load_replay(bundle);
    pointillo::player::check_params(replay);
    const std::string beyond =
        pointillo::player::beyond_limits(replay, pointillo::player::player_limits());
    if (!beyond.empty()) {
        throw std::runtime_error(beyond);
    }
    if (frames) {
        for (const A_long frame : *frames) {
            if (std::find(replay.frames.begin(), replay.frames.end(), frame) ==
                replay.frames.end()) {
                throw std::runtime_error("frame " + std::to_string(frame) +
                                         " is not one of the bundle's");
            }
        }
        replay.frames = *frames;
    }
    std::error_code error;
    fs::create_directories(out, error);
    if (error) {
        throw std::runtime_error("cannot create " + out.string() + ": " + error.message());
    }

    int failures = 0;
    std::vector<hostsim::FrameEntry> index;
    for (const A_long frame : replay.frames) {
        std::string failure;
        try {
            const pointillo::player::PlayedFrame played =
                pointillo::player::play_frame(replay, frame);
            const std::string name = hostsim::frame_file_name(frame);
            hostsim::write_frame_file(out / name, played.bytes.data(), played.bytes.size());
            index.push_back(hostsim::FrameEntry{name, played.width, played.height, played.depth});
        } catch (const std::bad_alloc&) {
            failure = out_of_memory();
        } catch (const std::exception& e) {
            failure = e.what();
        }
        if (!failure.empty()) {
            std::fprintf(stderr, "pointillo-replay: frame %ld: %s\n", static_cast<long>(frame),
                         failure.c_str());
            ++failures;
        }
    }
    pointillo::set_down_core();
    hostsim::write_frame_index(out, index);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("pointillo-replay: %zu of %zu frames (comp %dx%d, %d bits) in %.2f s, "
                "1 job(s)\n",
                index.size(), replay.frames.size(), replay.width, replay.height,
                static_cast<int>(replay.depth), seconds);
    return failures == 0 ? 0 : 1;
}

int run(const std::vector<std::string>& args) {
    bool compare = false;
    std::optional<std::vector<A_long>> frames;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--compare") {
            compare = true;
        } else if (arg == "--frames") {
            if (i + 1 >= args.size()) {
                throw UsageError("--frames needs a value");
            }
            frames = parse_frames(args[++i]);
        } else if (arg == "--module" || arg == "--jobs" || arg == "--bench" ||
                   arg == "--max-diff") {
            throw UsageError(arg + " is the emulated host's pointillo-replay's; this player " +
                             "drives the core directly, one frame at a time");
        } else if (arg == "-h" || arg == "--help") {
            throw UsageError("");
        } else if (!arg.empty() && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        throw UsageError("expected two folders");
    }
    if (compare) {
        if (frames) {
            throw UsageError("--compare takes no --frames");
        }
        return hostsim::compare_frame_folders(positional[0], positional[1], 0.0) ? 0 : 1;
    }
    return render_bundle(positional[0], positional[1], frames);
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        if (e.what()[0] != '\0') {
            std::fprintf(stderr, "pointillo-replay: %s\n", e.what());
        }
        std::fputs(kUsage, stderr);
        return 2;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "pointillo-replay: %s\n", out_of_memory().c_str());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pointillo-replay: %s\n", e.what());
        return 2;
    }
}
