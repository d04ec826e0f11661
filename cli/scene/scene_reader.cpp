#include "cli/scene/scene_reader.h"

#include "cli/base/errors.h"
#include "cli/base/files.h"
#include "cli/base/number_text.h"
#include "cli/scene/field_paths.h"
#include "cli/scene/scene_overrides.h"
#include "common/limits.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <system_error>

namespace pointillo {

namespace {

using Json = nlohmann::json;

constexpr double kMaxTextSize = 10000.0;
constexpr std::uintmax_t kMaxSceneBytes = 16u << 20;

// ---- Formatting for messages ------------------------------------------------

std::string format_number(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string describe(const Json& value) {
    switch (value.type()) {
    case Json::value_t::null:
        return "null";
    case Json::value_t::boolean:
        return value.get<bool>() ? "true" : "false";
    case Json::value_t::string: {
        std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
        if (text.size() > 60) {
            text = text.substr(0, 56) + "...\"";
        }
        return "the string " + text;
    }
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
        return format_number(value.get<double>());
    case Json::value_t::array:
        return "an array";
    case Json::value_t::object:
        return "an object";
    default:
        return "an unsupported value";
    }
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            const size_t substitute = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
            row[j] = std::min({above + 1, row[j - 1] + 1, substitute});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The three candidates nearest to `name` (case-insensitive edit distance),
// quoted and comma-separated.
std::string nearest_names(std::string_view name, const std::vector<std::string>& candidates) {
    const std::string key = lower(name);
    std::vector<std::pair<size_t, size_t>> ranked; // distance, position
    for (size_t i = 0; i < candidates.size(); ++i) {
        ranked.emplace_back(edit_distance(key, lower(candidates[i])), i);
    }
    std::stable_sort(ranked.begin(), ranked.end());
    std::string out;
    for (size_t i = 0; i < ranked.size() && i < 3; ++i) {
        out += (i == 0 ? "" : ", ") + json_quoted(candidates[ranked[i].second]);
    }
    return out;
}

// ---- JSON with duplicate-key detection ---------------------------------------

Json parse_json(std::string_view text, const std::string& file) {
    struct Level {
        bool array = false;
        size_t count = 0; // elements seen, for arrays
        std::string key;  // current key, for objects
        std::set<std::string> keys;
    };
    std::vector<Level> stack;
    std::string duplicate;
    const auto path_of = [&stack]() {
        std::string path;
        for (const Level& level : stack) {
            path = level.array ? index_path(path, level.count - 1) : field_path(path, level.key);
        }
        return path;
    };
    const auto element = [&stack]() {
        if (!stack.empty() && stack.back().array) {
            ++stack.back().count;
        }
    };
    const Json::parser_callback_t callback = [&](int, Json::parse_event_t event, Json& parsed) {
        switch (event) {
        case Json::parse_event_t::object_start:
            element();
            stack.push_back(Level{});
            break;
        case Json::parse_event_t::array_start:
            element();
            stack.push_back(Level{true, 0, {}, {}});
            break;
        case Json::parse_event_t::key: {
            Level& level = stack.back();
            level.key = parsed.get<std::string>();
            if (!level.keys.insert(level.key).second && duplicate.empty()) {
                duplicate = path_of();
            }
            break;
        }
        case Json::parse_event_t::object_end:
        case Json::parse_event_t::array_end:
            stack.pop_back();
            break;
        case Json::parse_event_t::value:
            element();
            break;
        }
        return true;
    };
    Json root;
    try {
        root = Json::parse(text.begin(), text.end(), callback);
    } catch (const Json::exception& e) {
        // Syntax errors, and numbers too large for a double (out_of_range).
        std::string what = e.what();
        const size_t start = what.find("] ");
        throw InputError(file + ": not valid JSON: " +
                         (start == std::string::npos ? what : what.substr(start + 2)));
    }
    if (!duplicate.empty()) {
        throw InputError(file + ": " + duplicate + ": field appears more than once");
    }
    return root;
}

// ---- Field readers -----------------------------------------------------------

struct Reader {
    const std::string& file;

    [[noreturn]] void fail(const std::string& path, const std::string& problem) const {
        throw InputError(file + ": " + path + ": " + problem);
    }

    void only_fields(const Json& object, const std::string& path,
                     const std::vector<std::string>& allowed) const {
        for (const auto& [key, value] : object.items()) {
            if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
                std::string list;
                for (const std::string& name : allowed) {
                    list += (list.empty() ? "" : ", ") + json_quoted(name);
                }
                fail(field_path(path, key), "unknown field; the fields allowed here are " + list);
            }
        }
    }

    const Json& require(const Json& object, const std::string& path, const char* key) const {
        const auto it = object.find(key);
        if (it == object.end()) {
            fail(field_path(path, key), "missing");
        }
        return *it;
    }

    double number(const Json& value, const std::string& path) const {
        if (!value.is_number()) {
            fail(path, "must be a number, got " + describe(value));
        }
        const double v = value.get<double>();
        if (!std::isfinite(v)) {
            fail(path, "must be a finite number");
        }
        return v;
    }

    int32_t whole_number(const Json& value, const std::string& path, int32_t lo, int32_t hi) const {
        const std::string expected =
            "must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
        if (!value.is_number()) {
            fail(path, expected + ", got " + describe(value));
        }
        const double v = value.get<double>();
        if (!(v >= lo && v <= hi) || std::floor(v) != v) {
            fail(path, expected + ", got " + describe(value));
        }
        return static_cast<int32_t>(v);
    }

    std::string string(const Json& value, const std::string& path) const {
        if (!value.is_string()) {
            fail(path, "must be a string, got " + describe(value));
        }
        return value.get<std::string>();
    }

    Rgb8 color(const Json& value, const std::string& path) const {
        if (value.is_string()) {
            if (const auto parsed = parse_hex_color(value.get<std::string>())) {
                return *parsed;
            }
        }
        fail(path, "must be a colour \"#rrggbb\", got " + describe(value));
    }
};

// ---- Parameters --------------------------------------------------------------

bool settable(const EffectParam& param) {
    const bool value_kind = param.kind == ParamKind::Slider || param.kind == ParamKind::Popup ||
                            param.kind == ParamKind::Checkbox || param.kind == ParamKind::Color;
    return value_kind && !param.hidden;
}

std::string range_text(const EffectParam& param) {
    switch (param.kind) {
    case ParamKind::Slider:
        return "a number from " + format_float(param.valid_min) + " to " +
               format_float(param.valid_max);
    case ParamKind::Popup: {
        std::string text = "one of ";
        for (size_t i = 0; i < param.choices.size(); ++i) {
            text += (i == 0 ? "" : ", ") + json_quoted(param.choices[i]);
        }
        return text + " (or its number, 1 to " + std::to_string(param.choices.size()) + ")";
    }
    case ParamKind::Checkbox:
        return "true or false";
    case ParamKind::Color:
        return "a colour \"#rrggbb\"";
    default:
        return "no value";
    }
}

bool slider_in_range(double v, const EffectParam& param) {
    if (v >= param.valid_min && v <= param.valid_max) {
        return true;
    }
    // The limits are 32-bit floats: a value written as 1.45 is the float limit
    // 1.45 even though the double 1.45 lies just below it.
    constexpr auto kFloatMax = static_cast<double>(std::numeric_limits<float>::max());
    if (std::abs(v) > kFloatMax) {
        return false;
    }
    const float f = static_cast<float>(v);
    return f >= static_cast<float>(param.valid_min) && f <= static_cast<float>(param.valid_max);
}

[[noreturn]] void wrong_value(const Reader& r, const Json& value, const std::string& path,
                              const EffectParam& param) {
    r.fail(path,
           json_quoted(param.name) + " takes " + range_text(param) + ", got " + describe(value));
}

TrackValue read_param_value(const Reader& r, const Json& value, const std::string& path,
                            const EffectParam& param) {
    TrackValue out;
    switch (param.kind) {
    case ParamKind::Slider: {
        if (!value.is_number()) {
            wrong_value(r, value, path, param);
        }
        out.number = value.get<double>();
        if (!std::isfinite(out.number) || !slider_in_range(out.number, param)) {
            r.fail(path, describe(value) + " is outside the valid range of " +
                             json_quoted(param.name) + ", " + format_float(param.valid_min) +
                             " to " + format_float(param.valid_max));
        }
        break;
    }
    case ParamKind::Popup: {
        const size_t n = param.choices.size();
        if (value.is_string()) {
            const std::string name = value.get<std::string>();
            size_t found = n;
            for (size_t i = 0; i < n && found == n; ++i) {
                if (param.choices[i] == name) {
                    found = i;
                }
            }
            for (size_t i = 0; i < n && found == n; ++i) {
                if (lower(param.choices[i]) == lower(name)) {
                    found = i;
                }
            }
            if (found == n) {
                wrong_value(r, value, path, param);
            }
            out.number = static_cast<double>(found + 1);
        } else if (value.is_number()) {
            const double v = value.get<double>();
            if (!(v >= 1 && v <= static_cast<double>(n)) || std::floor(v) != v) {
                wrong_value(r, value, path, param);
            }
            out.number = v;
        } else {
            wrong_value(r, value, path, param);
        }
        break;
    }
    case ParamKind::Checkbox:
        if (!value.is_boolean()) {
            wrong_value(r, value, path, param);
        }
        out.number = value.get<bool>() ? 1.0 : 0.0;
        break;
    case ParamKind::Color: {
        const auto color =
            value.is_string() ? parse_hex_color(value.get<std::string>()) : std::optional<Rgb8>{};
        if (!color) {
            wrong_value(r, value, path, param);
        }
        out.color = *color;
        break;
    }
    default:
        wrong_value(r, value, path, param);
    }
    return out;
}

ParamTrack read_param(const Reader& r, const Json& value, const std::string& path,
                      const EffectParam& param) {
    ParamTrack track;
    track.index = param.index;
    track.kind = param.kind;
    track.name = param.name;
    if (!value.is_array()) {
        track.keys.push_back(TrackKey{0.0, read_param_value(r, value, path, param)});
        return track;
    }
    if (value.empty()) {
        r.fail(path, "a keyframe list needs at least one [seconds, value] pair");
    }
    for (size_t i = 0; i < value.size(); ++i) {
        const std::string key_path = index_path(path, i);
        const Json& key = value[i];
        if (!key.is_array() || key.size() != 2) {
            r.fail(key_path, "a keyframe must be a [seconds, value] pair, got " + describe(key));
        }
        const double seconds = r.number(key[0], index_path(key_path, 0));
        if (!track.keys.empty() && !(seconds > track.keys.back().seconds)) {
            r.fail(index_path(key_path, 0), "keyframe at " + format_number(seconds) +
                                                " s does not come after the one at " +
                                                format_number(track.keys.back().seconds) +
                                                " s; keyframe times must increase");
        }
        track.keys.push_back(
            TrackKey{seconds, read_param_value(r, key[1], index_path(key_path, 1), param)});
    }
    return track;
}

std::vector<ParamTrack> read_params(const Reader& r, const Json& object,
                                    std::span<const EffectParam> params) {
    const std::string path = "params";
    if (!object.is_object()) {
        r.fail(path, "must be an object of parameter names and values, got " + describe(object));
    }
    std::vector<std::string> names;
    for (const EffectParam& param : params) {
        if (settable(param)) {
            names.push_back(param.name);
        }
    }
    std::vector<ParamTrack> tracks;
    for (const auto& item : object.items()) {
        const std::string& name = item.key();
        const Json& value = item.value();
        // Parameter names are always bracketed: most hold spaces, and the
        // few that do not read the same way.
        const std::string field = path + "[" + json_quoted(name) + "]";
        const auto it = std::find_if(params.begin(), params.end(),
                                     [&](const EffectParam& p) { return p.name == name; });
        if (it == params.end() || it->kind == ParamKind::GroupEnd) {
            r.fail(field, "unknown parameter " + json_quoted(name) +
                              "; nearest: " + nearest_names(name, names));
        }
        if (!settable(*it)) {
            const char* why = it->kind == ParamKind::Layer    ? "is a source slot; use \"sources\""
                              : it->kind == ParamKind::Button ? "is a button and holds no value"
                              : it->kind == ParamKind::Group
                                  ? "is a group of parameters"
                                  : "is set by the renderer from the number of sources";
            r.fail(field, json_quoted(name) + " " + why);
        }
        tracks.push_back(read_param(r, value, field, *it));
    }
    std::sort(tracks.begin(), tracks.end(),
              [](const ParamTrack& a, const ParamTrack& b) { return a.index < b.index; });
    return tracks;
}

// ---- Comp and sources ----------------------------------------------------------

Comp read_comp(const Reader& r, const Json& object) {
    const std::string path = "comp";
    if (!object.is_object()) {
        r.fail(path,
               "must be an object with width, height, fps and duration, got " + describe(object));
    }
    r.only_fields(object, path, {"width", "height", "fps", "duration"});
    Comp comp;
    comp.width = r.whole_number(r.require(object, path, "width"), "comp.width", 1, kMaxCompSide);
    comp.height = r.whole_number(r.require(object, path, "height"), "comp.height", 1, kMaxCompSide);
    if (!pixel_count_ok(comp.width, comp.height)) {
        r.fail(path, std::to_string(comp.width) + " x " + std::to_string(comp.height) + " is " +
                         std::to_string(int64_t{comp.width} * comp.height) +
                         " pixels; the effect draws at most 67108864 (64 megapixels)");
    }
    comp.fps = r.number(r.require(object, path, "fps"), "comp.fps");
    if (!(comp.fps > 0)) {
        r.fail("comp.fps", "must be greater than 0, got " + format_number(comp.fps));
    }
    const double scale = std::round(comp.fps * 1000.0);
    if (scale < 1 || scale > std::numeric_limits<int32_t>::max()) {
        r.fail("comp.fps", format_number(comp.fps) +
                               " gives a time scale (fps x 1000, rounded) outside 1 to "
                               "2147483647");
    }
    comp.time_scale = static_cast<int32_t>(scale);
    comp.duration = r.number(r.require(object, path, "duration"), "comp.duration");
    if (!(comp.duration > 0)) {
        r.fail("comp.duration",
               "must be greater than 0 seconds, got " + format_number(comp.duration));
    }
    const double frames = std::ceil(comp.duration * comp.fps - 1e-9);
    if (!(frames >= 1)) {
        r.fail("comp.duration", format_number(comp.duration) + " s at " + format_number(comp.fps) +
                                    " fps holds no frame");
    }
    if (frames > kMaxFrameCount) {
        r.fail("comp.duration", format_number(comp.duration) + " s at " + format_number(comp.fps) +
                                    " fps is more than " + std::to_string(kMaxFrameCount) +
                                    " frames");
    }
    comp.frame_count = static_cast<int32_t>(frames);
    return comp;
}

SourceEntry read_source(const Reader& r, const Json& entry, size_t index,
                        const std::filesystem::path& base_dir) {
    const std::string path = source_field(index);
    if (entry.is_null()) {
        return std::monostate{};
    }
    if (!entry.is_object()) {
        r.fail(path, "must be a text source {\"text\": ...}, an image source {\"image\": ...} "
                     "or null, got " +
                         describe(entry));
    }
    const bool text = entry.contains("text");
    const bool image = entry.contains("image");
    if (text == image) {
        r.fail(path, text ? "has both \"text\" and \"image\"; a source is one or the other"
                          : "needs \"text\" or \"image\"");
    }
    if (image) {
        r.only_fields(entry, path, {"image"});
        ImageSource source;
        source.path = r.string(entry["image"], path + ".image");
        if (source.path.empty()) {
            r.fail(path + ".image", "must name a PNG file");
        }
        source.file_path = base_dir / std::filesystem::path(source.path);
        return source;
    }
    r.only_fields(entry, path, {"text", "font", "size", "color"});
    TextSource source;
    source.text = r.string(entry["text"], path + ".text");
    if (const auto it = entry.find("font"); it != entry.end()) {
        source.font = r.string(*it, path + ".font");
        if (source.font.empty()) {
            r.fail(path + ".font", "must name a font, for example \"DejaVu Sans:bold\"");
        }
    }
    if (const auto it = entry.find("size"); it != entry.end()) {
        source.size = r.number(*it, path + ".size");
        if (!(source.size >= 1 && source.size <= kMaxTextSize)) {
            r.fail(path + ".size", "must be a size in pixels from 1 to " +
                                       format_number(kMaxTextSize) + ", got " +
                                       format_number(source.size));
        }
    }
    if (const auto it = entry.find("color"); it != entry.end()) {
        source.color = r.color(*it, path + ".color");
    }
    return source;
}

constexpr const char* kDemoScene = R"({
  "comp": {"width": 1280, "height": 720, "fps": 30, "duration": 6.0},
  "sources": [
    {"text": "DOTS", "font": "DejaVu Sans:bold", "size": 220, "color": "#ffffff"},
    {"text": "INTO", "font": "DejaVu Sans:bold", "size": 220, "color": "#ffd27a"},
    {"text": "WORDS", "font": "DejaVu Sans:bold", "size": 220, "color": "#7ad3ff"}
  ]
})";

} // namespace

std::string source_field(size_t index) {
    return index_path("sources", index) + " (Source " + std::to_string(index + 1) + ")";
}

std::optional<Rgb8> parse_hex_color(std::string_view text) {
    if (text.size() != 7 || text[0] != '#') {
        return std::nullopt;
    }
    uint8_t channels[3];
    for (int c = 0; c < 3; ++c) {
        const char* begin = text.data() + 1 + 2 * c;
        if (!std::isxdigit(static_cast<unsigned char>(begin[0])) ||
            !std::isxdigit(static_cast<unsigned char>(begin[1]))) {
            return std::nullopt;
        }
        unsigned value = 0;
        std::from_chars(begin, begin + 2, value, 16);
        channels[c] = static_cast<uint8_t>(value);
    }
    return Rgb8{channels[0], channels[1], channels[2]};
}

std::string format_hex_color(Rgb8 color) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "#";
    for (const uint8_t v : {color.red, color.green, color.blue}) {
        text += kDigits[v >> 4];
        text += kDigits[v & 15];
    }
    return text;
}

Scene parse_scene(std::string_view text, const std::string& file,
                  const std::filesystem::path& base_dir, std::span<const EffectParam> params,
                  std::span<const std::string> overrides) {
    Json root = parse_json(text, file);
    for (const std::string& option : overrides) {
        if (!root.is_object()) {
            break; // reported below
        }
        apply_override(root, option);
    }
    const Reader r{file};
    if (!root.is_object()) {
        throw InputError(file + ": the scene must be a JSON object, got " + describe(root));
    }
    r.only_fields(root, "", {"comp", "downsample", "depth", "background", "sources", "params"});

    Scene scene;
    scene.file = file;
    const auto comp = root.find("comp");
    if (comp == root.end()) {
        throw InputError(file + ": comp: missing; a scene needs {\"comp\": {\"width\": ..., "
                                "\"height\": ..., \"fps\": ..., \"duration\": ...}}");
    }
    scene.comp = read_comp(r, *comp);
    if (const auto it = root.find("downsample"); it != root.end()) {
        scene.downsample = r.whole_number(*it, "downsample", 1, 8);
    }
    if (const auto it = root.find("depth"); it != root.end()) {
        const bool valid = it->is_number() && (*it == 8 || *it == 16 || *it == 32);
        if (!valid) {
            r.fail("depth", "must be 8, 16 or 32, got " + describe(*it));
        }
        scene.depth = *it == 8 ? PixelDepth::k8 : *it == 16 ? PixelDepth::k16 : PixelDepth::k32;
    }
    if (const auto it = root.find("background"); it != root.end() && !it->is_null()) {
        scene.background = r.color(*it, "background");
    }
    if (const auto it = root.find("sources"); it != root.end()) {
        if (!it->is_array()) {
            r.fail("sources", "must be an array of sources, got " + describe(*it));
        }
        if (it->size() > kSourceSlotCount) {
            r.fail("sources", "has " + std::to_string(it->size()) + " entries; the effect has " +
                                  std::to_string(kSourceSlotCount) + " source slots");
        }
        for (size_t i = 0; i < it->size(); ++i) {
            scene.sources.push_back(read_source(r, (*it)[i], i, base_dir));
        }
    }
    if (const auto it = root.find("params"); it != root.end()) {
        scene.params = read_params(r, *it, params);
    }
    return scene;
}

Scene load_scene_file(const std::filesystem::path& path, std::span<const EffectParam> params,
                      std::span<const std::string> overrides) {
    const std::string file = path.string();
    std::string error;
    const std::vector<uint8_t> bytes = read_file_bytes(path, kMaxSceneBytes, error);
    if (!error.empty()) {
        throw InputError(file + ": cannot read the scene: " + error);
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return parse_scene(text, file, path.parent_path(), params, overrides);
}

Scene demo_scene(std::span<const EffectParam> params, std::span<const std::string> overrides) {
    return parse_scene(kDemoScene, "<demo scene>", {}, params, overrides);
}

} // namespace pointillo
