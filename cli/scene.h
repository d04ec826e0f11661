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
//
// `overrides` are --set options, "KEY=VALUE", applied in order to the JSON
// before it is read: KEY is a field path as messages name it
// ("sources[0].text", "comp.fps", "params.Dot Size" or "params[\"Dot Size\"]";
// after "params." the rest is the parameter's name). VALUE is JSON when it
// reads as JSON, else text; where it replaces a string it stays text, except
// null. Missing objects on the way are created; an array may gain one entry at
// its end.
Scene parse_scene(std::string_view text, const std::string& file,
                  const std::filesystem::path& base_dir, std::span<const EffectParam> params,
                  std::span<const std::string> overrides = {});

// Reads and parses a scene file.
Scene load_scene_file(const std::filesystem::path& path, std::span<const EffectParam> params,
                      std::span<const std::string> overrides = {});

// The built-in demo: three words, default parameters, 1280 x 720, 30 fps,
// 6 seconds.
Scene demo_scene(std::span<const EffectParam> params, std::span<const std::string> overrides = {});

// Loads images and fonts, draws the text layers and turns every source into
// the layer the host delivers at the scene's depth and downsample. Problems
// with a source (a missing or unreadable image, an unknown font) throw
// InputError naming the file and the source. What renders but likely not as
// meant goes to `warnings`, one line each, naming the file and the field:
// glyphs the font lacks, text cut at the comp's edges, a font style
// fontconfig substituted, a scene in which no source is visible.
PreparedScene prepare_scene(const Scene& scene, std::vector<std::string>* warnings = nullptr);

// How messages name source entry `index` (from 0): "sources[2] (Source 3)".
std::string source_field(size_t index);

// Parses "#rrggbb" (either case); nullopt when malformed.
std::optional<Rgb8> parse_hex_color(std::string_view text);
std::string format_hex_color(Rgb8 color);

} // namespace pointillo
