#include "cli/frames/exr_io.h"
#include "cli/frames/frame_file.h"
#include "cli/frames/png_io.h"
#include "cli/frames/straight_8.h"
#include "test_support.h"

#include <cmath>
#include <csetjmp>
#include <gtest/gtest.h>
#include <png.h>
#include <utility>

namespace pointillo {
namespace {

TEST(FrameFile, NamesHaveFiveDigitsAndTheDepthsExtension) {
    EXPECT_EQ(frame_file_name(0, PixelDepth::k8), "frame_00000.png");
    EXPECT_EQ(frame_file_name(123, PixelDepth::k16), "frame_00123.png");
    EXPECT_EQ(frame_file_name(7, PixelDepth::k32), "frame_00007.exr");
    EXPECT_EQ(frame_file_name(123456, PixelDepth::k8), "frame_123456.png");
}

TEST(FrameFile, UnpremultiplyEightBitsRoundsHalfUpAndCaps) {
    struct Row {
        uint32_t c, a, expected;
    };
    const Row rows[] = {
        {0, 0, 0},       {10, 0, 0},  // no alpha, no colour
        {128, 255, 128}, {1, 255, 1}, // opaque: unchanged
        {100, 128, 199},              // 199.2
        {64, 128, 128},               // 127.5 rounds up
        {1, 2, 128},                  // 127.5
        {200, 100, 255},              // above alpha: capped
        {255, 255, 255},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(unpremultiply_8(row.c, row.a), row.expected) << "c " << row.c << " a " << row.a;
    }
}

// The reciprocals the PNG rows use give the division's result for every
// colour and alpha, premultiplied or not (colours above alpha included).
TEST(FrameFile, StraightWithoutDivisionMatchesUnpremultiplyEverywhere) {
    const Straight8& straight = straight_8();
    int32_t wrong = 0;
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t c = 0; c < 256; ++c) {
            if (straight(c, a) != unpremultiply_8(c, a)) {
                ADD_FAILURE() << "colour " << c << ", alpha " << a;
                if (++wrong == 10) {
                    return;
                }
            }
        }
    }
}

TEST(FrameFile, SixteenBitMappingsScaleThenUnpremultiply) {
    struct Widen {
        uint32_t v, expected;
    };
    for (const Widen& row : {Widen{0, 0}, Widen{32768, 65535}, Widen{16384, 32768}, Widen{1, 2},
                             Widen{32767, 65533}, Widen{40000, 65535}}) {
        EXPECT_EQ(widen_16(row.v), row.expected) << "v " << row.v;
    }
    struct Row {
        uint32_t c, a, expected;
    };
    const Row rows[] = {
        {0, 0, 0},
        {500, 0, 0},
        {65535, 65535, 65535},
        {1, 3, 21845},         // exactly 21845
        {1, 2, 32768},         // 32767.5 rounds up
        {3, 2, 65535},         // capped
        {30000, 60000, 32768}, // 32767.5
    };
    for (const Row& row : rows) {
        EXPECT_EQ(unpremultiply_16(row.c, row.a), row.expected) << "c " << row.c << " a " << row.a;
    }
}

TEST(FrameFile, BackgroundCompositeRule) {
    struct Row {
        uint32_t c, a, bg, expected;
    };
    const Row eight[] = {
        {0, 0, 200, 200},    {100, 128, 255, 227}, // 255 x 127 / 255 -> 127
        {77, 200, 0, 77},    {77, 255, 255, 77},   // over black or opaque: the colour itself
        {250, 10, 255, 255},                       // capped
    };
    for (const Row& row : eight) {
        EXPECT_EQ(over_background_8(row.c, row.a, row.bg), row.expected)
            << "c " << row.c << " a " << row.a << " bg " << row.bg;
    }
    const Row sixteen[] = {
        {0, 0, 65535, 65535},         {1000, 65535, 65535, 1000}, {1234, 5000, 0, 1234},
        {0, 32768, 257 * 100, 12850}, // 25700 x 32767 / 65535 = 12850.3
        {65000, 1000, 65535, 65535},
    };
    for (const Row& row : sixteen) {
        EXPECT_EQ(over_background_16(row.c, row.a, row.bg), row.expected)
            << "c " << row.c << " a " << row.a << " bg " << row.bg;
    }
}

ArgbImage frame8(std::vector<uint8_t> argb, int32_t width) {
    ArgbImage image =
        make_argb_image(width, static_cast<int32_t>(argb.size() / 4) / width, PixelDepth::k8);
    image.samples8 = std::move(argb);
    return image;
}

TEST(FrameFile, EightBitPngHoldsStraightColourAndTheEffectsAlpha) {
    const ArgbImage frame = frame8({255, 10, 20, 30, 128, 64, 0, 128, 0, 0, 0, 0}, 3);
    const StraightImage png = decode_png(encode_frame_file(frame, std::nullopt));
    ASSERT_EQ(png.bits, 8);
    ASSERT_EQ(png.width, 3);
    const std::vector<uint16_t> expected = {10, 20, 30, 255, 128, 0, 255, 128, 0, 0, 0, 0};
    EXPECT_EQ(png.samples, expected);
}

TEST(FrameFile, EightBitPngWithBackgroundIsOpaque) {
    const ArgbImage frame = frame8({255, 10, 20, 30, 128, 64, 0, 128, 0, 0, 0, 0}, 3);
    const StraightImage png = decode_png(encode_frame_file(frame, Rgb8{255, 0, 100}));
    // 128 alpha: 255 x 127 / 255 = 127 under; 100 x 127 / 255 = 49.8 -> 50.
    const std::vector<uint16_t> expected = {10,       20,  30,  255, 64 + 127, 0,
                                            128 + 50, 255, 255, 0,   100,      255};
    EXPECT_EQ(png.samples, expected);
}

TEST(FrameFile, SixteenBitPngScalesTheHostRange) {
    ArgbImage frame = make_argb_image(2, 1, PixelDepth::k16);
    frame.samples16 = {32768, 32768, 16384, 0, 16384, 8192, 1, 16384};
    const StraightImage png = decode_png(encode_frame_file(frame, std::nullopt));
    ASSERT_EQ(png.bits, 16);
    // Pixel 2: alpha 16384 -> 32768; colour 8192 -> 16384 -> 32768 after unpremultiplying,
    // 1 -> 2 -> 4, 16384 -> 32768 -> 65535.
    const std::vector<uint16_t> expected = {65535, 32768, 0, 65535, 32768, 4, 65535, 32768};
    EXPECT_EQ(png.samples, expected);

    const StraightImage over = decode_png(encode_frame_file(frame, Rgb8{0, 0, 0}));
    const std::vector<uint16_t> premultiplied = {65535, 32768, 0, 65535, 16384, 2, 32768, 65535};
    EXPECT_EQ(over.samples, premultiplied);
}

TEST(FrameFile, PngRoundTripsEveryValue) {
    for (const int32_t bits : {8, 16}) {
        StraightImage image = make_straight_image(256, 3, bits);
        for (size_t i = 0; i < image.samples.size(); ++i) {
            image.samples[i] =
                static_cast<uint16_t>(bits == 8 ? i % 256 : (i * 257 + i / 7) % 65536);
        }
        const StraightImage back = decode_png(encode_png(image));
        EXPECT_EQ(back.bits, bits);
        EXPECT_EQ(back.width, image.width);
        EXPECT_EQ(back.height, image.height);
        EXPECT_EQ(back.samples, image.samples) << bits << " bits";
        EXPECT_EQ(encode_png(image), encode_png(back)) << "encoding is deterministic";
    }
}

TEST(FrameFile, ExrKeepsPremultipliedFloatsBitForBit) {
    ArgbImage frame = make_argb_image(3, 2, PixelDepth::k32);
    const float values[] = {0.0f,      1.0f, 0.5f,  0.25f, 0.3f,  0.1f, 0.2f,  0.05f,
                            1.0f,      2.5f, -0.5f, 1e-8f, 0.75f, 0.7f, 0.01f, 0.0f,
                            0.123456f, 0.1f, 0.02f, 0.03f, 0.0f,  0.0f, 0.0f,  0.0f};
    std::copy(std::begin(values), std::end(values), frame.samples32.begin());
    const std::vector<uint8_t> bytes = encode_frame_file(frame, std::nullopt);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 0x76); // OpenEXR magic 20000630
    EXPECT_EQ(bytes[1], 0x2f);
    const ArgbImage back = decode_exr(bytes);
    EXPECT_EQ(back.width, 3);
    EXPECT_EQ(back.height, 2);
    EXPECT_EQ(back.samples32, frame.samples32);
    EXPECT_EQ(encode_frame_file(frame, std::nullopt), bytes) << "encoding is deterministic";
}

TEST(FrameFile, ExrWithBackgroundCompositesInFloat) {
    ArgbImage frame = make_argb_image(1, 1, PixelDepth::k32);
    frame.samples32 = {0.25f, 0.2f, 0.0f, 0.1f};
    const ArgbImage back = decode_exr(encode_frame_file(frame, Rgb8{255, 51, 0}));
    EXPECT_EQ(back.samples32[0], 1.0f);
    EXPECT_EQ(back.samples32[1], 0.2f + 1.0f * 0.75f);
    EXPECT_EQ(back.samples32[2], 0.0f + 51.0f / 255.0f * 0.75f);
    EXPECT_EQ(back.samples32[3], 0.1f);
}

// ---- Decoding the PNG variants a user may hand in ------------------------------

struct PngRecipe {
    uint32_t width = 1;
    uint32_t height = 1;
    int bits = 8;
    int color_type = PNG_COLOR_TYPE_RGB_ALPHA;
    bool interlaced = false;
    std::vector<std::vector<uint8_t>> rows; // as stored: big-endian, packed
    std::vector<png_color> palette;
    std::vector<uint8_t> trns_alpha; // palette transparency
    bool trns_color = false;
    png_color_16 key{};
};

void append(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

std::vector<uint8_t> write_png(const PngRecipe& recipe) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows;
    for (const auto& row : recipe.rows) {
        rows.push_back(const_cast<png_bytep>(row.data()));
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write the test image";
        return {};
    }
    png_set_write_fn(png, &out, append, nullptr);
    png_set_IHDR(png, info, recipe.width, recipe.height, recipe.bits, recipe.color_type,
                 recipe.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!recipe.palette.empty()) {
        png_set_PLTE(png, info, recipe.palette.data(), static_cast<int>(recipe.palette.size()));
    }
    if (!recipe.trns_alpha.empty() || recipe.trns_color) {
        png_set_tRNS(png, info, recipe.trns_alpha.empty() ? nullptr : recipe.trns_alpha.data(),
                     static_cast<int>(recipe.trns_alpha.size()),
                     recipe.trns_color ? &recipe.key : nullptr);
    }
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

TEST(FrameFile, OnlyWholeFilesCountAsWritten) {
    const testing_support::TempDir dir;
    for (const PixelDepth depth : {PixelDepth::k8, PixelDepth::k16, PixelDepth::k32}) {
        // Tall enough for several OpenEXR chunks of 16 lines.
        ArgbImage frame = make_argb_image(37, 50, depth);
        for (size_t i = 0; i < frame.samples8.size(); ++i) {
            frame.samples8[i] = static_cast<uint8_t>(i * 7);
        }
        for (size_t i = 0; i < frame.samples16.size(); ++i) {
            frame.samples16[i] = static_cast<uint16_t>(i * 131 % 32769);
        }
        for (size_t i = 0; i < frame.samples32.size(); ++i) {
            frame.samples32[i] = static_cast<float>(i % 97) / 96.0f;
        }
        const std::vector<uint8_t> bytes = encode_frame_file(frame, std::nullopt);
        const std::filesystem::path path = dir / frame_file_name(0, depth);
        testing_support::write_bytes(path, bytes);
        EXPECT_TRUE(frame_file_is_whole(path, depth)) << static_cast<int>(depth);

        // Cut anywhere (the header, the offset table, the middle, the last
        // byte) or with bytes after the end: not whole.
        for (const size_t keep : {size_t{0}, size_t{1}, size_t{8}, size_t{40}, size_t{340},
                                  bytes.size() / 2, bytes.size() - 12, bytes.size() - 1}) {
            testing_support::write_bytes(
                path,
                std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(keep)));
            EXPECT_FALSE(frame_file_is_whole(path, depth))
                << static_cast<int>(depth) << ": " << keep << " of " << bytes.size();
        }
        std::vector<uint8_t> longer = bytes;
        longer.push_back(0);
        testing_support::write_bytes(path, longer);
        EXPECT_FALSE(frame_file_is_whole(path, depth)) << static_cast<int>(depth);
    }
    // The other kind of file, a folder, nothing.
    testing_support::write_bytes(dir / "a.png",
                                 encode_frame_file(make_argb_image(2, 2, PixelDepth::k32), {}));
    EXPECT_FALSE(frame_file_is_whole(dir / "a.png", PixelDepth::k8));
    testing_support::write_bytes(dir / "a.exr",
                                 encode_frame_file(make_argb_image(2, 2, PixelDepth::k8), {}));
    EXPECT_FALSE(frame_file_is_whole(dir / "a.exr", PixelDepth::k32));
    std::filesystem::create_directory(dir / "folder.png");
    EXPECT_FALSE(frame_file_is_whole(dir / "folder.png", PixelDepth::k8));
    EXPECT_FALSE(frame_file_is_whole(dir / "absent.png", PixelDepth::k8));
}

TEST(PngDecode, ExpandsEveryColourTypeToStraightRgba) {
    struct Row {
        const char* name;
        PngRecipe recipe;
        int32_t bits;
        std::vector<uint16_t> samples;
    };
    std::vector<Row> rows;
    {
        PngRecipe s; // 2-bit palette, entry 1 half transparent, entry 2 without tRNS entry
        s.width = 3;
        s.bits = 2;
        s.color_type = PNG_COLOR_TYPE_PALETTE;
        s.palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
        s.trns_alpha = {255, 128};
        s.rows = {{0b00011000}}; // indices 0, 1, 2
        rows.push_back({"palette", s, 8, {10, 20, 30, 255, 40, 50, 60, 128, 70, 80, 90, 255}});
    }
    {
        PngRecipe s; // 1-bit grey scales to 0 and 255
        s.width = 2;
        s.bits = 1;
        s.color_type = PNG_COLOR_TYPE_GRAY;
        s.rows = {{0b10000000}};
        rows.push_back({"grey 1", s, 8, {255, 255, 255, 255, 0, 0, 0, 255}});
    }
    {
        PngRecipe s; // 16-bit grey with alpha stays 16-bit
        s.bits = 16;
        s.color_type = PNG_COLOR_TYPE_GRAY_ALPHA;
        s.rows = {{0x12, 0x34, 0x80, 0x00}};
        rows.push_back({"grey alpha 16", s, 16, {0x1234, 0x1234, 0x1234, 0x8000}});
    }
    {
        PngRecipe s; // 16-bit RGB gains an opaque alpha
        s.bits = 16;
        s.color_type = PNG_COLOR_TYPE_RGB;
        s.rows = {{0x00, 0x01, 0xFF, 0xFE, 0x80, 0x00}};
        rows.push_back({"rgb 16", s, 16, {1, 0xFFFE, 0x8000, 0xFFFF}});
    }
    {
        PngRecipe s; // 8-bit RGB with a colour key
        s.width = 2;
        s.color_type = PNG_COLOR_TYPE_RGB;
        s.trns_color = true;
        s.key.red = 1;
        s.key.green = 2;
        s.key.blue = 3;
        s.rows = {{1, 2, 3, 4, 5, 6}};
        rows.push_back({"rgb key", s, 8, {1, 2, 3, 0, 4, 5, 6, 255}});
    }
    {
        PngRecipe s; // Adam7 interlaced RGBA reads like the plain image
        s.width = 3;
        s.height = 3;
        s.interlaced = true;
        std::vector<uint16_t> expected;
        for (uint8_t y = 0; y < 3; ++y) {
            std::vector<uint8_t> row;
            for (uint8_t x = 0; x < 3; ++x) {
                for (uint8_t c = 0; c < 4; ++c) {
                    const uint8_t v = static_cast<uint8_t>(y * 40 + x * 10 + c);
                    row.push_back(v);
                    expected.push_back(v);
                }
            }
            s.rows.push_back(row);
        }
        rows.push_back({"interlaced", s, 8, expected});
    }
    for (const Row& row : rows) {
        const StraightImage image = decode_png(write_png(row.recipe));
        EXPECT_EQ(image.bits, row.bits) << row.name;
        EXPECT_EQ(image.width, static_cast<int32_t>(row.recipe.width)) << row.name;
        EXPECT_EQ(image.samples, row.samples) << row.name;
    }
}

TEST(PngDecode, RefusesBrokenFiles) {
    StraightImage image = make_straight_image(4, 4, 8);
    const std::vector<uint8_t> good = encode_png(image);
    const std::vector<uint8_t> truncated(good.begin(),
                                         good.begin() + static_cast<ptrdiff_t>(good.size() / 2));
    std::vector<uint8_t> corrupt = good;
    corrupt[20] ^= 0xFF; // inside the header chunk: its checksum fails
    const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
    for (const std::vector<uint8_t>* bytes : {&truncated, &std::as_const(corrupt), &text}) {
        EXPECT_THROW(decode_png(*bytes), std::runtime_error);
    }
    EXPECT_THROW(decode_png({}), std::runtime_error);
}

TEST(PngDecode, RefusesImagesBeyondTheLayerLimit) {
    PngRecipe s;
    s.width = 30001;
    s.color_type = PNG_COLOR_TYPE_GRAY;
    s.rows = {std::vector<uint8_t>(30001, 0)};
    EXPECT_THROW(decode_png(write_png(s)), std::runtime_error);
}

} // namespace
} // namespace pointillo
