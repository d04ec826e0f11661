#include "host/source_slots.h"

namespace pointillo {

// Not written yet: the command succeeds and changes nothing.
void update_source_slots(PF_InData* /*in_data*/, PF_OutData* /*out_data*/,
                         PF_ParamDef* /*params*/[], PF_ParamIndex /*changed*/) {}

} // namespace pointillo
