#pragma once

// Helpers for the tests that render through the real module: small scenes
// written as JSON, source images drawn from a 5 x 7 pixel font (so that no
// test depends on the installed fonts' outlines), and the renderer run as
// from the command line.

#include "cli/effect/effect_bridge.h"
#include "cli/frames/png_io.h"
#include "cli/program/app.h"
#include "cli/scene/scene.h"
#include "cli/scene/scene_reader.h"
#include "test_session.h"
#include "test_support.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace pointillo::testing_support {

// Rows of 5 pixels, top first; bit 4 is the leftmost column.
inline const std::map<char, std::array<uint8_t, 7>>& glyphs() {
    static const std::map<char, std::array<uint8_t, 7>> font = {
        {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
        {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
        {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
        {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
        {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
        {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    };
    return font;
}

// A `width` x `height` straight image with `word` in the 5 x 7 font, each
// font pixel a `scale` x `scale` block, letters one font pixel apart, centred;
// ink is `ink` (red, green, blue, alpha at `bits`), the rest transparent.
inline StraightImage word_image(const std::string& word, int32_t width, int32_t height,
                                int32_t scale, int32_t bits, std::array<uint16_t, 4> ink) {
    StraightImage image = make_straight_image(width, height, bits);
    const auto letters = static_cast<int32_t>(word.size());
    const int32_t word_width = (letters * 6 - 1) * scale;
    const int32_t left = (width - word_width) / 2;
    const int32_t top = (height - 7 * scale) / 2;
    for (int32_t i = 0; i < letters; ++i) {
        const std::array<uint8_t, 7>& rows = glyphs().at(word[static_cast<size_t>(i)]);
        for (int32_t y = 0; y < 7 * scale; ++y) {
            for (int32_t x = 0; x < 5 * scale; ++x) {
                if ((rows[static_cast<size_t>(y / scale)] >> (4 - x / scale) & 1) == 0) {
                    continue;
                }
                const int32_t px = left + i * 6 * scale + x;
                const int32_t py = top + y;
                if (px < 0 || py < 0 || px >= width || py >= height) {
                    continue;
                }
                const size_t at = (static_cast<size_t>(py) * static_cast<size_t>(width) +
                                   static_cast<size_t>(px)) *
                                  4;
                for (size_t c = 0; c < 4; ++c) {
                    image.samples[at + c] = ink[c];
                }
            }
        }
    }
    return image;
}

inline void write_word_png(const std::filesystem::path& path, const std::string& word,
                           int32_t width, int32_t height, int32_t scale, int32_t bits,
                           std::array<uint16_t, 4> ink) {
    write_bytes(path, encode_png(word_image(word, width, height, scale, bits, ink)));
}

inline const std::vector<EffectParam>& effect_params() {
    static const std::vector<EffectParam> list = test_session().parameters();
    return list;
}

// A scene from JSON text; image paths are relative to `dir`.
inline Scene scene_from(const std::string& json, const std::filesystem::path& dir) {
    return parse_scene(json, (dir / "scene.json").string(), dir, effect_params());
}

inline PreparedScene prepared_from(const std::string& json, const std::filesystem::path& dir) {
    return prepare_scene(scene_from(json, dir));
}

inline ArgbImage render_frame(const PreparedScene& scene, int32_t frame) {
    const std::atomic<bool> cancel{false};
    return test_session().render_frame(scene, frame, cancel);
}

struct AppRun {
    int status = -1;
    std::string out;
    std::string err;
};

// `pointillo ARGS...` with the real effect.
inline AppRun run_pointillo(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    AppContext context = effect_app_context(test_session());
    context.out = &out;
    context.err = &err;
    if (const char* path = std::getenv("PATH")) {
        context.search_path = path;
    }
    AppRun run;
    run.status = run_app(args, context);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// The standard output of a shell command, or nullopt when it fails.
inline std::optional<std::string> command_output(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    std::string out;
    char buffer[4096];
    for (size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, n);
    }
    return ::pclose(pipe) == 0 ? std::optional<std::string>(out) : std::nullopt;
}

inline bool have_ffmpeg() {
    return command_output("command -v ffmpeg && command -v ffprobe").has_value();
}

inline bool same_image(const ArgbImage& a, const ArgbImage& b) {
    return a.width == b.width && a.height == b.height && a.depth == b.depth &&
           a.samples8 == b.samples8 && a.samples16 == b.samples16 && a.samples32 == b.samples32;
}

// Samples with alpha above zero, for telling an empty frame from a drawn one.
inline int64_t covered_pixels(const ArgbImage& image) {
    int64_t count = 0;
    const size_t pixels = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    for (size_t i = 0; i < pixels; ++i) {
        const bool covered = image.depth == PixelDepth::k8    ? image.samples8[i * 4] > 0
                             : image.depth == PixelDepth::k16 ? image.samples16[i * 4] > 0
                                                              : image.samples32[i * 4] > 0.0f;
        count += covered ? 1 : 0;
    }
    return count;
}

} // namespace pointillo::testing_support
