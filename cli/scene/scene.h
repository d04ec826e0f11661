#pragma once

#include "cli/scene/prepared_scene.h"

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pointillo {

struct TextSource {
    std::string text; // "\n" breaks lines
    std::string font = "DejaVu Sans";
    double size = 200.0; // em size in comp pixels
    Rgb8 color{255, 255, 255};
};

struct ImageSource {
    std::string path;                // as written in the scene
    std::filesystem::path file_path; // resolved against the scene's folder
};

using SourceEntry = std::variant<std::monostate, TextSource, ImageSource>;

struct Comp {
    int32_t width = 0;
    int32_t height = 0;
    double fps = 0.0;
    double duration = 0.0;  // seconds
    int32_t time_scale = 0; // round(fps x 1000)
    int32_t frame_count = 0;
};

// A scene file, checked, before any image or font is loaded.
struct Scene {
    std::string file; // how messages name it
    Comp comp;
    int32_t downsample = 1;
    PixelDepth depth = PixelDepth::k8;
    std::optional<Rgb8> background;
    std::vector<SourceEntry> sources;
    std::vector<ParamTrack> params; // sorted by index
};

// Loads images and fonts, draws the text layers and turns every source into
// the layer the host delivers at the scene's depth and downsample. Problems
// with a source (a missing or unreadable image, an unknown font) throw
// InputError naming the file and the source. What renders but likely not as
// meant goes to `warnings`, one line each, naming the file and the field:
// glyphs the font lacks, text cut at the comp's edges, a font style
// fontconfig substituted, a scene in which no source is visible.
PreparedScene prepare_scene(const Scene& scene, std::vector<std::string>* warnings = nullptr);

} // namespace pointillo
