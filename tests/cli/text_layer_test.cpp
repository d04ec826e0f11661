#include "cli/scene/text_layer.h"

#include <gtest/gtest.h>

namespace pointillo {
namespace {

struct Ink {
    int32_t left = INT32_MAX, right = -1, top = INT32_MAX, bottom = -1;
    std::vector<bool> rows; // rows holding any ink
};

Ink ink_of(const StraightImage& image) {
    Ink ink;
    ink.rows.assign(static_cast<size_t>(image.height), false);
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            const size_t p = (static_cast<size_t>(y) * static_cast<size_t>(image.width) +
                              static_cast<size_t>(x)) *
                             4;
            if (image.samples[p + 3] != 0) {
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y);
                ink.bottom = std::max(ink.bottom, y);
                ink.rows[static_cast<size_t>(y)] = true;
            }
        }
    }
    return ink;
}

StraightImage draw(const std::string& text, int32_t width, int32_t height, double size,
                   const char* font = "DejaVu Sans") {
    TextSource source;
    source.text = text;
    source.size = size;
    source.color = Rgb8{255, 136, 0};
    return render_text_layer(source, resolve_font(font), width, height);
}

TEST(TextLayer, FindsFontsByFontconfigNameIgnoringCase) {
    const ResolvedFont plain = resolve_font("DejaVu Sans");
    EXPECT_EQ(plain.family, "DejaVu Sans");
    EXPECT_FALSE(plain.file.empty());
    const ResolvedFont bold = resolve_font("dejavu sans:bold");
    EXPECT_NE(bold.file, plain.file);
    EXPECT_NE(bold.file.find("Bold"), std::string::npos) << bold.file;
}

TEST(TextLayer, RefusesFontsFontconfigWouldSubstitute) {
    for (const char* name : {"Nonexistent Sans", "Comic Nothing:bold", ":bold"}) {
        EXPECT_THROW(resolve_font(name), std::runtime_error) << name;
    }
    try {
        resolve_font("Nonexistent Sans");
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("unknown font \"Nonexistent Sans\""),
                  std::string::npos)
            << e.what();
    }
}

TEST(TextLayer, TextIsCentredInTheLayer) {
    const StraightImage image = draw("Hello", 300, 120, 48);
    EXPECT_EQ(image.width, 300);
    EXPECT_EQ(image.height, 120);
    EXPECT_EQ(image.bits, 8);
    const Ink ink = ink_of(image);
    ASSERT_GE(ink.right, 0) << "no ink";
    EXPECT_GT(ink.right - ink.left, 60);
    // Margins on both sides agree to within a pixel (positions move by whole pixels).
    EXPECT_LE(std::abs(ink.left - (299 - ink.right)), 1) << ink.left << " " << ink.right;
    EXPECT_LE(std::abs(ink.top - (119 - ink.bottom)), 1) << ink.top << " " << ink.bottom;
}

TEST(TextLayer, ColourIsStraightAndEmptyPixelsAreZero) {
    const StraightImage image = draw("Ag", 120, 80, 40);
    size_t partial = 0;
    for (size_t p = 0; p < image.samples.size(); p += 4) {
        const uint16_t a = image.samples[p + 3];
        if (a == 0) {
            EXPECT_EQ(image.samples[p], 0);
            EXPECT_EQ(image.samples[p + 1], 0);
            EXPECT_EQ(image.samples[p + 2], 0);
        } else {
            EXPECT_EQ(image.samples[p], 255);
            EXPECT_EQ(image.samples[p + 1], 136);
            EXPECT_EQ(image.samples[p + 2], 0);
            partial += a < 255 ? 1 : 0;
        }
    }
    EXPECT_GT(partial, 0u) << "edges are anti-aliased";
}

TEST(TextLayer, NewlinesMakeSeparateLines) {
    const StraightImage image = draw("II\nII", 200, 200, 40);
    const Ink ink = ink_of(image);
    // Runs of inked rows, separated by blank rows.
    int runs = 0;
    for (size_t y = 0; y < ink.rows.size(); ++y) {
        if (ink.rows[y] && (y == 0 || !ink.rows[y - 1])) {
            ++runs;
        }
    }
    EXPECT_EQ(runs, 2);
    EXPECT_LE(std::abs(ink.top - (199 - ink.bottom)), 1);

    const Ink one = ink_of(draw("II", 200, 200, 40));
    EXPECT_GT(ink.bottom - ink.top, 2 * (one.bottom - one.top));
}

TEST(TextLayer, EmptyTextAndClippedTextAreFine) {
    const StraightImage empty = draw("", 20, 10, 12);
    EXPECT_TRUE(
        std::all_of(empty.samples.begin(), empty.samples.end(), [](uint16_t v) { return v == 0; }));
    // Full blocks (U+2588), each far larger than the layer: glyphs far off it are skipped,
    // the ones over it clipped.
    std::string blocks;
    for (int i = 0; i < 41; ++i) {
        blocks += "\u2588";
    }
    const StraightImage big = draw(blocks, 64, 32, 2000);
    const Ink ink = ink_of(big);
    EXPECT_EQ(big.width, 64);
    EXPECT_EQ(ink.left, 0);
    EXPECT_EQ(ink.right, 63);
    EXPECT_EQ(ink.top, 0);
    EXPECT_EQ(ink.bottom, 31);
}

TextNotes notes_of(const std::string& text, int32_t width, int32_t height, double size) {
    TextSource source;
    source.text = text;
    source.size = size;
    TextNotes notes;
    render_text_layer(source, resolve_font("DejaVu Sans"), width, height, &notes);
    return notes;
}

TEST(TextLayer, NotesGlyphsTheFontLacksOnceEach) {
    // U+4E2D and U+6587 (CJK), U+10348 (Gothic, four UTF-8 bytes): not in
    // DejaVu Sans.
    const TextNotes notes = notes_of("A\u4E2D\u6587 \u4E2D\n\U00010348", 200, 100, 20);
    EXPECT_EQ(notes.missing_glyphs, (std::vector<uint32_t>{0x4E2D, 0x6587, 0x10348}));
    EXPECT_TRUE(notes_of("Caf\u00E9 \u00FC", 200, 100, 20).missing_glyphs.empty());
}

TEST(TextLayer, NotesTextCutAtTheEdges) {
    struct Row {
        const char* text;
        int32_t width, height;
        double size;
        bool left, right, top, bottom;
    };
    const Row rows[] = {
        {"Hi", 200, 100, 40, false, false, false, false},
        {"WIDE WIDE", 100, 100, 40, true, true, false, false},
        {"H\nH\nH", 100, 60, 40, false, false, true, true},
        {"", 100, 60, 40, false, false, false, false},
    };
    for (const Row& row : rows) {
        const TextNotes notes = notes_of(row.text, row.width, row.height, row.size);
        EXPECT_EQ(notes.cut_left, row.left) << row.text;
        EXPECT_EQ(notes.cut_right, row.right) << row.text;
        EXPECT_EQ(notes.cut_top, row.top) << row.text;
        EXPECT_EQ(notes.cut_bottom, row.bottom) << row.text;
    }
    const TextNotes wide = notes_of("WIDE WIDE", 100, 100, 40);
    EXPECT_GT(wide.ink_width, 100);
    EXPECT_LT(wide.ink_height, 40);
}

TEST(TextLayer, NotesAStyleFontconfigSubstituted) {
    EXPECT_EQ(resolve_font("DejaVu Sans:black").substitution, "weight black; got weight bold");
    EXPECT_EQ(resolve_font("DejaVu Sans:black").style, "Bold");
    for (const char* exact : {"DejaVu Sans", "DejaVu Sans:bold", "dejavu serif:italic",
                              "DejaVu Sans:italic", "DejaVu Sans:style=Bold"}) {
        EXPECT_EQ(resolve_font(exact).substitution, "") << exact;
    }
    EXPECT_EQ(resolve_font("DejaVu Sans:style=Heavy").substitution, "style Heavy; got style Book");
}

} // namespace
} // namespace pointillo
