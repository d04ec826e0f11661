#pragma once

#include "cli/program/render_plan.h"

#include <ostream>
#include <string>

namespace pointillo {

// Checks the frames folder against this render and brings its record up to
// date (unless `check_only`). A --resume into a folder of another render, or
// onto frames another render left there, is refused unless forced; a forced
// resume adopts the frames it keeps. A render without --resume replaces the
// other render's frames in its range, removing them first so that an
// interrupted render cannot leave them looking like its own; frames outside
// the range stay, marked in the record as another render's.
// `module_version` goes into the record; notes go to `err`.
void settle_frames_folder(const RenderPlan& plan, bool force_resume,
                          const std::string& module_version, std::ostream& err, bool check_only);

} // namespace pointillo
