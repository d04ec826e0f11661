#pragma once

#include "cli/base/image.h"
#include "frame/param_table.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pointillo {

// What kind of control an effect parameter is.
enum class ParamKind { Slider, Popup, Checkbox, Color, Layer, Button, Group, GroupEnd };

struct Rgb8 {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;

    friend bool operator==(const Rgb8&, const Rgb8&) = default;
};

// One value of a scene's parameter track. Sliders use `number` as written or
// interpolated; popups hold their 1-based item in `number`, checkboxes 0 or
// 1; colours use `color` (always opaque).
struct TrackValue {
    double number = 0.0;
    Rgb8 color;

    friend bool operator==(const TrackValue&, const TrackValue&) = default;
};

struct TrackKey {
    double seconds = 0.0;
    TrackValue value;

    friend bool operator==(const TrackKey&, const TrackKey&) = default;
};

// A parameter the scene sets: one key for a constant, otherwise keys in
// strictly increasing time.
struct ParamTrack {
    int32_t index = 0; // position in the effect's parameter list
    ParamKind kind = ParamKind::Slider;
    std::string name;
    std::vector<TrackKey> keys;

    friend bool operator==(const ParamTrack&, const ParamTrack&) = default;
};

// The value of a track at a host time (`current_time` in units of
// `time_scale`). Sliders interpolate linearly in double between the keys
// around t = current_time / time_scale and hold the first and last value
// outside them; the other kinds hold each key's value until the next key.
TrackValue param_value_at(const ParamTrack& track, int32_t current_time, int32_t time_scale);

// A source layer as a checkout reports it: width x height as its reference
// size; its pixels (ScenePixels) are its result and maximum result
// rectangle.
struct SourceLayer {
    int32_t width = 0;  // full-resolution size: the checkout's ref_width
    int32_t height = 0; // and ref_height

    friend bool operator==(const SourceLayer&, const SourceLayer&) = default;
};

// Host time units between frames; frame n is at n x kFrameTimeStep.
constexpr int32_t kFrameTimeStep = 1000;

// What the effect instance is set up from, the sources' pixels apart: equal
// set-ups (and, for a scene built by hand, equal pixels) render alike.
struct SceneSetup {
    // Tells preparations apart: prepare_scene gives each one a number of its
    // own (within the process), so the effect bridge knows a scene it has set
    // up without comparing pixels. 0 for a scene built by hand; such a scene
    // is recognised by its pixels too.
    uint64_t id = 0;
    int32_t width = 0;  // the effect layer (a solid of the comp's size),
    int32_t height = 0; // full-resolution pixels
    int32_t time_scale = 30000;
    int32_t time_step = kFrameTimeStep;
    int32_t frame_count = 0;
    int32_t downsample = 1; // both downsample factors are 1 / downsample
    PixelDepth depth = PixelDepth::k8;
    int32_t text_count = 1; // value for "Text Count"
    // Slot k ("Source k") at [k - 1]; empty slots hold no layer.
    std::array<std::optional<SourceLayer>, kSourceSlotCount> sources;
    std::vector<ParamTrack> params; // sorted by index, at most one per index

    friend bool operator==(const SceneSetup&, const SceneSetup&) = default;
};

// The sources' pixels, slot k at [k - 1] as in SceneSetup::sources: the
// layer downsampled, premultiplied, at the render depth. Large (132 MB for a
// 4K float source), so kept apart from the set-up and handed to the host once.
struct ScenePixels {
    std::array<std::optional<ArgbImage>, kSourceSlotCount> layers;

    friend bool operator==(const ScenePixels&, const ScenePixels&) = default;
};

// Everything a frame render needs, fixed before the first frame and shared
// read-only by all render threads.
struct PreparedScene {
    SceneSetup setup;
    ScenePixels pixels;
};

constexpr int32_t frame_current_time(int32_t frame) {
    return frame * kFrameTimeStep;
}

// The scene's track for a parameter index, or null when it keeps its default.
const ParamTrack* find_track(const SceneSetup& setup, int32_t index);

} // namespace pointillo
