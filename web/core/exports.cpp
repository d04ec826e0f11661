// The functions the studio's worker calls. Everything crosses as numbers,
// pointers into the module's memory and NUL-terminated UTF-8; a failure is
// a status of 1 with its text in studio_message().

#include "cli/base/errors.h"
#include "studio_core.h"

#include <cstdlib>
#include <emscripten/emscripten.h>
#include <memory>
#include <new>
#include <string>

using namespace pointillo;
using namespace pointillo::studio;

namespace {

std::string g_message;
std::string g_text;
std::unique_ptr<StagedScene> g_staged;
std::unique_ptr<StudioScene> g_scene;
std::unique_ptr<StudioScene> g_previous; // until the committed scene has rendered once
StudioFrame g_frame;

template <typename Fn> int guarded(Fn&& fn) {
    try {
        fn();
        g_message.clear();
        return 0;
    } catch (const std::bad_alloc&) {
        g_message = "the scene needs more memory than the studio's WebAssembly memory holds (2 "
                    "GiB); make the comp smaller, use fewer or smaller sources, or a downsample";
    } catch (const std::exception& e) {
        g_message = e.what();
    } catch (...) {
        g_message = "internal error";
    }
    return 1;
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE void* studio_alloc(size_t bytes) {
    return std::malloc(bytes);
}

EMSCRIPTEN_KEEPALIVE void studio_free(void* p) {
    std::free(p);
}

EMSCRIPTEN_KEEPALIVE const char* studio_message() {
    return g_message.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* studio_params() {
    g_text = params_json();
    return g_text.c_str();
}

// Reads a scene into the staging area; the current scene stays as it is.
EMSCRIPTEN_KEEPALIVE int studio_stage(const char* text, const char* file) {
    return guarded([&] {
        auto staged = std::make_unique<StagedScene>();
        staged->scene = parse_scene(text, file, {}, effect_params());
        check_memory(staged->scene);
        g_text = scene_json(staged->scene);
        g_staged = std::move(staged);
    });
}

// The staged scene's fields, after studio_stage succeeded.
EMSCRIPTEN_KEEPALIVE const char* studio_staged_json() {
    return g_text.c_str();
}

// Straight samples (red, green, blue, alpha; 8 or 16 bits, held in 16-bit
// words) of source entry `index`, `width` x `height`.
EMSCRIPTEN_KEEPALIVE int studio_stage_layer(int index, int width, int height, int bits,
                                            const uint16_t* samples) {
    return guarded([&] {
        if (!g_staged || index < 0 || index >= kSourceSlotCount) {
            throw std::invalid_argument("no staged scene with a source " + std::to_string(index));
        }
        StraightImage image = make_straight_image(width, height, bits);
        std::copy(samples, samples + image.samples.size(), image.samples.begin());
        g_staged->layers[static_cast<size_t>(index)] = std::move(image);
    });
}

// Takes source entry `from` of the current scene as entry `to` of the staged
// one, for a source whose layer did not change.
EMSCRIPTEN_KEEPALIVE int studio_keep_layer(int from, int to) {
    return guarded([&] {
        if (!g_staged || !g_scene || from < 0 || from >= kSourceSlotCount || to < 0 ||
            to >= kSourceSlotCount || !g_scene->prepared.setup.sources[static_cast<size_t>(from)]) {
            throw std::invalid_argument("no layer to keep");
        }
        // A copy, so that the current scene stays whole if the staged one is
        // never committed.
        g_staged->layers[static_cast<size_t>(to)].reset();
        const auto k = static_cast<size_t>(from);
        g_staged->kept[static_cast<size_t>(to)] =
            KeptLayer{*g_scene->prepared.setup.sources[k], *g_scene->prepared.pixels.layers[k]};
    });
}

EMSCRIPTEN_KEEPALIVE int studio_commit() {
    return guarded([&] {
        if (!g_staged) {
            throw std::invalid_argument("no staged scene");
        }
        auto scene = std::make_unique<StudioScene>(commit_scene(std::move(*g_staged)));
        g_staged.reset();
        g_previous = std::move(g_scene);
        g_scene = std::move(scene);
    });
}

// Back to the scene before the last commit, for a scene that cannot render.
EMSCRIPTEN_KEEPALIVE void studio_rollback() {
    if (g_previous) {
        g_scene = std::move(g_previous);
    }
    g_frame = StudioFrame{};
}

EMSCRIPTEN_KEEPALIVE void studio_drop_previous() {
    g_previous.reset();
}

EMSCRIPTEN_KEEPALIVE void studio_discard() {
    g_staged.reset();
}

EMSCRIPTEN_KEEPALIVE const char* studio_timing() {
    g_text = g_scene ? timing_line(*g_scene) : std::string();
    return g_text.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* studio_warnings() {
    g_text.clear();
    if (g_scene) {
        for (const std::string& w : g_scene->warnings) {
            g_text += w + "\n";
        }
    }
    return g_text.c_str();
}

// Whether the page has asked for a newer frame than the one rendering: it
// writes the number of the frame request it wants into a shared word.
EM_JS(int, studio_superseded, (), {
    var word = Module["cancelWord"];
    return word && Atomics.load(word, 0) != Module["renderGen"] ? 1 : 0;
});

namespace {

bool g_cancelled = false;

bool superseded(void*) {
    g_cancelled = g_cancelled || studio_superseded() != 0;
    return g_cancelled;
}

} // namespace

// Renders frame `frame`; 0 done, 1 failed (studio_message()), 2 given up for
// a newer request when `cancellable`.
EMSCRIPTEN_KEEPALIVE int studio_render(int frame, int preview, int cancellable) {
    g_cancelled = false;
    const int status = guarded([&] {
        if (!g_scene) {
            throw std::invalid_argument("no scene");
        }
        render_studio_frame(*g_scene, frame, preview, g_frame,
                            cancellable != 0 ? CancelCheck{superseded, nullptr} : CancelCheck{});
    });
    return status != 0 && g_cancelled ? 2 : status;
}

EMSCRIPTEN_KEEPALIVE const uint8_t* studio_frame_rgba() {
    return g_frame.rgba.data();
}

EMSCRIPTEN_KEEPALIVE int studio_frame_width() {
    return g_frame.width;
}

EMSCRIPTEN_KEEPALIVE int studio_frame_height() {
    return g_frame.height;
}

} // extern "C"
