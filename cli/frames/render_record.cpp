#include "cli/frames/render_record.h"

#include "cli/base/errors.h"
#include "cli/base/files.h"
#include "cli/frames/frame_file.h"
#include "cli/scene/scene_reader.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>
#include <variant>

#ifndef POINTILLO_VERSION_TEXT
#define POINTILLO_VERSION_TEXT "unknown"
#endif

namespace pointillo {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormatKey = "pointillo render record";
constexpr int kFormat = 1;
constexpr const char* kUnreadable = "record";
constexpr const char* kPixelsSuffix = " pixels";
constexpr std::uintmax_t kMaxRecordBytes = 16u << 20;

std::string number_text(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string value_text(const ParamTrack& track, const TrackValue& value) {
    switch (track.kind) {
    case ParamKind::Checkbox:
        return value.number != 0.0 ? "true" : "false";
    case ParamKind::Color:
        return format_hex_color(value.color);
    default:
        return number_text(value.number);
    }
}

std::string track_text(const ParamTrack& track) {
    if (track.keys.size() == 1) {
        return value_text(track, track.keys[0].value);
    }
    std::string text = "[";
    for (const TrackKey& key : track.keys) {
        text += (text.size() > 1 ? ", [" : "[") + number_text(key.seconds) + ", " +
                value_text(track, key.value) + "]";
    }
    return text + "]";
}

// FNV-1a, 64 bits: enough to tell changed pixels apart, not a defence.
struct Fnv64 {
    uint64_t value = 0xCBF29CE484222325u;
    void add(const void* data, size_t size) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < size; ++i) {
            value = (value ^ bytes[i]) * 0x100000001B3u;
        }
    }
};

std::string pixels_hash(const ArgbImage& image) {
    Fnv64 hash;
    const int32_t header[3] = {image.width, image.height, static_cast<int32_t>(image.depth)};
    hash.add(header, sizeof header);
    hash.add(image.samples8.data(), image.samples8.size());
    hash.add(image.samples16.data(), image.samples16.size() * 2);
    hash.add(image.samples32.data(), image.samples32.size() * 4);
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash.value));
    return text;
}

std::string source_text(const SourceEntry& entry) {
    if (const auto* text = std::get_if<TextSource>(&entry)) {
        return "text " + Json(text->text).dump() + " in " + Json(text->font).dump() + ", " +
               number_text(text->size) + " px, " + format_hex_color(text->color);
    }
    if (const auto* image = std::get_if<ImageSource>(&entry)) {
        return "image " + Json(image->path).dump();
    }
    return "empty";
}

std::string shortened(const std::string& text) {
    if (text.size() <= 48) {
        return text;
    }
    // Cut between UTF-8 characters, never inside one.
    size_t cut = 45;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return text.substr(0, cut) + "...";
}

std::vector<FrameRange> parse_frame_list(const std::string& text) {
    std::vector<FrameRange> ranges;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find(", ", at), text.size());
        const std::string_view part(text.data() + at, end - at);
        const size_t dash = part.find('-');
        FrameRange range;
        const auto a =
            std::from_chars(part.data(), part.data() + std::min(dash, part.size()), range.first);
        range.last = range.first;
        bool ok = a.ec == std::errc{} && range.first >= 0;
        if (dash != std::string_view::npos) {
            const auto b =
                std::from_chars(part.data() + dash + 1, part.data() + part.size(), range.last);
            ok = ok && b.ec == std::errc{} && b.ptr == part.data() + part.size();
        } else {
            ok = ok && a.ptr == part.data() + part.size();
        }
        if (!ok || range.last < range.first ||
            (!ranges.empty() && range.first <= ranges.back().last + 1)) {
            throw std::runtime_error("bad frame list");
        }
        ranges.push_back(range);
        at = end + 2;
    }
    return ranges;
}

} // namespace

RenderRecord make_render_record(const Scene& scene, const PreparedScene& prepared,
                                const std::optional<Rgb8>& background, const MotionBlur& blur,
                                const std::string& module_version) {
    const SceneSetup& setup = prepared.setup;
    RenderRecord record;
    auto& e = record.entries;
    e.emplace_back("renderer", std::string("pointillo ") + POINTILLO_VERSION_TEXT);
    e.emplace_back("module", module_version);
    e.emplace_back("comp", std::to_string(setup.width) + " x " + std::to_string(setup.height) +
                               ", time scale " + std::to_string(setup.time_scale) + ", " +
                               std::to_string(setup.frame_count) + " frames");
    e.emplace_back("depth", std::to_string(setup.depth == PixelDepth::k8    ? 8
                                           : setup.depth == PixelDepth::k16 ? 16
                                                                            : 32));
    e.emplace_back("downsample", std::to_string(setup.downsample));
    e.emplace_back("background", background ? format_hex_color(*background) : "none");
    e.emplace_back("motion blur", blur.samples > 0
                                      ? std::to_string(blur.samples) + " samples, " +
                                            number_text(blur.shutter_angle) + " degrees"
                                      : "off");
    for (const ParamTrack& track : setup.params) {
        e.emplace_back("params[" + Json(track.name).dump() + "]", track_text(track));
    }
    for (size_t k = 0; k < setup.sources.size(); ++k) {
        const std::optional<ArgbImage>& pixels = prepared.pixels.layers[k];
        if (!pixels) {
            continue;
        }
        const std::string field = source_field(k);
        e.emplace_back(field, k < scene.sources.size() ? source_text(scene.sources[k]) : "layer");
        e.emplace_back(field + kPixelsSuffix, pixels_hash(*pixels));
    }
    return record;
}

std::optional<RenderRecord> read_render_record(const std::filesystem::path& dir) {
    const std::filesystem::path path = dir / kRenderRecordName;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        return std::nullopt;
    }
    std::string error;
    const std::vector<uint8_t> bytes = read_file_bytes(path, kMaxRecordBytes, error);
    RenderRecord record;
    try {
        if (!error.empty()) {
            throw std::runtime_error(error);
        }
        const Json json = Json::parse(bytes.begin(), bytes.end());
        if (json.at(kFormatKey) != kFormat) {
            throw std::runtime_error("another format");
        }
        for (const auto& [name, value] : json.at("made by").items()) {
            record.entries.emplace_back(name, value.get<std::string>());
        }
        record.foreign = parse_frame_list(json.at("frames of another render").get<std::string>());
    } catch (const std::exception&) {
        record = RenderRecord{};
        record.entries.emplace_back(kUnreadable, "unreadable");
    }
    return record;
}

void write_render_record(const std::filesystem::path& dir, const RenderRecord& record) {
    Json json;
    json[kFormatKey] = kFormat;
    Json made_by = Json::object();
    for (const auto& [name, value] : record.entries) {
        made_by[name] = value;
    }
    json["made by"] = std::move(made_by);
    json["frames of another render"] = frame_list_text(record.foreign);
    const std::string text = json.dump(2) + "\n";
    write_file_atomically(dir / kRenderRecordName,
                          std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::vector<std::string> record_differences(const RenderRecord& there, const RenderRecord& now) {
    std::vector<std::string> out;
    const auto find = [](const RenderRecord& r, const std::string& name) -> const std::string* {
        for (const auto& [n, v] : r.entries) {
            if (n == name) {
                return &v;
            }
        }
        return nullptr;
    };
    if (find(there, kUnreadable) != nullptr) {
        return {std::string(kRenderRecordName) + " cannot be read"};
    }
    const auto describe = [](const std::string& name, const std::string* a, const std::string* b) {
        const size_t n = std::strlen(kPixelsSuffix);
        if (name.size() > n &&
            name.compare(name.size() - n, std::string::npos, kPixelsSuffix) == 0) {
            return name + " changed (its image file or font changed)";
        }
        const bool param = name.rfind("params[", 0) == 0;
        const std::string absent = param ? "the default" : "none";
        return name + ": " + (a != nullptr ? shortened(*a) : absent) + " there, " +
               (b != nullptr ? shortened(*b) : absent) + " now";
    };
    const auto is_pixels = [](const std::string& name) {
        const size_t n = std::strlen(kPixelsSuffix);
        return name.size() > n &&
               name.compare(name.size() - n, std::string::npos, kPixelsSuffix) == 0;
    };
    for (const auto& [name, value] : there.entries) {
        const std::string* current = find(now, name);
        if (current != nullptr && *current == value) {
            continue;
        }
        // New pixels of a source that changed otherwise too go without saying.
        if (is_pixels(name)) {
            const std::string source = name.substr(0, name.size() - std::strlen(kPixelsSuffix));
            const std::string* a = find(there, source);
            const std::string* b = find(now, source);
            if (a == nullptr || b == nullptr || *a != *b) {
                continue;
            }
        }
        out.push_back(describe(name, &value, current));
    }
    for (const auto& [name, value] : now.entries) {
        if (find(there, name) == nullptr && !is_pixels(name)) {
            out.push_back(describe(name, nullptr, &value));
        }
    }
    return out;
}

std::set<int32_t> frame_files_in(const std::filesystem::path& dir, PixelDepth depth) {
    std::set<int32_t> frames;
    const std::string extension = depth == PixelDepth::k32 ? ".exr" : ".png";
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= 6 + extension.size() || name.rfind("frame_", 0) != 0 ||
            name.compare(name.size() - extension.size(), std::string::npos, extension) != 0) {
            continue;
        }
        const char* first = name.data() + 6;
        const char* last = name.data() + name.size() - extension.size();
        int32_t number = 0;
        const auto result = std::from_chars(first, last, number);
        if (result.ec == std::errc{} && result.ptr == last && *first != '-' && *first != '+') {
            frames.insert(number);
        }
    }
    return frames;
}

std::vector<FrameRange> frame_ranges_of(const std::set<int32_t>& frames) {
    std::vector<FrameRange> ranges;
    for (const int32_t n : frames) {
        if (!ranges.empty() && ranges.back().last + 1 == n) {
            ranges.back().last = n;
        } else {
            ranges.push_back(FrameRange{n, n});
        }
    }
    return ranges;
}

std::vector<FrameRange> without_frames(const std::vector<FrameRange>& ranges, FrameRange cut) {
    std::vector<FrameRange> out;
    for (const FrameRange& r : ranges) {
        if (r.last < cut.first || r.first > cut.last) {
            out.push_back(r);
            continue;
        }
        if (r.first < cut.first) {
            out.push_back(FrameRange{r.first, cut.first - 1});
        }
        if (r.last > cut.last) {
            out.push_back(FrameRange{cut.last + 1, r.last});
        }
    }
    return out;
}

bool in_ranges(const std::vector<FrameRange>& ranges, int32_t frame) {
    for (const FrameRange& r : ranges) {
        if (frame >= r.first && frame <= r.last) {
            return true;
        }
    }
    return false;
}

std::string frame_list_text(const std::vector<FrameRange>& ranges) {
    std::string text;
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about
    // "-" + std::string.
    for (const FrameRange& r : ranges) {
        if (!text.empty()) {
            text += ", ";
        }
        text += std::to_string(r.first);
        if (r.last != r.first) {
            text += '-';
            text += std::to_string(r.last);
        }
    }
    return text;
}

std::string frames_text(const std::vector<FrameRange>& ranges) {
    const bool one = ranges.size() == 1 && ranges[0].first == ranges[0].last;
    return (one ? "frame " : "frames ") + frame_list_text(ranges);
}

} // namespace pointillo
