#pragma once

// The suite tables the host offers besides the basic and utility suites.
// Each is a static table of host functions, registered by Host's constructor.

#include "host/ae_sdk.h"

namespace hostsim {

const PF_WorldSuite2* world_suite_table();                    // "PF World Suite" 2
const AEGP_PFInterfaceSuite1* pf_interface_suite_table();     // "AEGP PF Interface Suite" 1
const AEGP_StreamSuite6* stream_suite_table();                // "AEGP Stream Suite" 11
const AEGP_EffectSuite5* effect_suite_table();                // "AEGP Effect Suite" 5
const AEGP_DynamicStreamSuite4* dynamic_stream_suite_table(); // "AEGP Dynamic Stream Suite" 5
const PF_Iterate8Suite2* iterate_suite_table();               // "PF Iterate8 Suite" 2

} // namespace hostsim
