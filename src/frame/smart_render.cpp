#include "frame/smart_render.h"

namespace pointillo {

// Not written yet: the command succeeds and changes nothing.
void smart_render(PF_InData* /*in_data*/, PF_SmartRenderExtra* /*extra*/) {}

} // namespace pointillo
