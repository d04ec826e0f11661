#include "hostsim/world.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace hostsim {
namespace {

// The application refuses layers larger than this on a side.
constexpr int32_t kLargestSide = 30000;

void check_size(int32_t width, int32_t height) {
    if (width < 0 || height < 0 || width > kLargestSide || height > kLargestSide) {
        throw std::invalid_argument("image size " + std::to_string(width) + " x " +
                                    std::to_string(height) + " is out of range");
    }
}

} // namespace

std::unique_ptr<HostWorld> make_world(int32_t width, int32_t height, PF_PixelFormat format,
                                      bool with_pixels, std::byte fill) {
    check_size(width, height);
    auto world = std::make_unique<HostWorld>();
    world->format = format;
    PF_EffectWorld& w = world->world;
    std::memset(&w, 0, sizeof(w));
    w.width = width;
    w.height = height;
    w.rowbytes = width * pixel_bytes(format) + kRowPadding;
    w.extent_hint = PF_LRect{0, 0, width, height};
    w.pix_aspect_ratio = PF_RationalScale{1, 1};
    if (with_pixels) {
        const std::size_t size =
            static_cast<std::size_t>(w.rowbytes) * static_cast<std::size_t>(height);
        world->storage = std::make_unique<std::byte[]>(size != 0 ? size : 1);
        std::memset(world->storage.get(), std::to_integer<int>(fill), size);
        w.data = reinterpret_cast<PF_PixelPtr>(world->storage.get());
    }
    return world;
}

std::unique_ptr<HostWorld> world_of(const LayerPixels& pixels) {
    const PF_PixelFormat format = pixel_format_of(pixels.depth);
    auto world = make_world(pixels.width, pixels.height, format, true);
    const auto row =
        static_cast<std::size_t>(pixels.width) * static_cast<std::size_t>(pixel_bytes(format));
    if (pixels.bytes.size() != row * static_cast<std::size_t>(pixels.height)) {
        throw std::invalid_argument("layer pixels hold the wrong number of bytes");
    }
    for (int32_t y = 0; y < pixels.height; ++y) {
        std::memcpy(world->storage.get() + static_cast<std::size_t>(y) *
                                               static_cast<std::size_t>(world->world.rowbytes),
                    pixels.bytes.data() + static_cast<std::size_t>(y) * row, row);
    }
    return world;
}

LayerPixels pixels_of(const HostWorld& world) {
    const int32_t depth = world.format == PF_PixelFormat_ARGB64    ? 16
                          : world.format == PF_PixelFormat_ARGB128 ? 32
                                                                   : 8;
    LayerPixels pixels;
    pixels.depth = depth;
    pixels.width = world.world.width;
    pixels.height = world.world.height;
    const auto row = static_cast<std::size_t>(world.world.width) *
                     static_cast<std::size_t>(pixel_bytes(world.format));
    if (world.world.data == nullptr) {
        return pixels;
    }
    pixels.bytes.resize(row * static_cast<std::size_t>(world.world.height));
    const auto* from = reinterpret_cast<const std::byte*>(world.world.data);
    for (int32_t y = 0; y < world.world.height; ++y) {
        std::memcpy(pixels.bytes.data() + static_cast<std::size_t>(y) * row,
                    from + static_cast<std::size_t>(y) *
                               static_cast<std::size_t>(world.world.rowbytes),
                    row);
    }
    return pixels;
}

std::unique_ptr<HostWorld> make_world_in(std::vector<std::byte>& bytes, int32_t width,
                                         int32_t height, PF_PixelFormat format, std::byte fill) {
    auto world = make_world(width, height, format, false);
    const std::size_t size =
        static_cast<std::size_t>(world->world.rowbytes) * static_cast<std::size_t>(height);
    bytes.resize(std::max<std::size_t>(size, 1));
    std::memset(bytes.data(), std::to_integer<int>(fill), size);
    world->world.data = reinterpret_cast<PF_PixelPtr>(bytes.data());
    return world;
}

} // namespace hostsim
