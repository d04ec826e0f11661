// Compiled as a core file: must fail, because the core cannot see the host.
#include "host/ae_sdk.h"
