#include "frame/pre_render.h"

namespace pointillo {

// Not written yet: the command succeeds and changes nothing.
void smart_pre_render(PF_InData* /*in_data*/, PF_PreRenderExtra* /*extra*/) {}

} // namespace pointillo
