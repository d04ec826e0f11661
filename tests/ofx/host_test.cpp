// The plug-ins in the test host, in process: every context at every depth
// and both render scales gives the same frames in order, shuffled and on
// several threads; image layouts do not change a pixel; every suite call a
// render makes, failed in turn, gives the right status, leaks nothing and
// leaves the next render as it was; a refused output image is a failed
// render with a message; with temporal access each emission step fetches its
// own time's frame.

#include "host.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace pointillo::test {
namespace {

using ofxhost::HostFrame;
using ofxhost::ParamKey;
using ofxhost::RenderedFrame;

constexpr int32_t kWidth = 48;
constexpr int32_t kHeight = 32;

// A soft disc over a half-transparent band, moving right by `shift` pixels:
// every kind of alpha, and a frame that changes with time when shifted.
void straight_pixel(double x, double y, double shift, double out[4]) {
    const double d = std::hypot(x - 18.5 - shift, y - 15.5);
    const double disc = std::clamp((11.0 - d) / 2.0, 0.0, 1.0);
    const double band = y > 20.0 && y < 28.0 ? 0.5 : 0.0;
    out[3] = std::max(disc, band);
    out[0] = disc > 0.0 ? 0.9 : 0.2;
    out[1] = x / kWidth;
    out[2] = y / kHeight;
}

// The clip's frame at the host's render scale 1 / factor, premultiplied in
// the core's ranges.
std::shared_ptr<const HostFrame> make_frame(double shift, PixelDepth depth, int32_t factor) {
    auto f = std::make_shared<HostFrame>();
    f->width = (kWidth + factor - 1) / factor;
    f->height = (kHeight + factor - 1) / factor;
    f->depth = depth;
    f->pixels.resize(static_cast<std::size_t>(f->width * f->height * bytes_per_pixel(depth)));
    for (int32_t y = 0; y < f->height; ++y) {
        for (int32_t x = 0; x < f->width; ++x) {
            double s[4];
            straight_pixel((x + 0.5) * factor, (y + 0.5) * factor, shift, s);
            const double argb[4] = {s[3], s[0] * s[3], s[1] * s[3], s[2] * s[3]};
            std::byte* px = f->pixels.data() + (static_cast<std::size_t>(y) * f->width + x) *
                                                   static_cast<std::size_t>(bytes_per_pixel(depth));
            for (int c = 0; c < 4; ++c) {
                if (depth == PixelDepth::k8) {
                    px[c] = static_cast<std::byte>(std::lround(argb[c] * 255.0));
                } else if (depth == PixelDepth::k16) {
                    const auto v = static_cast<uint16_t>(std::lround(argb[c] * 32768.0));
                    std::memcpy(px + c * 2, &v, 2);
                } else {
                    const auto v = static_cast<float>(argb[c]);
                    std::memcpy(px + c * 4, &v, 4);
                }
            }
        }
    }
    return f;
}

ofxhost::ClipFrames still_clip(double shift) {
    return [shift](double, PixelDepth depth, int32_t factor) {
        return make_frame(shift, depth, factor);
    };
}

// Frame n of the clip from time n to n + 1, moving 3 pixels a frame.
ofxhost::ClipFrames moving_clip() {
    return [](double time, PixelDepth depth, int32_t factor) {
        return make_frame(3.0 * std::floor(time + 1e-9), depth, factor);
    };
}

std::map<std::string, std::vector<ParamKey>> particle_params() {
    const auto constant = [](double v) { return std::vector<ParamKey>{ParamKey{0.0, {v, 0, 0}}}; };
    return {{"Spacing", constant(4.0)},
            {"Dot Size", constant(3.5)},
            {"Enable Additional Particles", constant(1.0)},
            {"Emission Rate (per second)", constant(600.0)},
            {"Life (seconds)", constant(0.4)}};
}

ofxhost::RenderSetup setup_for(const std::string& plugin, const std::string& context) {
    ofxhost::RenderSetup s;
    s.plugin = plugin;
    s.context = context;
    s.fps = 25.0;
    s.frames = 6;
    s.inputs.push_back(still_clip(0.0));
    if (plugin == "org.pointillo.Transition") {
        s.inputs.push_back(still_clip(14.0));
    }
    s.params = particle_params();
    if (plugin == "org.pointillo.Filter") {
        s.params["Progress"] = {ParamKey{0.0, {0.0, 0, 0}}, ParamKey{5.0, {1.0, 0, 0}}};
    }
    if (context == "general" && plugin == "org.pointillo.Transition") {
        s.params["Hold (seconds)"] = {ParamKey{0.0, {0.04, 0, 0}}};
        s.params["Transition (seconds)"] = {ParamKey{0.0, {0.12, 0, 0}}};
    }
    return s;
}

std::vector<RenderedFrame> render_all(ofxhost::Instance& instance, int32_t frames, int threads,
                                      bool shuffle) {
    std::vector<int32_t> order(static_cast<std::size_t>(frames));
    for (int32_t i = 0; i < frames; ++i) {
        order[static_cast<std::size_t>(i)] = i;
    }
    if (shuffle) {
        std::shuffle(order.begin(), order.end(), std::mt19937(7));
    }
    std::vector<RenderedFrame> out(static_cast<std::size_t>(frames));
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < order.size();) {
            const int32_t n = order[i];
            out[static_cast<std::size_t>(n)] = instance.render(n);
        }
    };
    instance.begin_sequence();
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) {
        pool.emplace_back(work);
    }
    work();
    for (std::thread& t : pool) {
        t.join();
    }
    instance.end_sequence();
    return out;
}

const char* depth_name(PixelDepth d) {
    return d == PixelDepth::k8 ? "8" : d == PixelDepth::k16 ? "16" : "32";
}

TEST(OfxHost, ListsBothPluginsAndTheirContexts) {
    ofxhost::Host host(POINTILLO_OFX_BUNDLE);
    ASSERT_EQ(host.plugins().size(), 2u);
    EXPECT_EQ(host.plugins()[0].id, "org.pointillo.Transition");
    EXPECT_EQ(host.plugins()[0].contexts, (std::vector<std::string>{"transition", "general"}));
    EXPECT_EQ(host.plugins()[1].id, "org.pointillo.Filter");
    EXPECT_EQ(host.plugins()[1].contexts, (std::vector<std::string>{"filter", "general"}));
}

TEST(OfxHost, EveryContextDepthAndScaleGivesTheSameFramesInAnyOrderOnAnyThreads) {
    struct Row {
        const char* plugin;
        const char* context;
    };
    const Row rows[] = {{"org.pointillo.Transition", "transition"},
                        {"org.pointillo.Transition", "general"},
                        {"org.pointillo.Filter", "filter"},
                        {"org.pointillo.Filter", "general"}};
    ofxhost::Host host(POINTILLO_OFX_BUNDLE);
    for (const Row& row : rows) {
        for (PixelDepth depth : {PixelDepth::k8, PixelDepth::k16, PixelDepth::k32}) {
            for (double scale : {1.0, 0.5}) {
                const std::string what = std::string(row.plugin) + " " + row.context + " depth " +
                                         depth_name(depth) + " scale " + std::to_string(scale);
                ofxhost::RenderSetup s = setup_for(row.plugin, row.context);
                s.depth = depth;
                s.render_scale = scale;
                auto instance = host.instantiate(s);
                const auto in_order = render_all(*instance, s.frames, 1, false);
                const auto shuffled = render_all(*instance, s.frames, 3, true);
                for (std::size_t n = 0; n < in_order.size(); ++n) {
                    ASSERT_EQ(in_order[n].status, kOfxStatOK)
                        << what << ": " << in_order[n].message;
                    EXPECT_EQ(in_order[n].width, scale == 1.0 ? kWidth : kWidth / 2) << what;
                    EXPECT_EQ(shuffled[n].status, kOfxStatOK) << what;
                    EXPECT_TRUE(shuffled[n].pixels == in_order[n].pixels)
                        << what << ": frame " << n << " differs shuffled on 3 threads";
                }
                // Frames that are all alike prove nothing about time.
                EXPECT_FALSE(in_order.front().pixels == in_order[3].pixels) << what;
            }
        }
        EXPECT_EQ(host.live_images(), 0);
        EXPECT_EQ(host.live_allocations(), 0);
    }
}

TEST(OfxHost, PaddedNegativeAndOffsetImagesGiveTheSameFrames) {
    std::vector<std::vector<RenderedFrame>> results;
    ofxhost::ImageLayout layouts[3];
    layouts[1].top_down = true;
    layouts[1].padding = 0;
    layouts[2].origin_x = 20;
    layouts[2].origin_y = -12;
    layouts[2].padding = 36;
    for (const ofxhost::ImageLayout& layout : layouts) {
        ofxhost::HostOptions options;
        options.layout = layout;
        ofxhost::Host host(POINTILLO_OFX_BUNDLE, options);
        for (double scale : {1.0, 0.5}) {
            ofxhost::RenderSetup s = setup_for("org.pointillo.Transition", "transition");
            s.render_scale = scale;
            auto instance = host.instantiate(s);
            results.push_back(render_all(*instance, s.frames, 1, false));
        }
    }
    for (std::size_t r = 2; r < results.size(); ++r) {
        for (std::size_t n = 0; n < results[r].size(); ++n) {
            ASSERT_EQ(results[r][n].status, kOfxStatOK) << results[r][n].message;
            EXPECT_TRUE(results[r][n].pixels == results[r % 2][n].pixels)
                << "layout " << r / 2 << ", scale " << (r % 2 == 0 ? 1 : 0.5) << ", frame " << n;
        }
    }
}

// What a render owes the user when the host fails the call named.
OfxStatus expected_status(const std::string& call) {
    // The plug-in needs these and cannot go on without them.
    if (call == "memoryAlloc" || call == "clipGetImage") {
        return kOfxStatErrMemory;
    }
    // These it can do without: its own thread, the message left as it was,
    // memory the host freed anyway.
    const std::set<std::string> harmless = {"multiThread", "multiThreadNumCPUs",
                                            "multiThreadIsSpawnedThread", "clearPersistentMessage",
                                            "memoryFree"};
    return harmless.count(call) != 0 ? kOfxStatOK : kOfxStatFailed;
}

TEST(OfxHost, EverySuiteCallOfARenderFailedInTurnGivesItsStatusAndLeaksNothing) {
    ofxhost::HostOptions options;
    options.cpus = 4;
    ofxhost::Host host(POINTILLO_OFX_BUNDLE, options);
    ofxhost::RenderSetup s = setup_for("org.pointillo.Transition", "transition");
    auto instance = host.instantiate(s);
    ofxhost::RenderFaults record;
    record.record = true;
    const RenderedFrame reference = instance->render(3, record);
    ASSERT_EQ(reference.status, kOfxStatOK) << reference.message;
    // Every suite is exercised by the render.
    for (const char* call :
         {"propGetDouble", "clipGetImage", "clipReleaseImage", "paramGetValueAtTime", "memoryAlloc",
          "memoryFree", "multiThread", "clearPersistentMessage"}) {
        EXPECT_TRUE(std::any_of(
            reference.log.begin(), reference.log.end(),
            [&](const std::string& line) { return line.rfind(std::string(call) + " ", 0) == 0; }))
            << call << " is never called";
    }
    ASSERT_GT(reference.calls, 50);
    for (int64_t k = 1; k <= reference.calls; ++k) {
        ofxhost::RenderFaults faults;
        faults.fail_call = k;
        const RenderedFrame failed = instance->render(3, faults);
        ASSERT_EQ(failed.failed_call, k) << "call " << k << " was not reached";
        const std::string what = "call " + std::to_string(k) + " (" + failed.failed_name + ")";
        EXPECT_EQ(failed.status, expected_status(failed.failed_name)) << what;
        if (failed.status != kOfxStatOK) {
            EXPECT_FALSE(failed.message.empty()) << what << " left no message";
        }
        ASSERT_EQ(host.live_images(), 0) << what;
        ASSERT_EQ(host.live_allocations(), 0) << what;
        const RenderedFrame again = instance->render(3);
        ASSERT_EQ(again.status, kOfxStatOK) << what;
        ASSERT_TRUE(again.pixels == reference.pixels) << "the render after " << what << " differs";
    }
}

TEST(OfxHost, ARefusedOutputImageIsAFailedRenderWithAMessage) {
    ofxhost::Host host(POINTILLO_OFX_BUNDLE);
    for (const char* plugin : {"org.pointillo.Transition", "org.pointillo.Filter"}) {
        auto instance = host.instantiate(setup_for(plugin, "general"));
        const RenderedFrame reference = instance->render(2);
        ofxhost::RenderFaults refuse;
        refuse.refuse_output = true;
        const RenderedFrame refused = instance->render(2, refuse);
        EXPECT_EQ(refused.status, kOfxStatFailed) << plugin;
        EXPECT_NE(refused.message.find("no output image"), std::string::npos) << refused.message;
        EXPECT_EQ(host.live_images(), 0);
        const RenderedFrame again = instance->render(2);
        EXPECT_TRUE(again.message.empty()) << "the message stays after a good render";
        EXPECT_TRUE(again.pixels == reference.pixels);
    }
}

// The times of the input frames a render fetched, from its call record.
std::multiset<double> fetch_times(const RenderedFrame& frame, const std::string& clip) {
    std::multiset<double> times;
    const std::string prefix = "clipGetImage " + clip + " ";
    for (const std::string& line : frame.log) {
        if (line.rfind(prefix, 0) == 0) {
            times.insert(std::stod(line.substr(prefix.size())));
        }
    }
    return times;
}

TEST(OfxHost, WithTemporalAccessEachEmissionStepFetchesItsOwnTimesFrame) {
    // Frame 10 at 25 fps is 0.4 s: particles of 0.4 s life come from the
    // samples 0 to 8 (0, 0.05 ... 0.4 s), frames 0, 1.25 ... 10.
    const auto setup = [] {
        ofxhost::RenderSetup s = setup_for("org.pointillo.Transition", "transition");
        s.inputs = {moving_clip(), still_clip(14.0)};
        s.frames = 12;
        return s;
    };
    ofxhost::RenderFaults record;
    record.record = true;
    std::vector<std::byte> temporal_pixels;
    {
        ofxhost::Host host(POINTILLO_OFX_BUNDLE);
        auto instance = host.instantiate(setup());
        const RenderedFrame f = instance->render(10, record);
        ASSERT_EQ(f.status, kOfxStatOK) << f.message;
        const std::multiset<double> times = fetch_times(f, "SourceFrom");
        const std::set<double> distinct(times.begin(), times.end());
        std::set<double> steps = {10.0};
        for (int k = 0; k <= 8; ++k) {
            steps.insert(k * 25.0 / 20.0);
        }
        for (double t : steps) {
            EXPECT_EQ(distinct.count(t), 1u) << "no frame fetched at " << t;
        }
        for (double t : distinct) {
            EXPECT_EQ(steps.count(t), 1u) << "a frame fetched at " << t;
        }
        temporal_pixels = f.pixels;
    }
    ofxhost::HostOptions options;
    options.temporal = false;
    ofxhost::Host host(POINTILLO_OFX_BUNDLE, options);
    auto instance = host.instantiate(setup());
    const RenderedFrame f = instance->render(10, record);
    ASSERT_EQ(f.status, kOfxStatOK) << f.message;
    for (double t : fetch_times(f, "SourceFrom")) {
        EXPECT_EQ(t, 10.0) << "a host without temporal access gives the current frame";
    }
    // The moving clip's history shows in the particles.
    EXPECT_FALSE(f.pixels == temporal_pixels);
}

} // namespace
} // namespace pointillo::test
