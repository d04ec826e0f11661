#pragma once

#include "cli/image.h"
#include "cli/scene.h"

#include <string>

namespace pointillo {

struct ResolvedFont {
    std::string file;
    int32_t face_index = 0;
    std::string family; // as the font names itself
};

// Finds a font by fontconfig name ("DejaVu Sans", "DejaVu Sans:bold"). Since
// fontconfig always substitutes something, a match whose families do not
// include the requested one (compared case-insensitively) is refused with
// std::runtime_error naming what fontconfig offered instead.
ResolvedFont resolve_font(const std::string& name);

// A straight 8-bit layer of width x height with the text shaped by HarfBuzz
// and rasterised (anti-aliased, unhinted) by FreeType: colour `text.color`
// wherever the text covers, alpha the coverage, and all zero elsewhere.
// Lines ("\n") sit one font line height apart; each line is centred
// horizontally on its ink, and the block of lines vertically on its ink, both
// moved by whole pixels.
StraightImage render_text_layer(const TextSource& text, const ResolvedFont& font, int32_t width,
                                int32_t height);

} // namespace pointillo
