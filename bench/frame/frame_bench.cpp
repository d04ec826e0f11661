// Whole frames (smart pre-render plus smart render through EffectMain) at
// 1920x1080 and 3840x2160: a hold, a transition, and a transition shedding
// particles, at 8 and 32 bits; `--threads=1,2` runs each frame at those
// thread counts of the host's iterate suite. The `share/` benchmarks time the stages of the
// same 1080p transition on the core functions a frame calls, so the frame time
// can be split into masks, clouds, dots, particles and conversion.
//
// Clouds are cached across frames, as in a real render of consecutive frames:
// the frame figures include cache hits, not builds; `share/cloud_build`
// shows what a miss costs.

#include "draw/canvas.h"
#include "draw/morph.h"
#include "draw/particles.h"
#include "hostsim/frame.h"
#include "hostsim/loaded_effect.h"
#include "source/cloud.h"
#include "source/source_mask.h"

#include <benchmark/benchmark.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__unix__)
#include <sys/resource.h>
#endif
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using pointillo::CancelCheck;
using pointillo::Canvas;
using pointillo::DotSettings;
using pointillo::SourceMask;

constexpr A_u_long kTimeScale = 30000; // 30 fps, frames 1000 units apart

// --threads=T[,T...]: the frames at each of these thread counts. Without it
// every frame runs on one thread, under the names it always had.
std::vector<int64_t> g_threads;

// Text-like sources: blocks ("letters") with gaps, one word per source,
// covering the middle of the frame like a title.
hostsim::Argb word_pixel(int32_t width, int32_t height, int32_t letters, int32_t x, int32_t y) {
    const int32_t cell = width / letters;
    const bool inside = y >= height * 2 / 5 && y < height * 3 / 5 && x >= width / 10 &&
                        x < width - width / 10 && x % cell >= cell / 6 &&
                        x % cell < cell - cell / 6;
    return inside ? hostsim::Argb{1.0f, 1.0f, 0.8f, 0.3f} : hostsim::Argb{0.0f, 0.0f, 0.0f, 0.0f};
}

// Two word layers in the source slots.
struct Session {
    hostsim::LoadedEffect effect{POINTILLO_MODULE_PATH};

    Session(int32_t width, int32_t height, bool particles) {
        for (int32_t slot = 1; slot <= 2; ++slot) {
            const int32_t letters = slot == 1 ? 5 : 7;
            const int32_t id = effect.host.layers.add(
                hostsim::pattern_layer(width, height, [=](int32_t x, int32_t y) {
                    return word_pixel(width, height, letters, x, y);
                }));
            effect.instance.set_value("Source " + std::to_string(slot), id);
        }
        effect.instance.set_value("Enable Additional Particles", particles ? 1 : 0);
    }
};

hostsim::FrameCall frame_request(int32_t width, int32_t height, double seconds, int32_t depth) {
    hostsim::FrameCall request;
    request.time = static_cast<A_long>(seconds * kTimeScale);
    request.time_step = 1000;
    request.time_scale = kTimeScale;
    request.width = width;
    request.height = height;
    request.depth = depth;
    return request;
}

// Page faults of this process so far (0 where they are not counted).
double page_faults() {
#if defined(__unix__)
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_minflt + usage.ru_majflt);
#else
    return 0.0;
#endif
}

// args: width, height, depth, kind (0 hold, 1 transition, 2 transition with
// particles), and with --threads the threads the host runs a frame's pieces on
// (else 1)
void BM_Frame(benchmark::State& state) {
    const auto width = static_cast<int32_t>(state.range(0));
    const auto height = static_cast<int32_t>(state.range(1));
    const auto depth = static_cast<int32_t>(state.range(2));
    const auto kind = state.range(3);
    Session session(width, height, kind == 2);
    hostsim::IterateSettings iterate;
    iterate.threads = g_threads.empty() ? 1 : static_cast<int32_t>(state.range(4));
    session.effect.host.iterate.set(iterate);
    // Defaults: 0.8 s hold then 1.2 s transition; 1.4 s is mid-transition.
    const double seconds = kind == 0 ? 0.4 : 1.4;
    const hostsim::FrameCall request = frame_request(width, height, seconds, depth);
    // The first frame makes the host's layer pixels and the module's clouds;
    // later frames of a render reuse both.
    const hostsim::FrameResult warm_up = session.effect.render(request);
    if (!warm_up.ok()) {
        state.SkipWithError(warm_up.return_msg.c_str());
        return;
    }
    const double faults_before = page_faults();
    double module_seconds = 0.0;
    for (auto _ : state) {
        const hostsim::FrameResult result = session.effect.render(request);
        if (!result.ok()) {
            state.SkipWithError(result.return_msg.c_str());
            break;
        }
        module_seconds += result.module_seconds;
        benchmark::DoNotOptimize(result.output.data());
    }
    state.counters["ms_per_frame"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 1e-3,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    // The module's share: inside its two commands (host callbacks included),
    // without the emulated host making, filling and copying the output world.
    state.counters["module_ms_per_frame"] =
        benchmark::Counter(module_seconds * 1e3, benchmark::Counter::kAvgIterations);
    // The host's output world of every frame is faulted in too: a fixed share.
    state.counters["faults_per_frame"] =
        benchmark::Counter(page_faults() - faults_before, benchmark::Counter::kAvgIterations);
}

void frame_args(benchmark::internal::Benchmark* b) {
    for (const auto& size : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
        for (int depth : {8, 32}) {
            for (int kind : {0, 1, 2}) {
                if (g_threads.empty()) {
                    b->Args({size.first, size.second, depth, kind});
                }
                for (const int64_t threads : g_threads) {
                    b->Args({size.first, size.second, depth, kind, threads});
                }
            }
        }
    }
    if (g_threads.empty()) {
        b->ArgNames({"w", "h", "bits", "kind"});
    } else {
        b->ArgNames({"w", "h", "bits", "kind", "threads"});
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

// ---- shares of a 1080p transition frame, on the core functions ----

struct Stages {
    int32_t width = 1920;
    int32_t height = 1080;
    std::vector<std::byte> from_layer;
    std::vector<std::byte> to_layer;
    SourceMask from_mask;
    SourceMask to_mask;
    DotSettings dots;

    Stages() {
        from_layer = make_layer(5);
        to_layer = make_layer(7);
        from_mask = sample(from_layer);
        to_mask = sample(to_layer);
    }

    std::vector<std::byte> make_layer(int32_t letters) const {
        std::vector<std::byte> bytes(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const hostsim::Argb p = word_pixel(width, height, letters, x, y);
                std::byte* out = bytes.data() + (static_cast<size_t>(y) * width + x) * 4;
                for (int c = 0; c < 4; ++c) {
                    out[c] = static_cast<std::byte>(static_cast<int>(p[c] * p[0] * 255.0f + 0.5f));
                }
                out[0] = static_cast<std::byte>(static_cast<int>(p[0] * 255.0f + 0.5f));
            }
        }
        return bytes;
    }

    SourceMask sample(const std::vector<std::byte>& layer) const {
        const pointillo::ConstPixelView view{layer.data(), width, height, width * 4,
                                             pointillo::PixelDepth::k8};
        return pointillo::sample_source_mask(width, height, view, {0, 0}, CancelCheck{});
    }
};

Stages& stages() {
    static Stages s;
    return s;
}

void BM_ShareMasks(benchmark::State& state) {
    Stages& s = stages();
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.sample(s.from_layer));
        benchmark::DoNotOptimize(s.sample(s.to_layer));
    }
}
BENCHMARK(BM_ShareMasks)->Name("share/masks_two_1080p")->Unit(benchmark::kMillisecond);

void BM_ShareCloudBuild(benchmark::State& state) {
    Stages& s = stages();
    for (auto _ : state) {
        benchmark::DoNotOptimize(pointillo::build_cloud(s.from_mask, s.dots));
        benchmark::DoNotOptimize(pointillo::build_cloud(s.to_mask, s.dots));
    }
}
BENCHMARK(BM_ShareCloudBuild)->Name("share/cloud_build_two_1080p")->Unit(benchmark::kMillisecond);

void BM_ShareCloudHit(benchmark::State& state) {
    Stages& s = stages();
    for (auto _ : state) {
        benchmark::DoNotOptimize(pointillo::get_cloud(s.from_mask, s.dots));
        benchmark::DoNotOptimize(pointillo::get_cloud(s.to_mask, s.dots));
    }
}
BENCHMARK(BM_ShareCloudHit)->Name("share/cloud_hit_two")->Unit(benchmark::kMicrosecond);

void BM_ShareDots(benchmark::State& state) {
    Stages& s = stages();
    const auto a = pointillo::get_cloud(s.from_mask, s.dots);
    const auto b = pointillo::get_cloud(s.to_mask, s.dots);
    Canvas canvas;
    for (auto _ : state) {
        pointillo::render_morph(
            {{&s.from_mask, a.get()}, {&s.to_mask, b.get()}, 0.5f, s.width, s.height}, s.dots,
            canvas, CancelCheck{});
        benchmark::DoNotOptimize(canvas.pixels.data());
    }
}
BENCHMARK(BM_ShareDots)->Name("share/dots_morph_1080p")->Unit(benchmark::kMillisecond);

// Particles of one emission step at the default rate (8 particles) and at the
// cap (1000), emitted and drawn.
void BM_ShareParticles(benchmark::State& state) {
    Stages& s = stages();
    const auto a = pointillo::get_cloud(s.from_mask, s.dots);
    const auto b = pointillo::get_cloud(s.to_mask, s.dots);
    pointillo::ParticleSettings particles;
    particles.enabled = true;
    particles.emission_rate = static_cast<float>(state.range(0));
    Canvas canvas;
    pointillo::reset_canvas(canvas, s.width, s.height);
    std::vector<pointillo::Particle> list;
    for (auto _ : state) {
        pointillo::emit_particles(list, {&s.from_mask, a.get()}, {&s.to_mask, b.get()}, s.dots,
                                  particles, {0.49f, 0.5f, 0.51f, 0.01f, 0.3f, 0.05f, 28});
        pointillo::draw_particles(list, s.width, s.height, s.dots.edge_softness, canvas);
    }
    state.counters["particles"] = static_cast<double>(list.size());
}
BENCHMARK(BM_ShareParticles)
    ->Name("share/particles_one_step")
    ->Arg(160)
    ->Arg(20000)
    ->Unit(benchmark::kMicrosecond);

void BM_ShareConvert(benchmark::State& state) {
    Stages& s = stages();
    Canvas canvas;
    pointillo::reset_canvas(canvas, s.width, s.height);
    const auto depth = state.range(0) == 8 ? pointillo::PixelDepth::k8 : pointillo::PixelDepth::k32;
    const std::ptrdiff_t rowbytes = s.width * pointillo::bytes_per_pixel(depth);
    std::vector<std::byte> out(static_cast<size_t>(rowbytes) * static_cast<size_t>(s.height));
    for (auto _ : state) {
        pointillo::convert_canvas(
            canvas, pointillo::PixelView{out.data(), s.width, s.height, rowbytes, depth},
            CancelCheck{});
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ShareConvert)
    ->Name("share/convert_1080p")
    ->Arg(8)
    ->Arg(32)
    ->Unit(benchmark::kMillisecond);

} // namespace

// Frames allocate tens of megabytes (canvas, masks, worlds). glibc hands such
// blocks back to the kernel on every free, and on virtual machines faulting
// them in again costs more than drawing the frame; a host keeps its memory,
// so the benchmark does too. POINTILLO_BENCH_SYSTEM_MALLOC=1 measures without.
int main(int argc, char** argv) {
#if defined(__GLIBC__)
    if (std::getenv("POINTILLO_BENCH_SYSTEM_MALLOC") == nullptr) {
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
    }
#endif
    // Our flag goes before the library sees the command line.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--threads=")) {
            std::string_view list = arg.substr(10);
            while (!list.empty()) {
                const std::size_t comma = std::min(list.find(','), list.size());
                const int64_t threads = std::atoll(std::string(list.substr(0, comma)).c_str());
                if (threads < 1) {
                    std::fprintf(stderr, "bench_frame: --threads takes counts of at least 1\n");
                    return 2;
                }
                g_threads.push_back(threads);
                list.remove_prefix(std::min(comma + 1, list.size()));
            }
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    benchmark::RegisterBenchmark("BM_Frame", BM_Frame)->Apply(frame_args);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
