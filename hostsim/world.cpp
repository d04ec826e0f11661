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

// v x scale + 0.5, clamped to [0, scale] and truncated; NaN is 0.
uint32_t quantize(float v, float scale) {
    const float scaled = v * scale + 0.5f;
    if (!(scaled > 0.0f)) {
        return 0;
    }
    return scaled < scale ? static_cast<uint32_t>(scaled) : static_cast<uint32_t>(scale);
}

} // namespace

PF_PixelFormat pixel_format_of(int32_t depth) {
    switch (depth) {
    case 8:
        return PF_PixelFormat_ARGB32;
    case 16:
        return PF_PixelFormat_ARGB64;
    case 32:
        return PF_PixelFormat_ARGB128;
    default:
        throw std::invalid_argument("depth " + std::to_string(depth) + " is not 8, 16 or 32");
    }
}

int32_t pixel_bytes(PF_PixelFormat format) {
    switch (format) {
    case PF_PixelFormat_ARGB64:
        return 8;
    case PF_PixelFormat_ARGB128:
        return 16;
    default:
        return 4;
    }
}

LayerPixels make_layer_pixels(int32_t depth, int32_t width, int32_t height,
                              const std::function<Argb(int32_t x, int32_t y)>& argb) {
    check_size(width, height);
    const int32_t bytes = pixel_bytes(pixel_format_of(depth));
    LayerPixels pixels;
    pixels.depth = depth;
    pixels.width = width;
    pixels.height = height;
    pixels.bytes.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                        static_cast<std::size_t>(bytes));
    std::byte* out = pixels.bytes.data();
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x, out += bytes) {
            const Argb v = argb(x, y);
            if (depth == 8) {
                for (std::size_t c = 0; c < 4; ++c) {
                    out[c] = static_cast<std::byte>(quantize(v[c], 255.0f));
                }
            } else if (depth == 16) {
                for (std::size_t c = 0; c < 4; ++c) {
                    const auto sample = static_cast<uint16_t>(quantize(v[c], 32768.0f));
                    std::memcpy(out + 2 * c, &sample, 2);
                }
            } else {
                std::memcpy(out, v.data(), 16);
            }
        }
    }
    return pixels;
}

Argb pixel_at(const LayerPixels& pixels, int32_t x, int32_t y) {
    const int32_t bytes = pixel_bytes(pixel_format_of(pixels.depth));
    const std::byte* in = pixels.bytes.data() +
                          (static_cast<std::size_t>(y) * static_cast<std::size_t>(pixels.width) +
                           static_cast<std::size_t>(x)) *
                              static_cast<std::size_t>(bytes);
    Argb v{};
    for (std::size_t c = 0; c < 4; ++c) {
        if (pixels.depth == 8) {
            v[c] = static_cast<float>(std::to_integer<uint8_t>(in[c])) / 255.0f;
        } else if (pixels.depth == 16) {
            uint16_t sample = 0;
            std::memcpy(&sample, in + 2 * c, 2);
            v[c] = static_cast<float>(sample) / 32768.0f;
        } else {
            std::memcpy(&v[c], in + 4 * c, 4);
        }
    }
    return v;
}

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
