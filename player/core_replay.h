#pragma once

// Plays a replay bundle through the core directly, as the frei0r plug-ins
// drive it: the bundle's recorded parameter values and layers stand in for
// the host, with no module and no emulated host. A frame's bytes are those
// the module renders in the emulated host from the same bundle.

#include "hostsim/replay/bundle.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pointillo::player {

// One rendered frame: the output without row padding (alpha, red, green,
// blue at the bundle's depth, little-endian).
struct PlayedFrame {
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 8;
    std::vector<std::byte> bytes;
};

// What a build of the player can hold. A build with 32-bit sizes
// (WebAssembly) has one address space of 4 GiB for everything a frame
// needs, and refuses bundles beyond its limits; a 64-bit build refuses
// nothing the core itself does not.
struct PlayerLimits {
    uint64_t output_pixels = 0; // largest output of a frame, 0 for no limit
    uint64_t layer_bytes = 0;   // largest total of the bundle's layer files, 0 for no limit
};
PlayerLimits player_limits();

// Why this build cannot play the bundle, or "" when it can: its layers beyond
// the limits, or its output at the bundle's size and downsample.
std::string beyond_limits(const hostsim::Replay& replay, const PlayerLimits& limits);

// The core's list of parameters is the bundle's (count and kinds), or
// std::runtime_error naming the first that is not.
void check_params(const hostsim::Replay& replay);

// Renders frame number `frame` (whose time must fit a host time). Throws
// what the core throws (std::runtime_error for an output beyond the core's
// 64 megapixels, std::bad_alloc for memory).
PlayedFrame play_frame(const hostsim::Replay& replay, A_long frame);

} // namespace pointillo::player
