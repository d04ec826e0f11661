#include "cli/scene/scene.h"

#include "cli/base/errors.h"
#include "cli/base/files.h"
#include "cli/frames/png_io.h"
#include "cli/scene/layer_pixels.h"
#include "cli/scene/scene_reader.h"
#include "cli/scene/text_layer.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <utility>

namespace pointillo {

namespace {

constexpr std::uintmax_t kMaxImageBytes = std::uintmax_t{1} << 30;

std::string code_points_text(const std::vector<uint32_t>& code_points) {
    std::string text;
    for (size_t i = 0; i < code_points.size() && i < 8; ++i) {
        char one[16];
        std::snprintf(one, sizeof one, "U+%04X", static_cast<unsigned>(code_points[i]));
        text += (i == 0 ? "" : ", ") + std::string(one);
    }
    if (code_points.size() > 8) {
        text += " and " + std::to_string(code_points.size() - 8) + " more";
    }
    return text;
}

std::string edges_text(const TextNotes& notes) {
    std::vector<const char*> edges;
    for (const auto& [cut, name] : {std::pair{notes.cut_left, "left"},
                                    {notes.cut_right, "right"},
                                    {notes.cut_top, "top"},
                                    {notes.cut_bottom, "bottom"}}) {
        if (cut) {
            edges.push_back(name);
        }
    }
    std::string text;
    for (size_t i = 0; i < edges.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == edges.size() ? " and " : ", ") + std::string(edges[i]);
    }
    return text + (edges.size() == 1 ? " edge" : " edges");
}

bool any_coverage(const ArgbImage& image) {
    for (size_t i = 0; i < image.samples8.size(); i += 4) {
        if (image.samples8[i] != 0) {
            return true;
        }
    }
    for (size_t i = 0; i < image.samples16.size(); i += 4) {
        if (image.samples16[i] != 0) {
            return true;
        }
    }
    for (size_t i = 0; i < image.samples32.size(); i += 4) {
        if (image.samples32[i] > 0.0f) {
            return true;
        }
    }
    return false;
}

} // namespace

PreparedScene prepare_scene(const Scene& scene, std::vector<std::string>* warnings) {
    const auto warn = [warnings](std::string text) {
        if (warnings != nullptr) {
            warnings->push_back(std::move(text));
        }
    };
    static std::atomic<uint64_t> next_id{1};
    PreparedScene out;
    out.setup.id = next_id.fetch_add(1, std::memory_order_relaxed);
    out.setup.width = scene.comp.width;
    out.setup.height = scene.comp.height;
    out.setup.time_scale = scene.comp.time_scale;
    out.setup.time_step = kFrameTimeStep;
    out.setup.frame_count = scene.comp.frame_count;
    out.setup.downsample = scene.downsample;
    out.setup.depth = scene.depth;
    out.setup.text_count = std::max<int32_t>(1, static_cast<int32_t>(scene.sources.size()));
    out.setup.params = scene.params;

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
            if (!font.substitution.empty()) {
                warn(path + ".font: \"" + text->font + "\" is not installed in that style (" +
                     font.substitution + "): drawn with \"" + font.family + " " + font.style +
                     "\"");
            }
            TextNotes notes;
            try {
                straight =
                    render_text_layer(*text, font, scene.comp.width, scene.comp.height, &notes);
            } catch (const std::exception& e) {
                throw InputError(path + ".text: cannot draw the text: " + e.what());
            }
            if (!notes.missing_glyphs.empty()) {
                warn(path + ".text: the font \"" + font.family + " " + font.style + "\" (" +
                     font.file + ") has no glyph for " + code_points_text(notes.missing_glyphs) +
                     ", drawn as boxes; choose a font that has them");
            }
            if (notes.cut_left || notes.cut_right || notes.cut_top || notes.cut_bottom) {
                warn(path + ".text: the text is " + std::to_string(notes.ink_width) + " x " +
                     std::to_string(notes.ink_height) + " pixels and the comp " +
                     std::to_string(scene.comp.width) + " x " + std::to_string(scene.comp.height) +
                     ": it is cut at the " + edges_text(notes) + "; lower \"size\"");
            }
        } else {
            continue;
        }
        out.setup.sources[i] = SourceLayer{straight.width, straight.height};
        ArgbImage premultiplied = premultiply_layer(straight, scene.depth);
        // At full resolution the premultiplied image is the layer: no copy.
        out.pixels.layers[i] = scene.downsample == 1
                                   ? std::move(premultiplied)
                                   : downsample_layer(premultiplied, scene.downsample);
    }
    const std::array<std::optional<ArgbImage>, kSourceSlotCount>& layers = out.pixels.layers;
    const bool visible = std::any_of(layers.begin(), layers.end(),
                                     [](const auto& slot) { return slot && any_coverage(*slot); });
    if (!visible) {
        const bool none = std::none_of(layers.begin(), layers.end(),
                                       [](const auto& slot) { return slot.has_value(); });
        warn(scene.file + ": no source is visible, so every frame is empty: " +
             (none ? std::string("the scene has no sources")
                   : std::string("every source is empty or fully transparent")));
    }
    return out;
}

} // namespace pointillo
