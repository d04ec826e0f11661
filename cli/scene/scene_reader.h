#pragma once

#include "cli/effect/effect_bridge.h"
#include "cli/scene/scene.h"

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pointillo {

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

// How messages name source entry `index` (from 0): "sources[2] (Source 3)".
std::string source_field(size_t index);

// Parses "#rrggbb" (either case); nullopt when malformed.
std::optional<Rgb8> parse_hex_color(std::string_view text);
std::string format_hex_color(Rgb8 color);

} // namespace pointillo
