// pointillo-ofx-host: renders frames of an OpenFX plug-in from a bundle, as a
// compositor would, and writes them by the renderer's file rule.
//
//   pointillo-ofx-host BUNDLE --list
//   pointillo-ofx-host BUNDLE --plugin ID --context transition|filter|general
//       --input A.png [--input B.png] --fps F --frames N [--param "NAME=VALUE"]...
//       [--depth 8|16|32] [--render-scale S] [--threads T] [--shuffle]
//       [--no-temporal] -o DIR
//
// VALUE is a number (popups by item number from 1, checkboxes 0 or 1), a
// colour #rrggbb, or keys "VALUE@FRAME,VALUE@FRAME,..." that move linearly.
// An input whose name holds a printf pattern (clip_%05d.png) is a moving
// clip: frame n of it at times n to n + 1. Checks use a few more options:
// --rows top-down (negative row bytes), --origin X,Y (image bounds that do
// not start at 0), --record FILE (every suite call of every frame),
// --fail-call K (fail the K-th suite call of each frame) and
// --refuse-output (a null output image).

#include "cli/base/image.h"
#include "cli/frames/exr_io.h"
#include "cli/frames/frame_file.h"
#include "cli/frames/png_io.h"
#include "cli/scene/layer_pixels.h"
#include "host.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace pointillo;
using ofxhost::ClipFrames;
using ofxhost::HostFrame;
using ofxhost::ParamKey;

struct Options {
    std::string bundle;
    bool list = false;
    ofxhost::RenderSetup setup;
    std::vector<std::string> inputs;
    std::vector<std::string> params;
    int threads = 1;
    bool shuffle = false;
    ofxhost::HostOptions host;
    std::string out_dir;
    std::string record;
    ofxhost::RenderFaults faults;
};

[[noreturn]] void usage(const std::string& problem) {
    std::cerr << "pointillo-ofx-host: " << problem << "\n"
              << "usage: pointillo-ofx-host BUNDLE --list\n"
              << "       pointillo-ofx-host BUNDLE --plugin ID --context transition|filter|general "
                 "--input A.png [--input B.png] --fps F --frames N [--param \"NAME=VALUE\"]... "
                 "[--depth 8|16|32] [--render-scale S] [--threads T] [--shuffle] [--no-temporal] "
                 "-o DIR\n";
    std::exit(2);
}

double number(const std::string& text, const std::string& what) {
    std::size_t used = 0;
    double v = 0.0;
    try {
        v = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || !std::isfinite(v)) {
        usage(what + " must be a number, got \"" + text + "\"");
    }
    return v;
}

ParamKey key_value(const std::string& text, const std::string& name) {
    ParamKey k;
    if (!text.empty() && text[0] == '#') {
        if (text.size() != 7 ||
            text.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos) {
            usage("the colour of " + name + " must be #rrggbb, got " + text);
        }
        for (int c = 0; c < 3; ++c) {
            k.values[c] = static_cast<double>(std::stoi(
                              text.substr(1 + 2 * static_cast<std::size_t>(c), 2), nullptr, 16)) /
                          255.0;
        }
        return k;
    }
    k.values[0] = number(text, "the value of " + name);
    return k;
}

void parse_param(const std::string& arg, ofxhost::RenderSetup& setup) {
    const std::size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) {
        usage("--param takes \"NAME=VALUE\", got \"" + arg + "\"");
    }
    const std::string name = arg.substr(0, eq);
    const std::string value = arg.substr(eq + 1);
    std::vector<ParamKey> keys;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = value.find(',', start);
        const std::string item = value.substr(start, comma - start);
        const std::size_t at = item.find('@');
        ParamKey k = key_value(item.substr(0, at), name);
        if (at != std::string::npos) {
            k.time = number(item.substr(at + 1), "the frame of a key of " + name);
        } else if (value.find(',') != std::string::npos) {
            usage("each key of " + name + " needs its frame (VALUE@FRAME)");
        }
        keys.push_back(k);
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    setup.params[name] = keys;
}

Options parse(int argc, char** argv) {
    Options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::size_t i = 0;
    const auto next = [&](const std::string& flag) {
        if (i + 1 >= args.size()) {
            usage(flag + " needs a value");
        }
        return args[++i];
    };
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--list") {
            o.list = true;
        } else if (a == "--plugin") {
            o.setup.plugin = next(a);
        } else if (a == "--context") {
            o.setup.context = next(a);
        } else if (a == "--input") {
            o.inputs.push_back(next(a));
        } else if (a == "--fps") {
            o.setup.fps = number(next(a), "--fps");
        } else if (a == "--frames") {
            const double n = number(next(a), "--frames");
            if (n < 1 || n > 1e6 || n != std::floor(n)) {
                usage("--frames must be a whole number from 1");
            }
            o.setup.frames = static_cast<int32_t>(n);
        } else if (a == "--param") {
            o.params.push_back(next(a));
        } else if (a == "--depth") {
            const std::string d = next(a);
            o.setup.depth = d == "8"    ? PixelDepth::k8
                            : d == "16" ? PixelDepth::k16
                            : d == "32" ? PixelDepth::k32
                                        : (usage("--depth must be 8, 16 or 32"), PixelDepth::k8);
        } else if (a == "--render-scale") {
            o.setup.render_scale = number(next(a), "--render-scale");
        } else if (a == "--threads") {
            const double t = number(next(a), "--threads");
            if (t < 1 || t > 64 || t != std::floor(t)) {
                usage("--threads must be a whole number from 1 to 64");
            }
            o.threads = static_cast<int>(t);
        } else if (a == "--shuffle") {
            o.shuffle = true;
        } else if (a == "--no-temporal") {
            o.host.temporal = false;
        } else if (a == "-o") {
            o.out_dir = next(a);
        } else if (a == "--rows") {
            const std::string r = next(a);
            if (r != "top-down" && r != "bottom-up") {
                usage("--rows must be top-down or bottom-up");
            }
            o.host.layout.top_down = r == "top-down";
        } else if (a == "--origin") {
            const std::string v = next(a);
            const std::size_t comma = v.find(',');
            if (comma == std::string::npos) {
                usage("--origin takes X,Y");
            }
            o.host.layout.origin_x = static_cast<int32_t>(number(v.substr(0, comma), "--origin"));
            o.host.layout.origin_y = static_cast<int32_t>(number(v.substr(comma + 1), "--origin"));
        } else if (a == "--record") {
            o.record = next(a);
            o.faults.record = true;
        } else if (a == "--fail-call") {
            o.faults.fail_call = static_cast<int64_t>(number(next(a), "--fail-call"));
        } else if (a == "--refuse-output") {
            o.faults.refuse_output = true;
        } else if (!a.empty() && a[0] == '-') {
            usage("unknown option " + a);
        } else if (o.bundle.empty()) {
            o.bundle = a;
        } else {
            usage("unexpected argument " + a);
        }
    }
    if (o.bundle.empty()) {
        usage("no bundle given");
    }
    if (!o.list && (o.setup.plugin.empty() || o.setup.context.empty() || o.inputs.empty() ||
                    o.out_dir.empty())) {
        usage("--plugin, --context, --input and -o are needed to render");
    }
    for (const std::string& p : o.params) {
        parse_param(p, o.setup);
    }
    return o;
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::shared_ptr<HostFrame> host_frame(const ArgbImage& image) {
    auto f = std::make_shared<HostFrame>();
    f->width = image.width;
    f->height = image.height;
    f->depth = image.depth;
    const void* data =
        image.depth == PixelDepth::k8    ? static_cast<const void*>(image.samples8.data())
        : image.depth == PixelDepth::k16 ? static_cast<const void*>(image.samples16.data())
                                         : static_cast<const void*>(image.samples32.data());
    const std::size_t bytes = static_cast<std::size_t>(image.width) *
                              static_cast<std::size_t>(image.height) *
                              static_cast<std::size_t>(bytes_per_pixel(image.depth));
    f->pixels.resize(bytes);
    std::memcpy(f->pixels.data(), data, bytes);
    return f;
}

// A clip of still files: one file, or a pattern with the frame number.
ClipFrames file_clip(const std::string& path, int32_t frames) {
    struct Cache {
        std::mutex mutex;
        std::map<std::tuple<int32_t, int, int32_t>, std::shared_ptr<const HostFrame>> frames;
        std::map<int32_t, StraightImage> files;
    };
    auto cache = std::make_shared<Cache>();
    const bool moving = path.find('%') != std::string::npos;
    return [=](double time, PixelDepth depth, int32_t factor) -> std::shared_ptr<const HostFrame> {
        int32_t n = 0;
        if (moving) {
            n = std::clamp(static_cast<int32_t>(std::floor(time + 1e-9)), 0, frames - 1);
        }
        std::lock_guard<std::mutex> lock(cache->mutex);
        const auto key = std::make_tuple(n, static_cast<int>(depth), factor);
        if (auto it = cache->frames.find(key); it != cache->frames.end()) {
            return it->second;
        }
        auto file = cache->files.find(n);
        if (file == cache->files.end()) {
            std::string name = path;
            if (moving) {
                char text[4096];
                std::snprintf(text, sizeof text, path.c_str(), n);
                name = text;
            }
            file = cache->files.emplace(n, decode_png(read_file(name))).first;
        }
        auto frame = host_frame(downsample_layer(premultiply_layer(file->second, depth), factor));
        cache->frames[key] = frame;
        return frame;
    };
}

// The renderer's file rule for the output as the plug-in left it.
std::vector<uint8_t> frame_file(const ofxhost::RenderedFrame& f) {
    const std::size_t pixels =
        static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height);
    if (f.depth == PixelDepth::k32) {
        ArgbImage image = make_argb_image(f.width, f.height, PixelDepth::k32);
        std::memcpy(image.samples32.data(), f.pixels.data(), pixels * 16);
        return encode_exr(image);
    }
    StraightImage image =
        make_straight_image(f.width, f.height, f.depth == PixelDepth::k8 ? 8 : 16);
    for (std::size_t p = 0; p < pixels; ++p) {
        uint32_t argb[4];
        for (int c = 0; c < 4; ++c) {
            if (f.depth == PixelDepth::k8) {
                argb[c] = static_cast<uint8_t>(f.pixels[p * 4 + static_cast<std::size_t>(c)]);
            } else {
                uint16_t v = 0;
                std::memcpy(&v, f.pixels.data() + p * 8 + static_cast<std::size_t>(c) * 2, 2);
                argb[c] = v;
            }
        }
        uint16_t* out = &image.samples[p * 4];
        for (int c = 0; c < 3; ++c) {
            out[c] = f.depth == PixelDepth::k8 ? unpremultiply_8(argb[c + 1], argb[0])
                                               : unpremultiply_16(argb[c + 1], argb[0]);
        }
        out[3] = static_cast<uint16_t>(argb[0]);
    }
    return encode_png(image);
}

int run(const Options& o) {
    ofxhost::Host host(o.bundle, o.host);
    if (o.list) {
        for (const ofxhost::PluginEntry& p : host.plugins()) {
            std::cout << p.id;
            for (const std::string& c : p.contexts) {
                std::cout << ' ' << c;
            }
            std::cout << '\n';
        }
        return 0;
    }
    ofxhost::RenderSetup setup = o.setup;
    for (const std::string& input : o.inputs) {
        setup.inputs.push_back(file_clip(input, setup.frames));
    }
    std::filesystem::create_directories(o.out_dir);
    std::vector<int32_t> order(static_cast<std::size_t>(setup.frames));
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = static_cast<int32_t>(i);
    }
    if (o.shuffle) {
        std::shuffle(order.begin(), order.end(), std::mt19937(std::random_device{}()));
    }
    int failures = 0;
    {
        auto instance = host.instantiate(setup);
        instance->begin_sequence();
        std::atomic<std::size_t> next{0};
        std::mutex mutex;
        std::vector<std::string> log;
        const auto work = [&] {
            for (std::size_t i; (i = next.fetch_add(1)) < order.size();) {
                const int32_t n = order[i];
                const ofxhost::RenderedFrame f = instance->render(n, o.faults);
                std::vector<uint8_t> bytes;
                if (f.status == kOfxStatOK) {
                    bytes = frame_file(f);
                    write_file(std::filesystem::path(o.out_dir) / frame_file_name(n, setup.depth),
                               bytes);
                }
                std::lock_guard<std::mutex> lock(mutex);
                for (const std::string& line : f.log) {
                    log.push_back("frame " + std::to_string(n) + ": " + line);
                }
                if (f.status != kOfxStatOK) {
                    ++failures;
                    std::cerr << "pointillo-ofx-host: frame " << n << " failed (status " << f.status
                              << ")" << (f.message.empty() ? "" : ": ") << f.message << "\n";
                }
            }
        };
        std::vector<std::thread> threads;
        for (int t = 1; t < o.threads; ++t) {
            threads.emplace_back(work);
        }
        work();
        for (std::thread& t : threads) {
            t.join();
        }
        instance->end_sequence();
        if (!o.record.empty()) {
            std::ofstream out(o.record);
            for (const std::string& line : log) {
                out << line << '\n';
            }
        }
    }
    if (host.live_images() != 0 || host.live_allocations() != 0) {
        std::cerr << "pointillo-ofx-host: the plug-in kept " << host.live_images() << " images and "
                  << host.live_allocations() << " allocations\n";
        return 1;
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    try {
        return run(options);
    } catch (const std::exception& e) {
        std::cerr << "pointillo-ofx-host: " << e.what() << "\n";
        return 1;
    }
}
