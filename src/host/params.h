#pragma once

#include "frame/param_table.h"
#include "host/ae_sdk.h"

namespace pointillo {

// The PF_Cmd_PARAMS_SETUP handler: appends the 75 parameters of kParamTable
// through the host's add_param, in order, and sets num_params to
// kParamCount. Raises the first non-zero add_param result as a HostError at
// once, without adding the rest or writing num_params; a host without
// add_param is PF_Err_INVALID_CALLBACK.
void setup_parameters(PF_InData* in_data, PF_OutData* out_data);

// The definition registered for one table entry, built from all-zero bytes.
// Exposed so that tests can compare what the host received with it.
PF_ParamDef make_param_def(const ParamSpec& spec);

} // namespace pointillo
