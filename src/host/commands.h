#pragma once

#include "host/ae_sdk.h"

namespace pointillo {

// The command switch behind EffectMain. Handled commands: about, global
// set-up and set-down, parameter set-up, the two parameter-UI commands, smart
// pre-render and smart render. A handled command that arrives without its
// PF_InData or PF_OutData (or, where it needs one, its extra record) returns
// PF_Err_INTERNAL_STRUCT_DAMAGED; any other selector touches nothing and
// returns PF_Err_NONE. Failures are raised; the export translates them.
PF_Err run_command(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                   PF_LayerDef* output, void* extra);

// The about text: release, one line on what the effect does, the support
// address, separated by carriage returns, no line break at the end.
const char* about_text();

} // namespace pointillo
