#pragma once

#include "cli/effect/effect_bridge.h"

namespace pointillo::testing_support {

// The test program's effect session, shared by its tests: made on first use
// and destroyed after the last test, before the program exits (a static
// session would be destroyed after the module's own static objects).
EffectSession& test_session();

} // namespace pointillo::testing_support
