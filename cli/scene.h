#pragma once

#include "cli/effect_bridge.h"
#include "cli/prepared_scene.h"

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

// Largest frame count: frame n sits at n x 1000 host time units, which must
// fit a signed 32-bit time.
constexpr int32_t kMaxFrameCount = 2'147'483;
constexpr int32_t kMaxCompSide = 30000;

// Reads a scene from JSON text. `file` names the scene in messages and
// `base_dir` resolves image paths. Every problem throws InputError naming the
// file, the field and what is wrong. No file is opened.
Scene parse_scene(std::string_view text, const std::string& file,
                  const std::filesystem::path& base_dir, std::span<const EffectParam> params);

// Reads and parses a scene file.
Scene load_scene_file(const std::filesystem::path& path, std::span<const EffectParam> params);

// The built-in demo: three words, default parameters, 1280 x 720, 30 fps,
// 6 seconds.
Scene demo_scene(std::span<const EffectParam> params);

// Loads images and fonts, draws the text layers and turns every source into
// the layer the host delivers at the scene's depth and downsample. Problems
// with a source (a missing or unreadable image, an unknown font) throw
// InputError naming the file and the source.
PreparedScene prepare_scene(const Scene& scene);

// How messages name source entry `index` (from 0): "sources[2] (Source 3)".
std::string source_field(size_t index);

// Parses "#rrggbb" (either case); nullopt when malformed.
std::optional<Rgb8> parse_hex_color(std::string_view text);
std::string format_hex_color(Rgb8 color);

} // namespace pointillo
