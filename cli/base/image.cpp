#include "cli/base/image.h"

#include "common/limits.h"

#include <stdexcept>

namespace pointillo {

namespace {

size_t checked_sample_count(int32_t width, int32_t height) {
    if (!pixel_count_ok(width, height)) {
        throw std::invalid_argument("image size " + std::to_string(width) + " x " +
                                    std::to_string(height) + " is outside 1 to 64 megapixels");
    }
    return static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
}

} // namespace

ArgbImage make_argb_image(int32_t width, int32_t height, PixelDepth depth) {
    const size_t count = checked_sample_count(width, height);
    ArgbImage image;
    image.width = width;
    image.height = height;
    image.depth = depth;
    switch (depth) {
    case PixelDepth::k8:
        image.samples8.assign(count, 0);
        break;
    case PixelDepth::k16:
        image.samples16.assign(count, 0);
        break;
    case PixelDepth::k32:
        image.samples32.assign(count, 0.0f);
        break;
    }
    return image;
}

StraightImage make_straight_image(int32_t width, int32_t height, int32_t bits) {
    if (bits != 8 && bits != 16) {
        throw std::invalid_argument("straight images have 8 or 16 bits a sample");
    }
    StraightImage image;
    image.width = width;
    image.height = height;
    image.bits = bits;
    image.samples.assign(checked_sample_count(width, height), 0);
    return image;
}

ConstPixelView view_of(const ArgbImage& image) {
    ConstPixelView view;
    view.width = image.width;
    view.height = image.height;
    view.depth = image.depth;
    view.rowbytes = static_cast<std::ptrdiff_t>(image.width) * bytes_per_pixel(image.depth);
    switch (image.depth) {
    case PixelDepth::k8:
        view.data = reinterpret_cast<const std::byte*>(image.samples8.data());
        break;
    case PixelDepth::k16:
        view.data = reinterpret_cast<const std::byte*>(image.samples16.data());
        break;
    case PixelDepth::k32:
        view.data = reinterpret_cast<const std::byte*>(image.samples32.data());
        break;
    }
    return view;
}

PixelView view_of(ArgbImage& image) {
    const ConstPixelView c = view_of(static_cast<const ArgbImage&>(image));
    PixelView view;
    view.data = const_cast<std::byte*>(c.data);
    view.width = c.width;
    view.height = c.height;
    view.rowbytes = c.rowbytes;
    view.depth = c.depth;
    return view;
}

} // namespace pointillo
