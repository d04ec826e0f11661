#include "cli/text_layer.h"

#include <algorithm>
#include <cmath>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include <hb-ft.h>
#include <hb.h>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
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
    if (font.file.empty()) {
        throw std::runtime_error("font \"" + name + "\" has no file");
    }
    return font;
}

StraightImage render_text_layer(const TextSource& text, const ResolvedFont& font, int32_t width,
                                int32_t height) {
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
    for (const PlacedGlyph& g : glyphs) {
        const size_t line = static_cast<size_t>(g.line);
        const FT_Pos shift_x = round_to_pixel(
            (width_26_6 - static_cast<double>(line_min[line] + line_max[line])) / 2.0);
        const FT_Pos dy = shift_y - line_height * g.line;
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
