#pragma once

#include "cli/base/image.h"
#include "cli/scene/scene.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pointillo {

struct ResolvedFont {
    std::string file;
    int32_t face_index = 0;
    std::string family; // as the font names itself
    std::string style;  // as the font names it ("Bold")
    // When the family is there but not in the weight, slant, width or style
    // asked for: what was asked and what fontconfig gave instead ("weight
    // black; got weight bold"). Empty for an exact match.
    std::string substitution;
};

// Finds a font by fontconfig name ("DejaVu Sans", "DejaVu Sans:bold"). Since
// fontconfig always substitutes something, a match whose families do not
// include the requested one (compared case-insensitively) is refused with
// std::runtime_error naming what fontconfig offered instead; a match of the
// family in another style is taken and noted in `substitution`.
ResolvedFont resolve_font(const std::string& name);

// What drawing a text layer found worth a warning.
struct TextNotes {
    std::vector<uint32_t> missing_glyphs; // code points the font lacks, in order, once each
    // The text's ink box at its place, in layer pixels (may reach outside).
    int32_t ink_width = 0;
    int32_t ink_height = 0;
    bool cut_left = false; // ink beyond each edge of the layer
    bool cut_right = false;
    bool cut_top = false;
    bool cut_bottom = false;
};

// A straight 8-bit layer of width x height with the text shaped by HarfBuzz
// and rasterised (anti-aliased, unhinted) by FreeType: colour `text.color`
// wherever the text covers, alpha the coverage, and all zero elsewhere.
// Lines ("\n") sit one font line height apart; each line is centred
// horizontally on its ink, and the block of lines vertically on its ink, both
// moved by whole pixels.
// `notes`, when given, receives what the drawing found.
StraightImage render_text_layer(const TextSource& text, const ResolvedFont& font, int32_t width,
                                int32_t height, TextNotes* notes = nullptr);

} // namespace pointillo
