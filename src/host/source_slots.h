#pragma once

#include "host/ae_sdk.h"

namespace pointillo {

// The parameter-UI handler: keeps "Text Count" and the visibility of the
// source slots and the two colour parameters in step with the controls.
// `changed` is the changed parameter's index for PF_Cmd_USER_CHANGED_PARAM and
// -1 for PF_Cmd_UPDATE_PARAMS_UI. Failures are raised.
void update_source_slots(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                         PF_ParamIndex changed);

} // namespace pointillo
