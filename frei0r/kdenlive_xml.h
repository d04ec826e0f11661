#pragma once

// Kdenlive's description of a plug-in (its effect or transition XML), so that
// the editor shows it as a native effect: the effect's labels, sliders in the
// effect's units over their useful ranges, defaults, the popups' items and a
// line of help each, while the plug-in is handed its doubles in [0, 1]. Made
// from the plug-in's own parameter list.

#include "plugin_params.h"

#include <string>

namespace pointillo::frei0r {

// The file name Kdenlive expects and the folder under its data folder.
const char* kdenlive_file_name(PluginKind kind);
const char* kdenlive_folder(PluginKind kind); // "effects" or "transitions"

// The XML. Leaves out what MLT makes needless: "Time in Milliseconds" (MLT
// passes seconds, the default), the transition's "Duration" (its position
// is keyed over the composition instead) and, in the filter, the additional
// particles, which a filter driven by Progress alone never emits.
std::string kdenlive_description(PluginKind kind);

} // namespace pointillo::frei0r
