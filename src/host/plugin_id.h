#pragma once

#include "host/ae_sdk.h"

namespace pointillo {

// The id the host gave the effect at global set-up, 0 until then (and for good
// when the host offers no utility suite). Written once, before any other
// command, and read by every AEGP call afterwards; relaxed access is enough.
AEGP_PluginID aegp_plugin_id();
void set_aegp_plugin_id(AEGP_PluginID id);

} // namespace pointillo
