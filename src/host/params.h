#pragma once

#include "frame/param_table.h"
#include "host/ae_sdk.h"

namespace pointillo {

// The PF_Cmd_PARAMS_SETUP handler: appends the 75 parameters of kParamTable
// through the host's add_param, in order. Returns the first non-zero add_param
// result at once, without adding the rest or writing num_params; on success
// sets num_params to kParamCount.
PF_Err setup_parameters(PF_InData* in_data, PF_OutData* out_data);

// The definition registered for one table entry, built from all-zero bytes.
// Exposed so that tests can compare what the host received with it.
PF_ParamDef make_param_def(const ParamSpec& spec);

} // namespace pointillo
