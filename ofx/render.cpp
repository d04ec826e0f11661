// The render action: the core's frame plan and render over the host's clips
// and parameters, at the render action's time and scale.

#include "common/limits.h"
#include "common/parallel.h"
#include "draw/canvas.h"
#include "frame/frame_plan.h"
#include "frame/settings_read.h"
#include "instance.h"
#include "pixels.h"
#include "render/render_frame.h"
#include "suites.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace pointillo::ofx {
namespace {

const OfxPropertySuiteV1& props() {
    return *suites().property;
}

// Host units per frame: a frame rate F gives the time scale F x 1000, so
// frame n is at n x 1000 units, as the renderer counts them.
constexpr double kUnitsPerFrame = 1000.0;

int32_t clamp_int32(double v) {
    constexpr auto kLow = static_cast<double>(std::numeric_limits<int32_t>::min());
    constexpr auto kHigh = static_cast<double>(std::numeric_limits<int32_t>::max());
    return std::isnan(v) ? 0 : static_cast<int32_t>(std::clamp(v, kLow, kHigh));
}

int32_t units_of(double frames) {
    return clamp_int32(std::round(frames * kUnitsPerFrame));
}

double frames_of(int32_t units) {
    return static_cast<double>(units) / kUnitsPerFrame;
}

uint32_t time_scale_of(double fps) {
    if (!(fps > 0.0) || !std::isfinite(fps)) {
        throw std::runtime_error("The host gave no usable frame rate");
    }
    return static_cast<uint32_t>(
        std::clamp(std::round(fps * kUnitsPerFrame), 1.0, static_cast<double>(INT32_MAX)));
}

float scale_of(double s) {
    // A render scale is a fraction of full resolution.
    return !(s > 0.0) || s > 1.0 ? 1.0f : std::max(static_cast<float>(s), 1.0f / 64.0f);
}

// An image fetched from a clip, released when it goes out of scope.
class ScopedImage {
  public:
    ScopedImage(OfxImageClipHandle clip, double time) {
        const OfxStatus status = suites().effect->clipGetImage(clip, time, nullptr, &handle_);
        if (status == kOfxStatOK && handle_ == nullptr) {
            status_ = kOfxStatFailed;
        } else {
            status_ = status;
        }
        if (status_ != kOfxStatOK && handle_ != nullptr) {
            // A host that refused and still handed something over gets it back.
            suites().effect->clipReleaseImage(handle_);
            handle_ = nullptr;
        }
    }
    ~ScopedImage() {
        if (handle_ != nullptr) {
            suites().effect->clipReleaseImage(handle_);
        }
    }
    ScopedImage(const ScopedImage&) = delete;
    ScopedImage& operator=(const ScopedImage&) = delete;

    OfxStatus status() const { return status_; }
    OfxPropertySetHandle get() const { return handle_; }

    // On the success path a refused release is the host's failure.
    void release() {
        OfxPropertySetHandle h = handle_;
        handle_ = nullptr;
        check(suites().effect->clipReleaseImage(h), "clipReleaseImage");
    }

  private:
    OfxPropertySetHandle handle_ = nullptr;
    OfxStatus status_ = kOfxStatOK;
};

// Memory from the host's memory suite, freed when it goes out of scope.
class ScopedMemory {
  public:
    ScopedMemory(OfxImageEffectHandle effect, std::size_t bytes) {
        const OfxStatus status = suites().memory->memoryAlloc(effect, bytes, &data_);
        if (status != kOfxStatOK || data_ == nullptr) {
            data_ = nullptr;
            throw OfxFailure(kOfxStatErrMemory, "The host had no memory for a frame buffer");
        }
    }
    ~ScopedMemory() { suites().memory->memoryFree(data_); }
    ScopedMemory(const ScopedMemory&) = delete;
    ScopedMemory& operator=(const ScopedMemory&) = delete;

    std::byte* data() const { return static_cast<std::byte*>(data_); }

  private:
    void* data_ = nullptr;
};

// How many threads the host offers for a pass of `count` pieces; 1 inside
// a thread the host spawned (its suite cannot nest), or when it will not say.
unsigned int host_threads(int32_t count) {
    const OfxMultiThreadSuiteV1* mt = suites().thread;
    unsigned int cpus = 1;
    if (mt->multiThreadNumCPUs(&cpus) != kOfxStatOK || cpus < 1) {
        cpus = 1;
    }
    if (mt->multiThreadIsSpawnedThread() != 0) {
        return 1;
    }
    return std::min(cpus, static_cast<unsigned int>(std::max<int32_t>(count, 1)));
}

// The core's parallel-for on the host's multithread suite: each host thread
// takes the next piece until none is left. A piece's exception stays on its
// thread (nothing may cross into the host), stops the pieces not yet taken
// and is raised here once every thread has returned. Where the host cannot
// launch threads the pieces run here: the frame is the same either way.
void host_parallel_for(int32_t count, ParallelBody body) {
    const unsigned int threads = host_threads(count);
    if (threads <= 1) {
        kSerialFor(count, body);
        return;
    }
    struct Job {
        ParallelBody* body = nullptr;
        int32_t count = 0;
        std::atomic<int32_t> next{0};
        std::mutex mutex;
        std::exception_ptr error;
    } job;
    job.body = &body;
    job.count = count;
    const auto run = [](unsigned int, unsigned int, void* arg) {
        Job& j = *static_cast<Job*>(arg);
        for (int32_t piece; (piece = j.next.fetch_add(1)) < j.count;) {
            try {
                (*j.body)(piece);
            } catch (...) {
                std::lock_guard<std::mutex> lock(j.mutex);
                if (!j.error) {
                    j.error = std::current_exception();
                }
                j.next.store(j.count);
            }
        }
    };
    if (suites().thread->multiThread(run, threads, &job) != kOfxStatOK) {
        // Nothing ran, or some pieces did before the host gave up: the pieces
        // left run here (each piece writes only its own part).
        for (int32_t piece; (piece = job.next.fetch_add(1)) < count;) {
            body(piece);
        }
    }
    if (job.error) {
        std::rethrow_exception(job.error);
    }
}

// Rows 0..count of a conversion as pieces of 16 rows on the host's threads.
template <typename Rows> void for_rows(int32_t count, const Rows& rows) {
    constexpr int32_t kRows = 16;
    const int32_t pieces = (count + kRows - 1) / kRows;
    host_parallel_for(
        pieces, [&](int32_t piece) { rows(piece * kRows, std::min(count, (piece + 1) * kRows)); });
}

PixelDepth depth_of(const char* depth) {
    const std::string d = depth != nullptr ? depth : "";
    if (d == kOfxBitDepthByte) {
        return PixelDepth::k8;
    }
    if (d == kOfxBitDepthShort) {
        return PixelDepth::k16;
    }
    if (d == kOfxBitDepthFloat) {
        return PixelDepth::k32;
    }
    throw OfxFailure(kOfxStatErrImageFormat, "The host gave an image of depth " + d +
                                                 "; the effect draws bytes, shorts and floats");
}

OfxImageDesc describe_image(OfxPropertySetHandle image) {
    OfxImageDesc d;
    void* data = nullptr;
    check(props().propGetPointer(image, kOfxImagePropData, 0, &data), kOfxImagePropData);
    d.data = static_cast<std::byte*>(data);
    int rect[4] = {0, 0, 0, 0};
    check(props().propGetIntN(image, kOfxImagePropBounds, 4, rect), kOfxImagePropBounds);
    d.bounds = {rect[0], rect[1], rect[2], rect[3]};
    check(props().propGetIntN(image, kOfxImagePropRegionOfDefinition, 4, rect),
          kOfxImagePropRegionOfDefinition);
    d.rod = {rect[0], rect[1], rect[2], rect[3]};
    int rowbytes = 0;
    check(props().propGetInt(image, kOfxImagePropRowBytes, 0, &rowbytes), kOfxImagePropRowBytes);
    d.rowbytes = rowbytes;
    char* text = nullptr;
    check(props().propGetString(image, kOfxImageEffectPropPixelDepth, 0, &text),
          kOfxImageEffectPropPixelDepth);
    d.depth = depth_of(text);
    check(props().propGetString(image, kOfxImageEffectPropComponents, 0, &text),
          kOfxImageEffectPropComponents);
    const std::string components = text != nullptr ? text : "";
    if (components != kOfxImageComponentRGBA && components != kOfxImageComponentRGB) {
        throw OfxFailure(kOfxStatErrImageFormat, "The host gave an image of components " +
                                                     components +
                                                     "; the effect draws RGBA and RGB");
    }
    d.rgb = components == kOfxImageComponentRGB;
    check(props().propGetString(image, kOfxImageEffectPropPreMultiplication, 0, &text),
          kOfxImageEffectPropPreMultiplication);
    const std::string alpha = text != nullptr ? text : "";
    d.alpha = alpha == kOfxImageUnPreMultiplied ? Alpha::kStraight
              : alpha == kOfxImageOpaque        ? Alpha::kOpaque
                                                : Alpha::kPremultiplied;
    const int64_t width = int64_t{d.bounds.x2} - d.bounds.x1;
    const int64_t height = int64_t{d.bounds.y2} - d.bounds.y1;
    const bool empty = width <= 0 || height <= 0;
    if (!empty && (!pixel_count_ok(width, height) || d.data == nullptr ||
                   std::abs(static_cast<int64_t>(d.rowbytes)) < width * ofx_pixel_bytes(d))) {
        throw OfxFailure(kOfxStatErrImageFormat, "The host gave an image whose bounds, rows or "
                                                 "data do not fit together");
    }
    if (empty) {
        d.data = nullptr;
        d.bounds = {0, 0, 0, 0};
    }
    return d;
}

struct Fetch {
    int input = 0;     // 0 or 1
    double time = 0.0; // frames
};

struct LayerSize {
    int32_t ref_width = 0; // full-resolution pixels
    int32_t ref_height = 0;
    OutputSize scaled; // at the render scale
};

// The layer of `clip`; `fallback`'s when the clip has nothing (an input not
// connected).
LayerSize layer_size(const InstanceClip& clip, double time, float sx, float sy,
                     const LayerSize* fallback) {
    OfxRectD rod{};
    check(suites().effect->clipGetRegionOfDefinition(clip.handle, time, &rod),
          "clipGetRegionOfDefinition");
    double par = 1.0;
    check(props().propGetDouble(clip.props, kOfxImagePropPixelAspectRatio, 0, &par),
          kOfxImagePropPixelAspectRatio);
    if (!(par > 0.0) || !std::isfinite(par)) {
        par = 1.0;
    }
    // Canonical coordinates are square; the layer's pixels may not be.
    const double w = std::round((rod.x2 - rod.x1) / par);
    const double h = std::round(rod.y2 - rod.y1);
    if (fallback != nullptr && !(w >= 1.0 && h >= 1.0)) {
        return *fallback;
    }
    if (!(w >= 1.0) || !(h >= 1.0) || !pixel_count_ok(clamp_int32(w), clamp_int32(h))) {
        throw std::runtime_error("Unsupported output dimensions");
    }
    LayerSize size;
    size.ref_width = clamp_int32(w);
    size.ref_height = clamp_int32(h);
    size.scaled = output_size(sx, sy, size.ref_width, size.ref_height);
    return size;
}

OfxRectI clipped_window(const OfxImageDesc& out, const int window[4]) {
    OfxRectI w{std::max(window[0], out.bounds.x1), std::max(window[1], out.bounds.y1),
               std::min(window[2], out.bounds.x2), std::min(window[3], out.bounds.y2)};
    if (w.x2 < w.x1) {
        w.x2 = w.x1;
    }
    if (w.y2 < w.y1) {
        w.y2 = w.y1;
    }
    return w;
}

} // namespace

void render(const Instance& self, OfxPropertySetHandle in_args) {
    const HostSuites& s = suites();
    double time = 0.0;
    check(props().propGetDouble(in_args, kOfxPropTime, 0, &time), kOfxPropTime);
    double scale[2] = {1.0, 1.0};
    check(props().propGetDoubleN(in_args, kOfxImageEffectPropRenderScale, 2, scale),
          kOfxImageEffectPropRenderScale);
    int window[4] = {0, 0, 0, 0};
    check(props().propGetIntN(in_args, kOfxImageEffectPropRenderWindow, 4, window),
          kOfxImageEffectPropRenderWindow);

    // Some hosts refuse the output image; that is a failed render, never a
    // write through a null image.
    ScopedImage output_image(self.output.handle, time);
    if (output_image.status() == kOfxStatErrMemory) {
        throw OfxFailure(kOfxStatErrMemory, "The host had no memory for the output image");
    }
    if (output_image.get() == nullptr) {
        throw OfxFailure(kOfxStatFailed, "The host gave no output image (status " +
                                             std::to_string(output_image.status()) + ")");
    }
    const OfxImageDesc out = describe_image(output_image.get());

    double fps = 0.0;
    check(props().propGetDouble(self.output.props, kOfxImageEffectPropFrameRate, 0, &fps),
          kOfxImageEffectPropFrameRate);
    const float sx = scale_of(scale[0]);
    const float sy = scale_of(scale[1]);
    LayerSize layers[2];
    layers[0] = layer_size(self.inputs[0], time, sx, sy, nullptr);
    layers[1] = self.kind == PluginKind::kFilter
                    ? layers[0]
                    : layer_size(self.inputs[1], time, sx, sy, &layers[0]);

    // Parameters at any time of the frame or its emission steps.
    const auto host_value = [&](const OfxParamDesc& d, OfxParamHandle h, double frames) {
        HostValue v;
        OfxStatus status = kOfxStatOK;
        switch (d.kind) {
        case OfxParamKind::kChoice:
        case OfxParamKind::kBoolean: {
            int i = 0;
            status = s.param->paramGetValueAtTime(h, frames, &i);
            v.number = static_cast<double>(i);
            break;
        }
        case OfxParamKind::kColour:
            status = s.param->paramGetValueAtTime(h, frames, &v.red, &v.green, &v.blue);
            break;
        case OfxParamKind::kDouble:
        case OfxParamKind::kGroup:
            status = s.param->paramGetValueAtTime(h, frames, &v.number);
            break;
        }
        check(status, "paramGetValueAtTime");
        return effect_value(d, v);
    };
    const auto read = [&](int32_t index, int32_t units) -> ParamReading {
        const ParamSpec* spec = param_at(index);
        if (spec == nullptr) {
            return {};
        }
        const double frames = frames_of(units);
        const auto i = static_cast<std::size_t>(index);
        if (self.descs[i] != nullptr) {
            const ParamReading own = host_value(*self.descs[i], self.handles[i], frames);
            return context_reading(self.kind, self.context, *spec, &own, 0.0);
        }
        double first = 0.0;
        if (spec->id == param_id::kSequencePosition && self.first != nullptr) {
            first = host_value(*self.first, self.first_handle, frames).number;
        }
        return context_reading(self.kind, self.context, *spec, nullptr, first);
    };

    // Every source a frame or a step draws is one input at one time: its
    // own time where the host fetches frames at other times, else now.
    std::vector<Fetch> fetches;
    const bool temporal = s.host_temporal_access;
    const auto checkout = [&](int32_t position, int32_t units) {
        Fetch f;
        f.input = self.kind == PluginKind::kFilter ? 0 : std::clamp(position, 0, 1);
        f.time = temporal ? frames_of(units) : time;
        auto key = std::find_if(fetches.begin(), fetches.end(), [&](const Fetch& e) {
            return e.input == f.input && e.time == f.time;
        });
        if (key == fetches.end()) {
            key = fetches.insert(fetches.end(), f);
        }
        const LayerSize& size = layers[f.input];
        return SourceRef{static_cast<int32_t>(key - fetches.begin()), size.ref_width,
                         size.ref_height, LayerRect{0, 0, size.scaled.width, size.scaled.height}};
    };

    PlanRequest request;
    request.time = units_of(time);
    request.time_scale = time_scale_of(fps);
    request.downsample_x = sx;
    request.downsample_y = sy;
    request.output = layers[0].scaled;
    request.active_count = 2;
    const FramePlan plan = plan_frame(request, PlanHost{read, checkout});

    const PixelDepth depth = out.depth;
    const std::ptrdiff_t pixel_bytes = bytes_per_pixel(depth);
    const auto lend = [&](const SourceRef& source, PixelsUse use) {
        const Fetch& f = fetches[static_cast<std::size_t>(source.key)];
        ScopedImage image(self.inputs[static_cast<std::size_t>(f.input)].handle, f.time);
        if (image.status() == kOfxStatErrMemory) {
            throw OfxFailure(kOfxStatErrMemory, "The host had no memory for an input image");
        }
        if (image.get() == nullptr) {
            // No frame there: the standard's transparent black.
            use(ConstPixelView{});
            return;
        }
        const OfxImageDesc in = describe_image(image.get());
        const OutputSize size = layers[f.input].scaled;
        const std::ptrdiff_t rowbytes = size.width * pixel_bytes;
        ScopedMemory memory(self.handle, static_cast<std::size_t>(rowbytes * size.height));
        const PixelView layer{memory.data(), size.width, size.height, rowbytes, depth};
        for_rows(size.height,
                 [&](int32_t first, int32_t last) { read_rows(in, layer, first, last); });
        use(ConstPixelView{layer.data, layer.width, layer.height, layer.rowbytes, depth});
        image.release();
    };
    const auto abort = [](void* effect) {
        return suites().effect->abort(static_cast<OfxImageEffectHandle>(effect)) != 0;
    };
    const CancelCheck cancel{abort, self.handle};
    Canvas canvas;
    const auto parallel = [](int32_t count, ParallelBody body) { host_parallel_for(count, body); };
    render_frame(plan, lend, cancel, canvas, parallel);

    const std::ptrdiff_t rowbytes = canvas.width * pixel_bytes;
    ScopedMemory memory(self.handle, static_cast<std::size_t>(rowbytes * canvas.height));
    const PixelView frame{memory.data(), canvas.width, canvas.height, rowbytes, depth};
    convert_canvas(canvas, frame, cancel);
    const OfxRectI w = clipped_window(out, window);
    const ConstPixelView drawn{frame.data, frame.width, frame.height, frame.rowbytes, depth};
    for_rows(w.y2 - w.y1, [&](int32_t first, int32_t last) {
        write_rows(drawn, out, w, w.y1 + first, w.y1 + last);
    });
    output_image.release();
}

} // namespace pointillo::ofx
