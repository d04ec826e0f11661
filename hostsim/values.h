#pragma once

// Parameter values as plain values: what the host keeps for a parameter over
// time and what replay bundles keep in their files; nothing here needs a host.

#include "host/ae_sdk.h"

namespace hostsim {

// A parameter's value as the host keeps it. Float sliders, popups (the
// 1-based item), checkboxes (0 or 1), buttons and layers (the layer id, 0 for
// none) use `number`; colours use `color` (8-bit alpha, red, green, blue).
struct ParamValue {
    double number = 0.0;
    PF_Pixel color{};
};

// A value set at one moment, in seconds.
struct Keyframe {
    double seconds = 0.0;
    ParamValue value;
};

} // namespace hostsim
