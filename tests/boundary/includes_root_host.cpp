// Compiled as a renderer file: must fail, because the repository root is not
// an include root either.
#include "src/host/ae_sdk.h"
