#include "cli/scene/text_layer.h"

#include <algorithm>
#include <cmath>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include <hb-ft.h>
#include <hb.h>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>
#include FT_BBOX_H
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_OUTLINE_H

namespace pointillo {

namespace {

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

struct PatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;

struct ConfigDeleter {
    void operator()(FcConfig* config) const { FcConfigDestroy(config); }
};

// A configuration of our own for each look-up, destroyed afterwards: a
// configuration kept for the whole process is reported as leaked.
std::unique_ptr<FcConfig, ConfigDeleter> load_font_config() {
    std::unique_ptr<FcConfig, ConfigDeleter> config(FcInitLoadConfigAndFonts());
    if (!config) {
        throw std::runtime_error("fontconfig could not load its configuration");
    }
    return config;
}

// Fontconfig's thread safety has varied between versions; fonts are looked up
// while a scene is prepared, never on a hot path.
std::mutex& font_config_mutex() {
    static std::mutex mutex;
    return mutex;
}

std::string pattern_string(FcPattern* pattern, const char* object, int n) {
    FcChar8* value = nullptr;
    if (FcPatternGetString(pattern, object, n, &value) != FcResultMatch || value == nullptr) {
        return {};
    }
    return reinterpret_cast<const char*>(value);
}

struct FreeTypeLibrary {
    FT_Library library = nullptr;
    FreeTypeLibrary() {
        if (FT_Init_FreeType(&library) != 0) {
            throw std::runtime_error("FreeType could not start");
        }
    }
    ~FreeTypeLibrary() { FT_Done_FreeType(library); }
    FreeTypeLibrary(const FreeTypeLibrary&) = delete;
    FreeTypeLibrary& operator=(const FreeTypeLibrary&) = delete;
};

struct FaceHolder {
    FT_Face face = nullptr;
    ~FaceHolder() {
        if (face != nullptr) {
            FT_Done_Face(face);
        }
    }
};

struct HbFontDeleter {
    void operator()(hb_font_t* font) const { hb_font_destroy(font); }
};
struct HbBufferDeleter {
    void operator()(hb_buffer_t* buffer) const { hb_buffer_destroy(buffer); }
};

struct GlyphDeleter {
    void operator()(FT_Glyph glyph) const { FT_Done_Glyph(glyph); }
};
using GlyphCopy = std::unique_ptr<FT_GlyphRec, GlyphDeleter>;

// One glyph's outline placed on its line: 26.6 fixed point, y up, the line's
// baseline at y = 0 and its pen starting at x = 0.
struct PlacedGlyph {
    GlyphCopy glyph;
    int line = 0;
    FT_BBox box{}; // ink box at its place on the line
};

struct Coverage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> values; // rows top down
};

// FreeType hands spans in its y-up pixel rows: row y covers [y, y + 1).
void add_spans(int y, int count, const FT_Span* spans, void* user) {
    auto* coverage = static_cast<Coverage*>(user);
    const int row = coverage->height - 1 - y;
    if (row < 0 || row >= coverage->height) {
        return;
    }
    uint8_t* line = &coverage->values[static_cast<size_t>(row) * coverage->width];
    for (int i = 0; i < count; ++i) {
        const int x0 = std::max(0, static_cast<int>(spans[i].x));
        const int x1 = std::min(coverage->width, spans[i].x + static_cast<int>(spans[i].len));
        for (int x = x0; x < x1; ++x) {
            // Glyphs may overlap (kerning, marks): keep the larger coverage.
            line[x] = std::max(line[x], spans[i].coverage);
        }
    }
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return lines;
        }
        start = end + 1;
    }
}

// The code point whose UTF-8 starts at `at` (U+FFFD for a broken sequence).
uint32_t code_point_at(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) {
        return i < text.size() ? static_cast<uint32_t>(static_cast<unsigned char>(text[i])) : 0u;
    };
    const uint32_t b0 = byte(at);
    const auto tail = [&](size_t i) { return byte(at + i) & 0x3Fu; };
    if (b0 < 0x80) {
        return b0;
    }
    if ((b0 & 0xE0) == 0xC0) {
        return (b0 & 0x1F) << 6 | tail(1);
    }
    if ((b0 & 0xF0) == 0xE0) {
        return (b0 & 0x0F) << 12 | tail(1) << 6 | tail(2);
    }
    if ((b0 & 0xF8) == 0xF0) {
        return (b0 & 0x07) << 18 | tail(1) << 12 | tail(2) << 6 | tail(3);
    }
    return 0xFFFD;
}

// Fontconfig's weight numbers by name, for messages.
std::string weight_name(int weight) {
    static constexpr std::pair<int, const char*> kNames[] = {{FC_WEIGHT_THIN, "thin"},
                                                             {FC_WEIGHT_EXTRALIGHT, "extralight"},
                                                             {FC_WEIGHT_LIGHT, "light"},
                                                             {FC_WEIGHT_BOOK, "book"},
                                                             {FC_WEIGHT_REGULAR, "regular"},
                                                             {FC_WEIGHT_MEDIUM, "medium"},
                                                             {FC_WEIGHT_DEMIBOLD, "semibold"},
                                                             {FC_WEIGHT_BOLD, "bold"},
                                                             {FC_WEIGHT_EXTRABOLD, "extrabold"},
                                                             {FC_WEIGHT_BLACK, "black"},
                                                             {FC_WEIGHT_EXTRABLACK, "extrablack"}};
    for (const auto& [value, name] : kNames) {
        if (value == weight) {
            return name;
        }
    }
    return std::to_string(weight);
}

std::optional<int> pattern_int(FcPattern* pattern, const char* object) {
    int value = 0;
    if (FcPatternGetInteger(pattern, object, 0, &value) != FcResultMatch) {
        return std::nullopt;
    }
    return value;
}

// What the match lacks of the weight, slant, width and style asked for in
// `asked` (the parsed name, before fontconfig filled in its defaults).
std::string substitution_of(FcPattern* asked, FcPattern* match) {
    std::string missing;
    std::string given;
    const auto note = [&](const std::string& want, const std::string& got) {
        missing += (missing.empty() ? "" : ", ") + want;
        given += (given.empty() ? "" : ", ") + got;
    };
    const auto asked_weight = pattern_int(asked, FC_WEIGHT);
    const auto got_weight = pattern_int(match, FC_WEIGHT);
    if (asked_weight && got_weight && *asked_weight != *got_weight) {
        note("weight " + weight_name(*asked_weight), "weight " + weight_name(*got_weight));
    }
    // Italic and oblique both lean; either stands for the other.
    const auto asked_slant = pattern_int(asked, FC_SLANT);
    const auto got_slant = pattern_int(match, FC_SLANT);
    if (asked_slant && got_slant && (*asked_slant > 0) != (*got_slant > 0)) {
        note(*asked_slant > 0 ? "italic" : "upright", *got_slant > 0 ? "italic" : "upright");
    }
    const auto asked_width = pattern_int(asked, FC_WIDTH);
    const auto got_width = pattern_int(match, FC_WIDTH);
    if (asked_width && got_width && *asked_width != *got_width) {
        note("width " + std::to_string(*asked_width), "width " + std::to_string(*got_width));
    }
    const std::string asked_style = pattern_string(asked, FC_STYLE, 0);
    if (!asked_style.empty()) {
        bool found = false;
        for (int i = 0;; ++i) {
            const std::string style = pattern_string(match, FC_STYLE, i);
            if (style.empty()) {
                break;
            }
            found = found || lower(style) == lower(asked_style);
        }
        if (!found) {
            note("style " + asked_style, "style " + pattern_string(match, FC_STYLE, 0));
        }
    }
    return missing.empty() ? std::string() : missing + "; got " + given;
}

FT_Pos round_to_pixel(double value) {
    return static_cast<FT_Pos>(std::llround(value / 64.0)) * 64;
}

} // namespace

ResolvedFont resolve_font(const std::string& name) {
    const std::lock_guard<std::mutex> lock(font_config_mutex());
    const auto owned_config = load_font_config();
    FcConfig* config = owned_config.get();
    Pattern pattern(FcNameParse(reinterpret_cast<const FcChar8*>(name.c_str())));
    if (!pattern) {
        throw std::runtime_error("cannot read the font name \"" + name + "\"");
    }
    const std::string family = pattern_string(pattern.get(), FC_FAMILY, 0);
    if (family.empty()) {
        throw std::runtime_error("the font name \"" + name +
                                 "\" names no family, for example \"DejaVu Sans:bold\"");
    }
    const Pattern asked(FcPatternDuplicate(pattern.get()));
    FcConfigSubstitute(config, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    Pattern match(FcFontMatch(config, pattern.get(), &result));
    if (!match) {
        throw std::runtime_error("unknown font \"" + name + "\": no font is installed");
    }
    bool same_family = false;
    for (int i = 0;; ++i) {
        const std::string candidate = pattern_string(match.get(), FC_FAMILY, i);
        if (candidate.empty()) {
            break;
        }
        same_family = same_family || lower(candidate) == lower(family);
    }
    const std::string offered = pattern_string(match.get(), FC_FAMILY, 0);
    if (!same_family) {
        throw std::runtime_error("unknown font \"" + family + "\" (fontconfig would substitute \"" +
                                 offered + "\"; `fc-list : family` lists the installed fonts)");
    }
    ResolvedFont font;
    font.file = pattern_string(match.get(), FC_FILE, 0);
    int index = 0;
    if (FcPatternGetInteger(match.get(), FC_INDEX, 0, &index) == FcResultMatch) {
        font.face_index = index;
    }
    font.family = offered;
    font.style = pattern_string(match.get(), FC_STYLE, 0);
    font.substitution = substitution_of(asked.get(), match.get());
    if (font.file.empty()) {
        throw std::runtime_error("font \"" + name + "\" has no file");
    }
    return font;
}

StraightImage render_text_layer(const TextSource& text, const ResolvedFont& font, int32_t width,
                                int32_t height, TextNotes* notes) {
    TextNotes found;
    StraightImage image = make_straight_image(width, height, 8);
    FreeTypeLibrary ft;
    FaceHolder holder;
    if (FT_New_Face(ft.library, font.file.c_str(), font.face_index, &holder.face) != 0) {
        throw std::runtime_error("cannot open the font file " + font.file);
    }
    FT_Face face = holder.face;
    const FT_F26Dot6 size = static_cast<FT_F26Dot6>(std::llround(text.size * 64.0));
    if (FT_Set_Char_Size(face, 0, size, 72, 72) != 0) {
        throw std::runtime_error("the font cannot be set to size " + std::to_string(text.size));
    }
    constexpr FT_Int32 kLoadFlags = FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP;
    std::unique_ptr<hb_font_t, HbFontDeleter> hb_font(hb_ft_font_create_referenced(face));
    hb_ft_font_set_load_flags(hb_font.get(), kLoadFlags);

    // Shape each line and keep a copy of every glyph outline at its place.
    const std::vector<std::string> lines = split_lines(text.text);
    std::vector<PlacedGlyph> glyphs;
    for (size_t line = 0; line < lines.size(); ++line) {
        std::unique_ptr<hb_buffer_t, HbBufferDeleter> buffer(hb_buffer_create());
        const std::string& chars = lines[line];
        hb_buffer_add_utf8(buffer.get(), chars.data(), static_cast<int>(chars.size()), 0,
                           static_cast<int>(chars.size()));
        hb_buffer_guess_segment_properties(buffer.get());
        hb_shape(hb_font.get(), buffer.get(), nullptr, 0);
        unsigned count = 0;
        const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer.get(), &count);
        const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer.get(), &count);
        FT_Pos pen_x = 0;
        FT_Pos pen_y = 0;
        for (unsigned i = 0; i < count; ++i) {
            // Glyph 0 is the font's "missing" box; the cluster is the byte
            // offset of the character it stands for.
            if (infos[i].codepoint == 0) {
                const uint32_t cp = code_point_at(chars, infos[i].cluster);
                auto& missing = found.missing_glyphs;
                if (std::find(missing.begin(), missing.end(), cp) == missing.end()) {
                    missing.push_back(cp);
                }
            }
            if (FT_Load_Glyph(face, infos[i].codepoint, kLoadFlags) == 0 &&
                face->glyph->format == FT_GLYPH_FORMAT_OUTLINE &&
                face->glyph->outline.n_points > 0) {
                FT_Glyph copy = nullptr;
                if (FT_Get_Glyph(face->glyph, &copy) != 0) {
                    throw std::runtime_error("out of memory for glyph outlines");
                }
                PlacedGlyph placed;
                placed.glyph.reset(copy);
                placed.line = static_cast<int>(line);
                FT_Outline* outline = &reinterpret_cast<FT_OutlineGlyph>(copy)->outline;
                FT_Outline_Translate(outline, pen_x + positions[i].x_offset,
                                     pen_y + positions[i].y_offset);
                FT_Outline_Get_BBox(outline, &placed.box);
                glyphs.push_back(std::move(placed));
            }
            pen_x += positions[i].x_advance;
            pen_y += positions[i].y_advance;
        }
    }
    if (glyphs.empty()) {
        if (notes != nullptr) {
            *notes = found;
        }
        return image;
    }

    // Centre each line on its ink horizontally and the block vertically.
    const FT_Pos line_height = face->size->metrics.height;
    constexpr FT_Pos kNone = std::numeric_limits<FT_Pos>::max();
    std::vector<FT_Pos> line_min(lines.size(), kNone);
    std::vector<FT_Pos> line_max(lines.size(), -kNone);
    FT_Pos block_min = kNone;
    FT_Pos block_max = -kNone;
    for (const PlacedGlyph& g : glyphs) {
        const FT_Pos baseline = -line_height * g.line;
        line_min[static_cast<size_t>(g.line)] =
            std::min(line_min[static_cast<size_t>(g.line)], g.box.xMin);
        line_max[static_cast<size_t>(g.line)] =
            std::max(line_max[static_cast<size_t>(g.line)], g.box.xMax);
        block_min = std::min(block_min, g.box.yMin + baseline);
        block_max = std::max(block_max, g.box.yMax + baseline);
    }
    const double width_26_6 = static_cast<double>(width) * 64.0;
    const double height_26_6 = static_cast<double>(height) * 64.0;
    const FT_Pos shift_y =
        round_to_pixel((height_26_6 - static_cast<double>(block_min + block_max)) / 2.0);

    Coverage coverage{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height)};
    FT_Raster_Params params{};
    params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
    params.gray_spans = add_spans;
    params.user = &coverage;
    params.clip_box = FT_BBox{0, 0, width, height};
    FT_BBox ink{kNone, kNone, -kNone, -kNone};
    for (const PlacedGlyph& g : glyphs) {
        const size_t line = static_cast<size_t>(g.line);
        const FT_Pos shift_x = round_to_pixel(
            (width_26_6 - static_cast<double>(line_min[line] + line_max[line])) / 2.0);
        const FT_Pos dy = shift_y - line_height * g.line;
        ink.xMin = std::min(ink.xMin, g.box.xMin + shift_x);
        ink.xMax = std::max(ink.xMax, g.box.xMax + shift_x);
        ink.yMin = std::min(ink.yMin, g.box.yMin + dy);
        ink.yMax = std::max(ink.yMax, g.box.yMax + dy);
        // Glyphs wholly outside the layer are skipped: the rasteriser
        // refuses coordinates far beyond its pixel range.
        if (g.box.xMax + shift_x <= 0 || g.box.xMin + shift_x >= width * 64 ||
            g.box.yMax + dy <= 0 || g.box.yMin + dy >= height * 64) {
            continue;
        }
        FT_Outline* outline = &reinterpret_cast<FT_OutlineGlyph>(g.glyph.get())->outline;
        FT_Outline_Translate(outline, shift_x, dy);
        if (FT_Outline_Render(ft.library, outline, &params) != 0) {
            throw std::runtime_error("FreeType could not rasterise a glyph");
        }
    }

    // 26.6 units, y up: a box beyond 0 or the layer's side is cut there.
    found.ink_width = static_cast<int32_t>((ink.xMax - ink.xMin + 63) / 64);
    found.ink_height = static_cast<int32_t>((ink.yMax - ink.yMin + 63) / 64);
    found.cut_left = ink.xMin < 0;
    found.cut_right = ink.xMax > FT_Pos{width} * 64;
    found.cut_bottom = ink.yMin < 0;
    found.cut_top = ink.yMax > FT_Pos{height} * 64;
    if (notes != nullptr) {
        *notes = found;
    }

    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (size_t p = 0; p < pixels; ++p) {
        const uint8_t a = coverage.values[p];
        if (a != 0) {
            uint16_t* px = &image.samples[p * 4];
            px[0] = text.color.red;
            px[1] = text.color.green;
            px[2] = text.color.blue;
            px[3] = a;
        }
    }
    return image;
}

} // namespace pointillo
