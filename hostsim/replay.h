#pragma once

// Replay bundles (hostsim/replay/bundle.h) and the emulated host: what a host
// and an instance hold, captured into a bundle, and a bundle given to a fresh
// host and instance, frame by frame.

#include "host/ae_sdk.h"
#include "hostsim/frame.h"
#include "hostsim/host.h"
#include "hostsim/instance.h"
#include "hostsim/replay/bundle.h"

#include <filesystem>
#include <vector>

namespace hostsim {

// What `host` and `instance` hold for frames rendered with `comp`'s size,
// time base, depth and downsample (its `time` is not used): every parameter,
// and every layer a layer parameter refers to at any time (ids the host does
// not know are left out; they render as no layer), its pixels produced now.
// std::runtime_error for a layer that has no pixels to give.
Replay capture_replay(Host& host, const Instance& instance, const FrameCall& comp,
                      std::vector<A_long> frames);

// capture_replay, then save_replay.
void save_replay(const std::filesystem::path& dir, Host& host, const Instance& instance,
                 const FrameCall& comp, std::vector<A_long> frames);

// Gives `instance` (whose PF_Cmd_PARAMS_SETUP has run) the replay's values
// and keyframes, and adds its layers to `host` with their pixels; layer ids
// are renumbered if the host already has layers. std::runtime_error when the
// instance's parameter list is not the bundle's (count or kinds).
void apply_replay(Host& host, Instance& instance, const Replay& replay);

// The call that renders frame number `frame`. std::invalid_argument when its time
// does not fit a host time.
FrameCall replay_call(const Replay& replay, A_long frame);

} // namespace hostsim
