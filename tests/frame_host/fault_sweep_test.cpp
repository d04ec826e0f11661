#include "effect_fixture.h"
