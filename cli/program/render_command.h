#pragma once

#include "cli/program/app.h"
#include "cli/program/options.h"

namespace pointillo {

// `pointillo render`: checks the options and the scene, then renders a still,
// a folder of frames (and a video from them) or a replay bundle. Returns the
// exit status; failures are thrown (InputError, RenderFailure or another
// exception) for run_app to report.
int run_render(const RenderOptions& o, AppContext& context);

} // namespace pointillo
