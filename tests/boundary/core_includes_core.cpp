// Compiled as a core file: must succeed.
#include "frame/settings.h"
