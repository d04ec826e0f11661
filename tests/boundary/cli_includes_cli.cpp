// Compiled as a renderer file: must succeed.
#include "cli/scene/prepared_scene.h"
