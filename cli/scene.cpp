#include "cli/scene.h"

#include "cli/errors.h"
#include "cli/files.h"
#include "cli/layer_pixels.h"
#include "cli/png_io.h"
#include "cli/text_layer.h"

#include <algorithm>
#include <atomic>

namespace pointillo {

namespace {

constexpr std::uintmax_t kMaxImageBytes = std::uintmax_t{1} << 30;

} // namespace

PreparedScene prepare_scene(const Scene& scene) {
    static std::atomic<uint64_t> next_id{1};
    PreparedScene out;
    out.id = next_id.fetch_add(1, std::memory_order_relaxed);
    out.width = scene.comp.width;
    out.height = scene.comp.height;
    out.time_scale = scene.comp.time_scale;
    out.time_step = kFrameTimeStep;
    out.frame_count = scene.comp.frame_count;
    out.downsample = scene.downsample;
    out.depth = scene.depth;
    out.text_count = std::max<int32_t>(1, static_cast<int32_t>(scene.sources.size()));
    out.params = scene.params;

    for (size_t i = 0; i < scene.sources.size(); ++i) {
        const std::string path = scene.file + ": " + source_field(i);
        StraightImage straight;
        if (const auto* image = std::get_if<ImageSource>(&scene.sources[i])) {
            std::string error;
            const std::vector<uint8_t> bytes =
                read_file_bytes(image->file_path, kMaxImageBytes, error);
            if (!error.empty()) {
                const std::string resolved = image->file_path.string();
                throw InputError(path + ".image: cannot read \"" + image->path + "\"" +
                                 (resolved != image->path ? " (" + resolved + ")" : "") + ": " +
                                 error);
            }
            try {
                straight = decode_png(bytes);
            } catch (const std::exception& e) {
                throw InputError(path + ".image: " + ("\"" + image->path + "\"") +
                                 " is not a readable PNG: " + e.what());
            }
        } else if (const auto* text = std::get_if<TextSource>(&scene.sources[i])) {
            ResolvedFont font;
            try {
                font = resolve_font(text->font);
            } catch (const std::exception& e) {
                throw InputError(path + ".font: " + e.what());
            }
            try {
                straight = render_text_layer(*text, font, scene.comp.width, scene.comp.height);
            } catch (const std::exception& e) {
                throw InputError(path + ".text: cannot draw the text: " + e.what());
            }
        } else {
            continue;
        }
        SourceLayer layer;
        layer.width = straight.width;
        layer.height = straight.height;
        ArgbImage premultiplied = premultiply_layer(straight, scene.depth);
        // At full resolution the premultiplied image is the layer: no copy.
        layer.pixels = scene.downsample == 1 ? std::move(premultiplied)
                                             : downsample_layer(premultiplied, scene.downsample);
        out.sources[i] = std::move(layer);
    }
    return out;
}

} // namespace pointillo
