#pragma once

// The studio's scene as the renderer would render it: the renderer's own
// scene reader and layer rules, the core driven directly as the emulated host
// drives it through the module, and frames returned as the renderer's 8-bit
// PNG files hold them. The page hands over what a browser has instead of
// FreeType and libpng: text layers it drew and PNG samples it decoded.

#include "cli/effect/effect_bridge.h"
#include "cli/scene/prepared_scene.h"
#include "cli/scene/scene.h"
#include "cli/scene/scene_reader.h"
#include "common/cancel.h"
#include "draw/canvas.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pointillo::studio {

// The effect's parameter list as the module registers it.
const std::vector<EffectParam>& effect_params();

// The same as JSON for the page: one object a row, in registration order.
std::string params_json();

// A scene read from JSON, with each source's layer still to come.
// A source layer of the scene before with its pixels.
struct KeptLayer {
    SourceLayer layer;
    ArgbImage pixels;
};

struct StagedScene {
    Scene scene;
    std::array<std::optional<StraightImage>, kSourceSlotCount> layers;
    // Layers taken over from the scene before, already premultiplied.
    std::array<std::optional<KeptLayer>, kSourceSlotCount> kept;
};

// The scene's fields as the page shows them, as JSON.
std::string scene_json(const Scene& scene);

// What the studio's WebAssembly memory can hold, less room for the page's
// own buffers.
inline constexpr uint64_t kMemoryBudget = (uint64_t{2} << 30) - (uint64_t{192} << 20);

// Throws InputError when the scene's layers and one frame of it would take
// more than kMemoryBudget: text layers are the comp's size, image layers
// `image_pixels` (0 for an image not yet read).
void check_memory(const Scene& scene,
                  const std::array<uint64_t, kSourceSlotCount>& image_pixels = {});

// A scene ready to render: layers premultiplied at depth 8, at full size and
// at the last downsample asked for.
struct StudioScene {
    Scene scene;
    PreparedScene prepared; // sources at full size
    std::vector<std::string> warnings;
    int32_t cached_downsample = 0;
    std::array<std::optional<ArgbImage>, kSourceSlotCount> downsampled;
    Canvas canvas;
};

// Checks that every source of the staged scene has its layer and makes the
// scene renderable. Throws InputError naming the source that lacks one.
StudioScene commit_scene(StagedScene staged);

// The renderer's one-line timing summary, without its "pointillo: timing: "
// prefix.
std::string timing_line(const StudioScene& scene);

// Frame `frame` at the scene's downsample times `preview` (their product at
// most 8): straight red, green, blue, alpha bytes by the renderer's 8-bit
// file rule, over the scene's background when it has one.
struct StudioFrame {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgba;
};
// `cancel` is polled as the module's render polls the host's abort check.
void render_studio_frame(StudioScene& scene, int32_t frame, int32_t preview, StudioFrame& out,
                         const CancelCheck& cancel = {});

} // namespace pointillo::studio
