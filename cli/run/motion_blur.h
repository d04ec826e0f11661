#pragma once

// Motion blur as a host forces it on an effect: each frame is the average of
// the effect rendered at several sub-frame times spread over the open
// shutter. The effect itself knows nothing of it.

#include "cli/base/image.h"
#include "cli/run/render.h"
#include "cli/scene/prepared_scene.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace pointillo {

// Renders the effect at a host time (frames are 1000 units apart), as
// EffectSession::render_at_time does.
using TimeRenderer = std::function<ArgbImage(const PreparedScene& scene, int32_t current_time,
                                             const std::atomic<bool>& cancel)>;

constexpr int32_t kMaxMotionBlurSamples = 256;
constexpr double kMaxShutterAngle = 720.0;

struct MotionBlur {
    int32_t samples = 0;          // sub-frame renders a frame, 1 to 256; 0: off
    double shutter_angle = 180.0; // degrees of a frame the shutter stays open, (0, 720]
};

// The host times at which frame `frame` is sampled. The shutter is open for
// angle / 360 of a frame, centred on the frame's time; it is cut into
// `samples` equal parts, each sampled at its middle and rounded to the nearest
// whole host unit (halves away from zero, so the times are symmetric about
// the frame): frame x 1000 + round(1000 x angle / 360 x ((i + 0.5) / samples -
// 0.5)) for i = 0 to samples - 1, computed in double. One sample is the
// frame's own time.
std::vector<int32_t> motion_blur_times(int32_t frame, const MotionBlur& blur);

// A running sum of premultiplied images of one size and depth: exact 32-bit
// integer sums at 8 and 16 bits (at most 256 x 32768 per sample), double sums
// at 32 bits, each image added in the order given.
struct ImageSum {
    int32_t width = 0;
    int32_t height = 0;
    PixelDepth depth = PixelDepth::k8;
    int32_t count = 0;
    std::vector<uint32_t> integers; // depths 8 and 16
    std::vector<double> floats;     // depth 32
};

// Adds `image` to `sum`; the first image sets the size and depth, a later one
// of another size or depth throws std::invalid_argument.
void add_image(ImageSum& sum, const ArgbImage& image);

// The average of the images in `sum`. At 8 and 16 bits each sample is
// (sum + count / 2) / count: the exact average rounded to nearest, halves up.
// At 32 bits it is sum / count in double, rounded to float. Either way N equal
// images give that image back bit for bit (N floats sum exactly in double).
ArgbImage average_image(const ImageSum& sum);

// A frame renderer that renders each frame at motion_blur_times and averages
// the sub-frames in that order, one after another, so a frame's pixels never
// depend on threads or chunks.
FrameRenderer motion_blur_renderer(TimeRenderer render_at, MotionBlur blur);

} // namespace pointillo
