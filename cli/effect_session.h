#pragma once

// The emulated host behind effect_bridge.h. The bridge keeps one session per
// process, made on first use: the module loaded into a hostsim::Host,
// globally set up, and one effect instance with its parameters registered.
// The renderer itself needs none of this; tests reach the host and the
// instance through it to read what the bridge set, to fail host calls and to
// check that every checkout was given back.

#include "hostsim/host.h"
#include "hostsim/instance.h"

#include <string>

namespace pointillo {

// The module file the session loads: $POINTILLO_MODULE when set, else
// Pointillo.so in the folder of the running program.
std::string effect_module_path();

// The session's host and instance (made on first use; std::runtime_error when
// the module cannot be loaded or set up).
hostsim::Host& effect_session_host();
hostsim::Instance& effect_session_instance();

} // namespace pointillo
