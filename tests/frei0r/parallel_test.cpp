// Several instances draw at once, on their own threads, as MLT runs one
// instance per thread: every frame equals the same frame drawn alone.

#include "plugin_frame.h"
#include "plugin_params.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace pointillo::frei0r {
namespace {

constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 40;

// A soft-edged shape, different for each seed.
std::vector<uint32_t> input_frame(int seed) {
    std::vector<uint32_t> frame(kWidth * kHeight);
    auto* px = reinterpret_cast<uint8_t*>(frame.data());
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x, px += 4) {
            const int dx = static_cast<int>(x) - 20 - seed * 8;
            const int dy = static_cast<int>(y) - 20;
            const int d2 = dx * dx + dy * dy;
            px[0] = static_cast<uint8_t>(x * 4);
            px[1] = static_cast<uint8_t>(seed * 90);
            px[2] = static_cast<uint8_t>(y * 6);
            px[3] = static_cast<uint8_t>(d2 < 150 ? 255 : d2 < 200 ? 100 : 0);
        }
    }
    return frame;
}

struct Job {
    PluginKind kind;
    double time; // seconds
};

std::vector<uint32_t> draw(const Job& job, PluginInstance& instance) {
    const std::vector<uint32_t> a = input_frame(0);
    const std::vector<uint32_t> b = input_frame(2);
    std::vector<uint32_t> out(a.size());
    if (job.kind == PluginKind::kFilter) {
        set_double(instance.values, 0, job.time / 1.2);
    }
    render_plugin_frame(instance, job.time, a.data(), b.data(), out.data());
    return out;
}

std::unique_ptr<PluginInstance> particle_instance(PluginKind kind) {
    auto instance = make_instance(kind, kWidth, kHeight);
    const auto params = plugin_params(kind);
    for (size_t i = 0; i < params.size(); ++i) {
        if (std::string(params[i].name) == "Enable Additional Particles") {
            set_bool(instance->values, static_cast<int32_t>(i), 1.0);
        }
        if (std::string(params[i].name) == "Spacing") {
            set_double(instance->values, static_cast<int32_t>(i), plugin_value(params[i], 4.0));
        }
    }
    return instance;
}

TEST(Frei0rParallel, InstancesOnSeveralThreadsDrawTheFramesOfOneAlone) {
    std::vector<Job> jobs;
    for (int n = 0; n < 12; ++n) {
        jobs.push_back({n % 3 == 0 ? PluginKind::kFilter : PluginKind::kTransition, n * 0.1});
    }
    std::vector<std::vector<uint32_t>> alone;
    for (const Job& job : jobs) {
        alone.push_back(draw(job, *particle_instance(job.kind)));
    }

    constexpr int kThreads = 4;
    std::vector<std::vector<uint32_t>> together(jobs.size());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // One instance of each kind per thread, reused from frame to frame.
            auto filter = particle_instance(PluginKind::kFilter);
            auto transition = particle_instance(PluginKind::kTransition);
            for (size_t j = static_cast<size_t>(t); j < jobs.size(); j += kThreads) {
                together[j] =
                    draw(jobs[j], jobs[j].kind == PluginKind::kFilter ? *filter : *transition);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (size_t j = 0; j < jobs.size(); ++j) {
        EXPECT_EQ(together[j], alone[j]) << "frame " << j;
    }
    EXPECT_NE(alone[1], alone[2]) << "frames that do not move prove little";
}

} // namespace
} // namespace pointillo::frei0r
