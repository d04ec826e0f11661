#include "cli/run/motion_blur.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace pointillo {

std::vector<int32_t> motion_blur_times(int32_t frame, const MotionBlur& blur) {
    std::vector<int32_t> times;
    const int64_t base = int64_t{frame} * kFrameTimeStep;
    const double open = static_cast<double>(kFrameTimeStep) * blur.shutter_angle / 360.0;
    for (int32_t i = 0; i < blur.samples; ++i) {
        const double middle = (static_cast<double>(i) + 0.5) / static_cast<double>(blur.samples);
        const int64_t time = base + std::llround(open * (middle - 0.5));
        if (time < INT32_MIN || time > INT32_MAX) {
            throw std::invalid_argument("sub-frame time " + std::to_string(time) +
                                        " is outside the host's 32-bit times");
        }
        times.push_back(static_cast<int32_t>(time));
    }
    return times;
}

void add_image(ImageSum& sum, const ArgbImage& image) {
    const size_t samples = static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4;
    if (sum.count == 0) {
        sum.width = image.width;
        sum.height = image.height;
        sum.depth = image.depth;
        if (image.depth == PixelDepth::k32) {
            sum.floats.assign(samples, 0.0);
        } else {
            sum.integers.assign(samples, 0);
        }
    } else if (image.width != sum.width || image.height != sum.height || image.depth != sum.depth) {
        throw std::invalid_argument("a sub-frame of " + std::to_string(image.width) + " x " +
                                    std::to_string(image.height) +
                                    " does not match the first one, " + std::to_string(sum.width) +
                                    " x " + std::to_string(sum.height));
    }
    switch (image.depth) {
    case PixelDepth::k8:
        for (size_t i = 0; i < samples; ++i) {
            sum.integers[i] += image.samples8[i];
        }
        break;
    case PixelDepth::k16:
        for (size_t i = 0; i < samples; ++i) {
            sum.integers[i] += image.samples16[i];
        }
        break;
    case PixelDepth::k32:
        for (size_t i = 0; i < samples; ++i) {
            sum.floats[i] += static_cast<double>(image.samples32[i]);
        }
        break;
    }
    ++sum.count;
}

ArgbImage average_image(const ImageSum& sum) {
    if (sum.count < 1) {
        throw std::invalid_argument("the average of no image");
    }
    ArgbImage out = make_argb_image(sum.width, sum.height, sum.depth);
    const auto n = static_cast<uint32_t>(sum.count);
    switch (sum.depth) {
    case PixelDepth::k8:
        for (size_t i = 0; i < out.samples8.size(); ++i) {
            out.samples8[i] = static_cast<uint8_t>((sum.integers[i] + n / 2) / n);
        }
        break;
    case PixelDepth::k16:
        for (size_t i = 0; i < out.samples16.size(); ++i) {
            out.samples16[i] = static_cast<uint16_t>((sum.integers[i] + n / 2) / n);
        }
        break;
    case PixelDepth::k32:
        for (size_t i = 0; i < out.samples32.size(); ++i) {
            out.samples32[i] = static_cast<float>(sum.floats[i] / static_cast<double>(n));
        }
        break;
    }
    return out;
}

FrameRenderer motion_blur_renderer(TimeRenderer render_at, MotionBlur blur) {
    return [render_at = std::move(render_at), blur](const PreparedScene& scene, int32_t frame,
                                                    const std::atomic<bool>& cancel,
                                                    FrameImage& image) {
        ImageSum sum;
        for (const int32_t time : motion_blur_times(frame, blur)) {
            add_image(sum, render_at(scene, time, cancel));
        }
        set_frame_image(image, average_image(sum));
    };
}

} // namespace pointillo
